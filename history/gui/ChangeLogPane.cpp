#include "history/gui/ChangeLogPane.h"

#include <Qsci/qscilexerproperties.h>
#include <Qsci/qsciscintilla.h>

#include <QFont>
#include <QFontDatabase>

namespace vt::history
{

QsciScintilla *CreateChangeLogPane(QWidget *parent)
{
    auto *pane = new QsciScintilla(parent);
    pane->setUtf8(true);
    pane->setEolMode(QsciScintilla::EolUnix);
    pane->setWrapMode(QsciScintilla::WrapNone);
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    if (!QFontInfo(font).fixedPitch())
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    auto *lexer = new QsciLexerProperties(pane);
    lexer->setDefaultFont(font);
    lexer->setFont(font);
    pane->setLexer(lexer);
    pane->setMarginType(0, QsciScintilla::NumberMargin);
    pane->setMarginLineNumbers(0, true);
    pane->setMarginWidth(0, QStringLiteral("000000"));
    pane->setMarginsFont(font);
    pane->setReadOnly(true);
    return pane;
}

std::vector<std::string> ChangeLogLines(const QsciScintilla *pane)
{
    std::vector<std::string> lines;
    const int length = pane->length();
    if (length == 0)
        return lines;
    const QByteArray bytes = pane->bytes(0, length);
    // bytes() may hand back a terminating zero.
    qsizetype end = bytes.size();
    while (end > 0 && bytes[end - 1] == '\0')
        --end;
    qsizetype start = 0;
    for (;;) {
        const qsizetype nl = bytes.indexOf('\n', start);
        if (nl < 0 || nl >= end) {
            lines.emplace_back(bytes.constData() + start, size_t(end - start));
            return lines;
        }
        lines.emplace_back(bytes.constData() + start, size_t(nl - start));
        start = nl + 1;
    }
}

bool ChangeLogIsEmpty(const QsciScintilla *pane)
{
    return pane->length() == 0;
}

void AppendChangeLogLines(QsciScintilla *pane, const std::vector<std::string> &lines)
{
    if (lines.empty())
        return;
    std::string text;
    size_t total = 0;
    for (const std::string &line : lines)
        total += line.size() + 1;
    text.reserve(total);
    const bool first = ChangeLogIsEmpty(pane);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0 || !first)
            text += '\n';
        text += lines[i];
    }
    // Read-only holds for the user; the recorder still appends.
    const bool readOnly = pane->isReadOnly();
    pane->setReadOnly(false);
    pane->SendScintilla(QsciScintillaBase::SCI_APPENDTEXT, static_cast<unsigned long>(text.size()), text.c_str());
    pane->setReadOnly(readOnly);
}

void InsertChangeLogLines(QsciScintilla *pane, int line, const std::vector<std::string> &lines)
{
    if (lines.empty())
        return;
    if (line < 0 || line >= pane->lines() || ChangeLogIsEmpty(pane)) {
        AppendChangeLogLines(pane, lines);
        return;
    }
    std::string text;
    for (const std::string &l : lines) {
        text += l;
        text += '\n';
    }
    const long at = pane->SendScintilla(QsciScintillaBase::SCI_POSITIONFROMLINE, static_cast<unsigned long>(line));
    const bool readOnly = pane->isReadOnly();
    pane->setReadOnly(false);
    pane->SendScintilla(QsciScintillaBase::SCI_INSERTTEXT, static_cast<unsigned long>(at), text.c_str());
    pane->setReadOnly(readOnly);
}

} // namespace vt::history
