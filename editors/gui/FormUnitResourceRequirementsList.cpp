#include "FormUnitResourceRequirementsList.h"

#include "EditorModal.h"
#include "editors/ResourceRequirements.h"

#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vt::editors
{

TformEditResourceRequirementsList::TformEditResourceRequirementsList(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditResourceRequirementsList"));
    setWindowTitle(tr("Display Resource Requirements List"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    auto label = [&](const char *name, const QString &caption) {
        // The list's header fields are not decoded.
        auto *data = new QLabel(QStringLiteral("?"), this);
        data->setObjectName(QString::fromLatin1(name));
        form->addRow(caption, data);
        return data;
    };
    lblInterfaceType = label("lblInterfaceType", tr("Interface type:"));
    lblBusNumber = label("lblBusNumber", tr("Bus number:"));
    lblSlotNumber = label("lblSlotNumber", tr("Slot number:"));
    layout->addLayout(form);
    lvList = new QTreeWidget(this);
    lvList->setObjectName(QStringLiteral("lvList"));
    lvList->setRootIsDecorated(false);
    lvList->setUniformRowHeights(true);
    lvList->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvList->setHeaderLabels(
        {tr("Type"), tr("Minimum Address"), tr("Maximum Address"), tr("Length"), tr("Align"), tr("Options")});
    lvList->headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    lvList->headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    lvList->header()->setStretchLastSection(true);
    layout->addWidget(lvList, 1);
    lblMalformed = new QLabel(this);
    lblMalformed->setObjectName(QStringLiteral("lblMalformed"));
    lblMalformed->hide();
    layout->addWidget(lblMalformed);
    AddEditorButtons(this, layout);
    resize(600, 340);
}

void TformEditResourceRequirementsList::ShowRequirements(const uint8_t *data, size_t size)
{
    lvList->clear();
    std::vector<TResourceRequirement> rows;
    const bool decoded = DecodeResourceRequirements(data, size, rows);
    QList<QTreeWidgetItem *> items;
    for (const TResourceRequirement &r : rows) {
        auto *item = new QTreeWidgetItem(QStringList{QString::fromStdString(r.type), QString::fromStdString(r.minimum),
                                                     QString::fromStdString(r.maximum), QString::fromStdString(r.length),
                                                     QString::fromStdString(r.align), QString::fromStdString(r.options)});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        items.append(item);
    }
    lvList->addTopLevelItems(items);
    for (int c = 0; c < lvList->columnCount() - 1; ++c)
        lvList->resizeColumnToContents(c);
    lblMalformed->setText(decoded ? QString()
                                  : tr("The data is not a single resource requirements list; it is shown only in "
                                       "the hex view."));
    lblMalformed->setVisible(!decoded);
}

} // namespace vt::editors
