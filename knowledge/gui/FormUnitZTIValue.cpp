#include "FormUnitZTIValue.h"

namespace vt::knowledge {

TformOpenZTIValue::TformOpenZTIValue(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formOpenZTIValue"));
    setWindowTitle(QStringLiteral("Create OpenZTI for registry value"));
}

} // namespace vt::knowledge
