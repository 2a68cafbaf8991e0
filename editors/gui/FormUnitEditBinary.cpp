#include "FormUnitEditBinary.h"

#include "EditorModal.h"
#include "vzoHexEdit.h"

#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace vt::editors
{

TformEditBinary::TformEditBinary(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditBinary"));
    setWindowTitle(tr("Modify binary data"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    editValue = new QLineEdit(this);
    editValue->setObjectName(QStringLiteral("editValue"));
    editValue->setReadOnly(true);
    editType = new QLineEdit(this);
    editType->setObjectName(QStringLiteral("editType"));
    editType->setReadOnly(true);
    form->addRow(tr("Name of value:"), editValue);
    form->addRow(tr("Type:"), editType);
    layout->addLayout(form);
    layout->addWidget(new QLabel(tr("Value data (hex pairs):"), this));
    hexData = new THexEdit(this);
    hexData->setObjectName(QStringLiteral("hexData"));
    layout->addWidget(hexData, 1);
    lblSize = new QLabel(this);
    lblSize->setObjectName(QStringLiteral("lblSize"));
    layout->addWidget(lblSize);
    connect(hexData, &THexEdit::changed, this, &TformEditBinary::updateSize);
    AddEditorButtons(this, layout);
    resize(560, 380);
}

std::optional<std::vector<uint8_t>> TformEditBinary::ParseHexText(const QString &text)
{
    std::vector<uint8_t> bytes;
    bytes.reserve(size_t(text.size() / 2));
    int high = -1;
    for (QChar c : text) {
        if (c.isSpace())
            continue;
        int v = -1;
        if (c >= u'0' && c <= u'9')
            v = c.unicode() - u'0';
        else if (c >= u'A' && c <= u'F')
            v = c.unicode() - u'A' + 10;
        else if (c >= u'a' && c <= u'f')
            v = c.unicode() - u'a' + 10;
        if (v < 0)
            return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return bytes;
}

QString TformEditBinary::FormatHexText(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(qsizetype(bytes.size()) * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0)
            text += i % 16 == 0 ? u'\n' : u' ';
        text += QLatin1Char(digits[bytes[i] >> 4]);
        text += QLatin1Char(digits[bytes[i] & 15]);
    }
    return text;
}

void TformEditBinary::updateSize()
{
    lblSize->setText(tr("%n byte(s)", nullptr, int(hexData->Size())));
}

int TformEditBinary::EditBinary(const QString &name, const QString &typeName, std::vector<uint8_t> &bytes)
{
    editValue->setText(name);
    editType->setText(typeName);
    // Not copied until the first change: a big value opens at once.
    hexData->SetSharedData(bytes);
    updateSize();
    hexData->setFocus();
    const int result = RunEditorModal(*this);
    if (result == mrOK)
        bytes = hexData->Data();
    hexData->SetData({});
    return result;
}

} // namespace vt::editors
