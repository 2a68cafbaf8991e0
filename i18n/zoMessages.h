#pragma once
// The program's message table and the process-wide texts of the message
// dialogs (button captions, titles, font). Non-GUI: the dialogs themselves
// live in i18n/gui/zoMessageDialogs.h.

#include <QString>

#include <array>
#include <cstdint>

namespace vt::i18n
{

class TzoIniFile;

struct TMessageEntry {
    const char *key;
    const char *text; // English default; "\r\n" is a real line break
};

inline constexpr int MessageCount = 73;
inline constexpr int MessageHighIndex = MessageCount - 1;

// Fixed at build time; index = message number.
extern const std::array<TMessageEntry, MessageCount> MessageTable;

// Index of `key` in MessageTable (exact spelling), or -1.
int MessageIndex(const char *key);

// The text to show for message `index`: the active language's translation,
// else the English default, else empty; "%0D%0A" becomes CR LF. Callers fill
// %s / %d afterwards. An index outside the table yields an empty text.
QString MessageText(int index);
// Same lookup by key, for callers that prefer names to numbers:
// MessageText("MyComputer") == "My Computer" while English is active.
QString MessageText(const char *key);

// The translator's lookup (TzoTranslator::GetMessage on the process-wide
// translator): language entry (case-insensitive name, even when empty), else
// DefaultMessages, else empty. No "%0D%0A" processing here.
QString GetMessage(const QString &key);

// ---- Message dialog vocabulary ---------------------------------------------

enum class TMsgDlgType : int { Warning = 0, Error = 1, Information = 2, Confirmation = 3, Custom = 4 };
inline constexpr int DialogKindCount = 5;

// Button positions; bit k of TMsgDlgButtons stands for position k.
enum class TMsgDlgBtn : int { Yes = 0, No, OK, Cancel, Abort, Retry, Ignore, All, NoToAll, YesToAll, Help };
inline constexpr int DialogButtonCount = 11;
using TMsgDlgButtons = std::uint16_t;

constexpr TMsgDlgButtons btn(TMsgDlgBtn b)
{
    return TMsgDlgButtons(1u << int(b));
}
constexpr TMsgDlgButtons operator|(TMsgDlgBtn a, TMsgDlgBtn b)
{
    return btn(a) | btn(b);
}
constexpr TMsgDlgButtons operator|(TMsgDlgButtons a, TMsgDlgBtn b)
{
    return TMsgDlgButtons(a | btn(b));
}
inline constexpr TMsgDlgButtons mbYesNo = TMsgDlgBtn::Yes | TMsgDlgBtn::No;
inline constexpr TMsgDlgButtons mbYesNoCancel = TMsgDlgBtn::Yes | TMsgDlgBtn::No | TMsgDlgBtn::Cancel;
inline constexpr TMsgDlgButtons mbYesNoAll =
    TMsgDlgBtn::Yes | TMsgDlgBtn::No | TMsgDlgBtn::NoToAll | TMsgDlgBtn::YesToAll;
inline constexpr TMsgDlgButtons mbOK = btn(TMsgDlgBtn::OK);
inline constexpr TMsgDlgButtons mbOKCancel = TMsgDlgBtn::OK | TMsgDlgBtn::Cancel;

// Result codes (Windows IDOK ... values).
enum : int {
    mrNone = 0,
    mrOk = 1,
    mrCancel = 2,
    mrAbort = 3,
    mrRetry = 4,
    mrIgnore = 5,
    mrYes = 6,
    mrNo = 7,
    mrAll = 8,
    mrNoToAll = 9,
    mrYesToAll = 10
};

// Fixed per position: control name, [Dialogs] key, English caption, result
// (Help: mrNone, it never closes the dialog).
struct TButtonInfo {
    const char *name;
    const char *key;
    const char *english;
    int result;
};
extern const std::array<TButtonInfo, DialogButtonCount> ButtonInfo;

struct TKindInfo {
    const char *key;
    const char *english;
    int iconId; // IDI_* of the system icon, 0 for none
};
extern const std::array<TKindInfo, DialogKindCount> KindInfo;

// Process-wide dialog texts; start English, change with LoadDialogTexts.
QString ButtonCaption(TMsgDlgBtn b);
void SetButtonCaption(TMsgDlgBtn b, const QString &caption);
QString DialogTitle(TMsgDlgType kind);
void SetDialogTitle(TMsgDlgType kind, const QString &title);
void ResetDialogTexts(); // back to English (tests, language "English")

struct TDialogFont {
    QString name = QStringLiteral("MS Sans Serif");
    int size = 8;             // points
    std::uint8_t charset = 1; // DEFAULT_CHARSET
};
TDialogFont DialogFont();
void SetDialogFont(const TDialogFont &font);

// [Dialogs] captions then titles; values are raw bytes of the language file,
// decoded from UTF-8 when [Main] FontUTF8 is true, else as 8-bit characters.
void LoadDialogTexts(const TzoIniFile &language);
void SaveDialogTexts(TzoIniFile &language);

} // namespace vt::i18n
