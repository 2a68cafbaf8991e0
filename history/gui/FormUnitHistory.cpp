#include "FormUnitHistory.h"

namespace vt::history {

TformHistory::TformHistory(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("formHistory"));
}

} // namespace vt::history
