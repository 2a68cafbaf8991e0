#include "i18n/zoTranslator.h"

#include "i18n/zoIniFile.h"

namespace vt::i18n
{

QString EscapeText(const QString &text)
{
    QString s = text;
    s.replace(QLatin1String("% "), QLatin1String("%% "));
    s.replace(QLatin1String("%."), QLatin1String("%%."));
    s.replace(QLatin1String("\r\n"), QLatin1String("%0D%0A"));
    return s;
}

QString UnescapeText(const QString &text)
{
    QString s = text;
    s.replace(QLatin1String("%0D%0A"), QLatin1String("\r\n"));
    s.replace(QLatin1String("%%"), QLatin1String("%"));
    return s;
}

QString TzoTranslator::GetMessage(const QString &key) const
{
    auto lookup = [&](const QStringList &lines, QString *value) {
        for (const QString &line : lines) {
            const qsizetype eq = line.indexOf(QLatin1Char('='));
            if (eq < 0)
                continue;
            if (QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0) {
                *value = line.mid(eq + 1);
                return true;
            }
        }
        return false;
    };
    QString value;
    if (lookup(Messages, &value) || lookup(DefaultMessages, &value))
        return value;
    return {};
}

void TzoTranslator::SetDefaultMessages(const TMessageEntry *table, int highIndex)
{
    DefaultMessages.clear();
    for (int i = 0; table && i <= highIndex; ++i)
        DefaultMessages.append(QString::fromLatin1(table[i].key) + QLatin1Char('=') + QString::fromUtf8(table[i].text));
}

void TzoTranslator::LoadMessages(const TzoIniFile &language)
{
    const bool utf8 = language.ReadBool("Main", "FontUTF8", false);
    Messages.clear();
    for (const TzoIniFile::Entry &e : language.ReadSectionValues("Messages")) {
        const QByteArray raw = e.first + '=' + e.second;
        // Unescaping touches ASCII only, so it can run on the bytes before decoding.
        const QByteArray unescaped = QByteArray(raw).replace("%0D%0A", "\r\n").replace("%%", "%");
        bool ok = true;
        const QString line = DecodeLanguageText(unescaped, utf8, &ok);
        Messages.append(ok ? line : QStringLiteral("---") + DecodeLanguageText(unescaped, false));
    }
}

void TzoTranslator::ApplyLanguage(const TzoIniFile &language, const QString &name)
{
    LoadDialogTexts(language);
    LoadMessages(language);
    TDialogFont font;
    font.name = DecodeLanguageText(language.ReadString("Main", "FontName", "MS Sans Serif"),
                                   language.ReadBool("Main", "FontUTF8", false));
    font.size = language.ReadInteger("Main", "FontSize", 8);
    font.charset = std::uint8_t(language.ReadInteger("Main", "FontCharset", 0));
    SetDialogFont(font);
    LanguageName = name;
}

void TzoTranslator::ClearLanguage()
{
    ResetDialogTexts();
    Messages.clear();
    LanguageName.clear();
}

TzoTranslator &Translator()
{
    static TzoTranslator *translator = [] {
        auto *t = new TzoTranslator;
        t->SetDefaultMessages(MessageTable.data(), MessageHighIndex);
        return t;
    }();
    return *translator;
}

} // namespace vt::i18n
