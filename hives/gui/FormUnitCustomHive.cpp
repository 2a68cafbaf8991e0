#include "FormUnitCustomHive.h"

namespace vt::hives {

TformOpenCustomHive::TformOpenCustomHive(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formOpenCustomHive"));
    setWindowTitle(QStringLiteral("Load custom hive"));
}

} // namespace vt::hives
