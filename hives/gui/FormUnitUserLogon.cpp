#include "FormUnitUserLogon.h"

namespace vt::hives {

TformUserLogon::TformUserLogon(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formUserLogon"));
    setWindowTitle(QStringLiteral("Additional User Logon"));
}

} // namespace vt::hives
