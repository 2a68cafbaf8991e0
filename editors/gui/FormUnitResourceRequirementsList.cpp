#include "FormUnitResourceRequirementsList.h"

namespace vt::editors {

TformEditResourceRequirementsList::TformEditResourceRequirementsList(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditResourceRequirementsList"));
    setWindowTitle(QStringLiteral("Display Resource Requirements List"));
}

} // namespace vt::editors
