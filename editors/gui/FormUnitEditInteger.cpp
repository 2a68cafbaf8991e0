#include "FormUnitEditInteger.h"

#include "EditorModal.h"
#include "editors/ValueEditing.h"
#include "i18n/gui/zoMessageDialogs.h"

#include <QFormLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

#include <charconv>
#include <cstdint>

namespace vt::editors
{

namespace
{
std::string toStd(const QString &text) { return text.toStdString(); }
QString fromStd(const std::string &text) { return QString::fromStdString(text); }
} // namespace

TformEditInteger::TformEditInteger(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formEditInteger"));
    setWindowTitle(tr("Change numeric data"));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    auto field = [&](const char *name, const QString &label) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        form->addRow(label, edit);
        return edit;
    };
    editValue = field("editValue", tr("Name of value:"));
    editValue->setReadOnly(true);
    editDataDecimal = field("editDataDecimal", tr("Value data (decimal):"));
    editDataHex = field("editDataHex", tr("Value data (hex):"));
    editDataBinary = field("editDataBinary", tr("Value data (binary):"));
    for (QLineEdit *edit : {editDataDecimal, editDataHex, editDataBinary})
        edit->installEventFilter(this);
    layout->addLayout(form);
    AddEditorButtons(this, layout);
    resize(520, sizeHint().height());
}

int TformEditInteger::EditInt32(const QString &name, uint32_t &number)
{
    m_is64 = false;
    int64_t n = number;
    const int result = edit(name, n);
    number = uint32_t(uint64_t(n));
    return result;
}

int TformEditInteger::EditInt64(const QString &name, int64_t &number)
{
    m_is64 = true;
    return edit(name, number);
}

int TformEditInteger::edit(const QString &name, int64_t &number)
{
    editValue->setText(name);
    fill(number, nullptr);
    editDataDecimal->selectAll();
    editDataDecimal->setFocus();
    const int result = RunEditorModal(*this);
    number = ReadHexField(toStd(editDataHex->text()), m_is64);
    return result;
}

void TformEditInteger::fill(int64_t number, QLineEdit *except)
{
    if (except != editDataDecimal)
        editDataDecimal->setText(fromStd(DecimalFieldText(number, m_is64)));
    if (except != editDataHex)
        editDataHex->setText(fromStd(HexFieldText(number, m_is64)));
    if (except != editDataBinary)
        editDataBinary->setText(fromStd(BinaryFieldText(number, m_is64)));
}

bool TformEditInteger::keyAllowed(QLineEdit *field, const QString &text) const
{
    if (text.size() != 1)
        return text.isEmpty();
    const QChar c = text[0];
    if (c == u'\b' || c == u'\t' || c == u'\r' || c == u'\n')
        return true;
    if (field == editDataDecimal)
        return c >= u'0' && c <= u'9';
    if (field == editDataHex)
        return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z');
    return c == u'0' || c == u'1';
}

bool TformEditInteger::eventFilter(QObject *watched, QEvent *event)
{
    auto *field = qobject_cast<QLineEdit *>(watched);
    if (!field || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
        return QDialog::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (event->type() == QEvent::KeyPress) {
        // Characters the field cannot hold are dropped; editing and moving
        // keys and the shortcuts (copy, paste) pass.
        const bool shortcut = key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier);
        const bool editingKey = key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace;
        const bool printable = !key->text().isEmpty() && key->text()[0].isPrint();
        return !shortcut && !editingKey && printable && !keyAllowed(field, key->text());
    }
    // Key release: the other two fields follow this one, where it reads.
    const std::string text = toStd(field->text());
    int64_t number = 0;
    bool reads = true;
    if (field == editDataDecimal)
        reads = ReadDecimalField(text, m_is64, number);
    else if (field == editDataHex)
        number = ReadHexField(text, m_is64);
    else
        reads = ReadBinaryField(text, m_is64, number);
    if (reads)
        fill(number, field);
    return false;
}

QString TformEditInteger::Disagreement() const
{
    // A decimal number too big for the value is refused, not cut to its low
    // bits behind the user's back.
    {
        const std::string text = toStd(editDataDecimal->text());
        uint64_t value = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        const uint64_t largest = m_is64 ? uint64_t(INT64_MAX) : uint64_t(UINT32_MAX);
        if (!text.empty() && ptr == text.data() + text.size() &&
            (ec == std::errc::result_out_of_range || (ec == std::errc() && value > largest)))
            return tr("The decimal number %1 does not fit in %2 bits: the largest is %3.")
                .arg(editDataDecimal->text())
                .arg(m_is64 ? 64 : 32)
                .arg(largest);
    }
    const int64_t number = ReadHexField(toStd(editDataHex->text()), m_is64);
    int64_t read = 0;
    const QString hex = QStringLiteral("0x") + fromStd(HexFieldText(number, m_is64));
    if (!ReadDecimalField(toStd(editDataDecimal->text()), m_is64, read) || read != number)
        return tr("The decimal field does not show the number of the hex field (%1).").arg(hex);
    if (!ReadBinaryField(toStd(editDataBinary->text()), m_is64, read) || read != number)
        return tr("The binary field does not show the number of the hex field (%1).").arg(hex);
    return {};
}

void TformEditInteger::accept()
{
    // What OK writes is what every field shows, or nothing.
    const QString reason = Disagreement();
    if (!reason.isEmpty()) {
        vt::i18n::ShowMessageDialog(reason + QStringLiteral("\r\n") +
                                        tr("Correct it, or type the number again in any field."),
                                    vt::i18n::TMsgDlgType::Warning, vt::i18n::mbOK);
        return;
    }
    QDialog::accept();
}

} // namespace vt::editors
