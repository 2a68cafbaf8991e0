#include "FormUnitEditType.h"

#include "EditorModal.h"
#include "editors/ValueEditing.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vt::editors
{

TformValueType::TformValueType(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formValueType"));
    setWindowTitle(tr("Change registry value type"));
    auto *layout = new QVBoxLayout(this);
    auto *group = new QGroupBox(tr("Registry Value"), this);
    group->setObjectName(QStringLiteral("gbValue"));
    auto *form = new QFormLayout(group);
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    auto field = [&](const char *name, const QString &label) {
        auto *edit = new QLineEdit(group);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setReadOnly(true);
        form->addRow(label, edit);
        return edit;
    };
    editValue = field("editValue", tr("Name of value:"));
    editData = field("editData", tr("Value data:"));
    editTypeCurrent = field("editTypeCurrent", tr("Current type:"));
    cbTypeNew = new QComboBox(group);
    cbTypeNew->setObjectName(QStringLiteral("cbTypeNew"));
    form->addRow(tr("Change type to:"), cbTypeNew);
    layout->addWidget(group);
    bnOK = AddEditorButtons(this, layout);
    connect(cbTypeNew, &QComboBox::currentIndexChanged, this,
            [this](int index) { bnOK->setEnabled(index >= 0); });
    resize(420, sizeHint().height());
}

bool TformValueType::SelectNewType(const QString &name, const QString &dataText, TRegDataType current,
                                   TRegDataType &newType)
{
    editValue->setText(name);
    // A multi-line text shows on one line.
    QString oneLine = dataText;
    oneLine.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    editData->setText(oneLine);
    editData->setCursorPosition(0);
    editTypeCurrent->setText(QString::fromStdString(DataTypeToName(current)));
    cbTypeNew->clear();
    for (TRegDataType target : AllowedTypeChanges(current))
        cbTypeNew->addItem(QString::fromStdString(DataTypeToName(target)));
    cbTypeNew->setCurrentIndex(-1);
    bnOK->setEnabled(false);
    cbTypeNew->setFocus();
    if (RunEditorModal(*this) != mrOK || cbTypeNew->currentIndex() < 0)
        return false;
    // rdCardinal is named REG_DWORD too: both entries choose rdInteger.
    newType = NameToDataType(cbTypeNew->currentText().toStdString());
    return true;
}

} // namespace vt::editors
