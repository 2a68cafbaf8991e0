#include "FormUnitRemoteConnect.h"

namespace vt::hives {

TformRemoteConnect::TformRemoteConnect(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formRemoteConnect"));
    setWindowTitle(QStringLiteral("Connect to remote registry"));
}

} // namespace vt::hives
