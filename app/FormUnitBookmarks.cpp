#include "FormUnitBookmarks.h"

namespace vt::app {

TformBookmarks::TformBookmarks(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("formBookmarks"));
}

} // namespace vt::app
