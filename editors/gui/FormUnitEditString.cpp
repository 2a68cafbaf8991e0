#include "FormUnitEditString.h"

namespace vt::editors {

TformEditString::TformEditString(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditString"));
}

} // namespace vt::editors
