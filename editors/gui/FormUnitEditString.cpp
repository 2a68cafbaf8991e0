#include "FormUnitEditString.h"

#include "EditorModal.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QVBoxLayout>

#include <limits>

namespace vt::editors
{

TformEditString::TformEditString(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditString"));
    setWindowTitle(tr("Change string data"));
    auto *layout = new QVBoxLayout(this);
    auto *group = new QGroupBox(tr("Registry Value"), this);
    group->setObjectName(QStringLiteral("gbValue"));
    auto *form = new QFormLayout(group);
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    editValue = new QLineEdit(group);
    editValue->setObjectName(QStringLiteral("editValue"));
    editValue->setReadOnly(true);
    editData = new QLineEdit(group);
    editData->setObjectName(QStringLiteral("editData"));
    // Strings are as long as the registry lets them be.
    editData->setMaxLength(std::numeric_limits<int>::max());
    form->addRow(tr("Name of value:"), editValue);
    form->addRow(tr("Value data:"), editData);
    layout->addWidget(group);
    AddEditorButtons(this, layout);
    resize(420, sizeHint().height());
}

int TformEditString::EditString(const QString &name, QString &text)
{
    editValue->setText(name);
    editData->setText(text);
    editData->selectAll();
    editData->setFocus();
    const int result = RunEditorModal(*this);
    text = editData->text();
    return result;
}

} // namespace vt::editors
