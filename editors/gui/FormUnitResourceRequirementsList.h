#pragma once
// "Display Resource Requirements List": a REG_RESOURCE_REQUIREMENTS_LIST
// value's resource descriptors, read-only.

#include <QDialog>

#include <cstddef>
#include <cstdint>

class QLabel;
class QTreeWidget;

namespace vt::editors
{

class TformEditResourceRequirementsList : public QDialog
{
    Q_OBJECT
public:
    explicit TformEditResourceRequirementsList(QWidget *parent = nullptr);

    // Clears and fills the list; data that does not decode leaves it empty
    // and says so in lblMalformed. The caller shows the window.
    void ShowRequirements(const uint8_t *data, size_t size);

    QLabel *lblInterfaceType = nullptr;
    QLabel *lblBusNumber = nullptr;
    QLabel *lblSlotNumber = nullptr;
    QTreeWidget *lvList = nullptr;
    QLabel *lblMalformed = nullptr;
};

} // namespace vt::editors
