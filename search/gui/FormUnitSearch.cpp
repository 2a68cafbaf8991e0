#include "FormUnitSearch.h"

namespace vt::search {

TformSearch::TformSearch(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("formSearch"));
}

} // namespace vt::search
