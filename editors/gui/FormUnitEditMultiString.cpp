#include "FormUnitEditMultiString.h"

namespace vt::editors {

TformEditMultiString::TformEditMultiString(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditMultiString"));
}

} // namespace vt::editors
