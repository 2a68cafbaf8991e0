#include "FormUnitEditType.h"

namespace vt::editors {

TformValueType::TformValueType(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formValueType"));
}

} // namespace vt::editors
