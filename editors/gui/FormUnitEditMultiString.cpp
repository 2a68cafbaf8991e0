#include "FormUnitEditMultiString.h"

#include "EditorModal.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace vt::editors
{

TformEditMultiString::TformEditMultiString(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditMultiString"));
    setWindowTitle(tr("Change multi-string value"));
    auto *layout = new QVBoxLayout(this);
    auto *nameLabel = new QLabel(tr("Name of value:"), this);
    editValue = new QLineEdit(this);
    editValue->setObjectName(QStringLiteral("editValue"));
    editValue->setReadOnly(true);
    nameLabel->setBuddy(editValue);
    auto *dataLabel = new QLabel(tr("Value data:"), this);
    memoData = new QPlainTextEdit(this);
    memoData->setObjectName(QStringLiteral("memoData"));
    memoData->setLineWrapMode(QPlainTextEdit::NoWrap);
    memoData->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoData->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memoData->setTabChangesFocus(true);
    dataLabel->setBuddy(memoData);
    layout->addWidget(nameLabel);
    layout->addWidget(editValue);
    layout->addWidget(dataLabel);
    layout->addWidget(memoData, 1);
    AddEditorButtons(this, layout);
    resize(440, 360);
}

int TformEditMultiString::EditMultiString(const QString &name, QString &text)
{
    editValue->setText(name);
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    memoData->setPlainText(lines.join(QLatin1Char('\n')));
    memoData->setFocus();
    const int result = RunEditorModal(*this);
    lines = memoData->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    text.clear();
    for (const QString &line : lines)
        text += line + QStringLiteral("\r\n");
    return result;
}

} // namespace vt::editors
