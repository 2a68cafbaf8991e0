#pragma once
// The process-wide translator, reduced to what messages and dialogs need:
// the active language's messages, the built-in English ones, and applying a
// language file's messages, dialog texts and dialog font. Language scanning,
// menus and window translation come with the full translator.

#include "i18n/zoMessages.h"

#include <QString>
#include <QStringList>

namespace vt::i18n
{

class TzoIniFile;

// "% " -> "%% ", "%." -> "%%.", CR LF -> "%0D%0A".
QString EscapeText(const QString &text);
// "%0D%0A" -> CR LF, then "%%" -> "%".
QString UnescapeText(const QString &text);

class TzoTranslator
{
public:
    QStringList Messages;        // "key=text" of the active language
    QStringList DefaultMessages; // "key=text", built-in English
    QString LanguageName;        // empty while no language is loaded
    QStringList Languages;       // none found yet

    QString GetMessage(const QString &key) const;
    // Clears DefaultMessages, then stores entries 0..highIndex.
    void SetDefaultMessages(const TMessageEntry *table, int highIndex);
    // [Messages] into Messages: unescaped, UTF-8 decoded with [Main] FontUTF8;
    // a line that is not valid UTF-8 becomes "---" + line, out of lookups.
    void LoadMessages(const TzoIniFile &language);
    // Dialog texts, messages and the dialog font of one language.
    void ApplyLanguage(const TzoIniFile &language, const QString &name);
    // Back to no language: English dialog texts and font, no messages.
    void ClearLanguage();
};

// Created on first use, before any window; DefaultMessages already holds the
// message table so lookups work even before the main window registers it.
TzoTranslator &Translator();

} // namespace vt::i18n
