#include "FormUnitEditInteger.h"

namespace vt::editors {

TformEditInteger::TformEditInteger(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditInteger"));
}

} // namespace vt::editors
