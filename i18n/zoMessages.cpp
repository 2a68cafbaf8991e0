#include "i18n/zoMessages.h"

#include "i18n/zoIniFile.h"
#include "i18n/zoTranslator.h"

#include <cstring>

namespace vt::i18n
{

const std::array<TMessageEntry, MessageCount> MessageTable = {{
    {"MyComputer", "My Computer"}, // 0
    {"WarningComplicatedDataType", "Vantrel can add a value of this type, but can only edit it in binary form.\r\nBad "
                                   "data can cause Windows Regedit to hang.\r\nDo you want to continue?"}, // 1
    {"ConfirmValueDelete", "Do you really want to delete this value (\"%s\")?"},                           // 2
    {"ConfirmKeyDelete", "Do you really want to delete this key (\"%s\")?"},                               // 3
    {"ConfirmCopyOverwrite",
     "A value of that name (\"%s\") already exists in your destination key. Do you really want to overwrite it?"}, // 4
    {"DragDropValueMoveStatus", "Moving value(s) to %s..."},                                                       // 5
    {"DragDropValueCopyStatus", "Copying value(s) to %s..."},                                                      // 6
    {"DragDropKeyMoveStatus", "Moving key %s into %s..."},                                                         // 7
    {"DragDropKeyCopyStatus", "Copying key %s into %s..."},                                                        // 8
    {"DragDropWrongRootKeyWarning", "You cannot move keys between different root keys (yet)!"},                    // 9
    {"DialogRenameValueTitle", "Rename value (\"%s\")"},                                                           // 10
    {"DialogRenameValueCaption", "Please enter the new name for this value:"},                                     // 11
    {"DialogRenameKeyTitle", "Rename key (\"%s\")"},                                                               // 12
    {"DialogRenameKeyCaption", "Please enter the new name for this key:"},                                         // 13
    {"DialogNewKeyTitle", "New key"},                                                                              // 14
    {"DialogNewKeyCaption", "Please enter a name for the new key:"},                                               // 15
    {"DialogNewValueTitle", "New value"},                                                                          // 16
    {"DialogNewValueCaption", "Please enter a name for the new value:"},                                           // 17
    {"DialogNewValueStringTitle", "New string value"},                                                             // 18
    {"DialogNewValueStringCaption", "Please enter a name for the new string value:"},                              // 19
    {"DialogNewValueNumericTitle", "New numeric value"},                                                           // 20
    {"DialogNewValueNumericCaption", "Please enter a name for the new numeric value:"},                            // 21
    {"DialogNewValueBinaryTitle", "New binary value"},                                                             // 22
    {"DialogNewValueBinaryCaption", "Please enter a name for the new binary value:"},                              // 23
    {"DialogJumpToKeyTitle", "Jump to key"},                                                                       // 24
    {"DialogJumpToKeyCaption", "Please enter key to go to:"},                                                      // 25
    {"DialogNewKeyDefault", "New key"},                                                                            // 26
    {"DialogNewValueDefault", "New value"},                                                                        // 27
    {"DialogNewValueStringDefault", "New string"},                                                                 // 28
    {"DialogNewValueNumericDefault", "New numeric"},                                                               // 29
    {"DialogNewValueBinaryDefault", "New binary data"},                                                            // 30
    {"DialogValueDefault", "(Default)"},                                                                           // 31
    {"DialogDataNotDefined", "(Data not defined)"},                                                                // 32
    {"DialogDataNotSupported", "(Data type not supported)"},                                                       // 33
    {"DialogDataBinaryZero", "(Binary data of zero length)"},                                                      // 34
    {"DialogDataError", "(Error reading data)"},                                                                   // 35
    {"DialogSearchStatus", "Searching %s"},                                                                        // 36
    {"DialogSearchFinished", "Search has finished with %d results."},                                              // 37
    {"DialogSearchStopped", "You have stopped the search."},                                                       // 38
    {"DialogSearchFocusLimited", "Search limited to %s."},                                                         // 39
    {"DialogSearchFocusAll", "Search complete registry."},                                                         // 40
    {"DialogSearchHighSpeedStatus", "Please be patient..."},                                                       // 41
    {"DialogSearchReplaceStatus", "%s occurences have been replaced."},                                            // 42
    {"DialogConfirmImport", "Do you really want to import this file?"},                                            // 43
    {"DialogHivesLoaded", "%d registry hives have been found and loaded into HKEY_LOCAL_MACHINE\\PE_* and/or "
                          "HKEY_USERS\\PE_*. They will be unloaded again on program exit."},         // 44
    {"BookmarkItemDefaultName", "New bookmark"},                                                     // 45
    {"BookmarkItemAddTitle", "New bookmark name"},                                                   // 46
    {"BookmarkItemAddCaption", "Please enter the name for the new bookmark:"},                       // 47
    {"BookmarkItemAddLocationTitle", "New bookmark location"},                                       // 48
    {"BookmarkItemAddLocationCaption", "Please enter the location the new bookmark will point to:"}, // 49
    {"BookmarkItemRenameTitle", "Rename bookmark"},                                                  // 50
    {"BookmarkItemRenameCaption", "Please enter the new name for the bookmark:"},                    // 51
    {"BookmarkItemDeleteCaption", "Do you really want to delete this bookmark?"},                    // 52
    {"BookmarkFolderDefaultName", "New folder"},                                                     // 53
    {"BookmarkFolderAddTitle", "New folder name"},                                                   // 54
    {"BookmarkFolderAddCaption", "Please enter the name for the new folder:"},                       // 55
    {"BookmarkFolderRenameTitle", "Rename folder"},                                                  // 56
    {"BookmarkFolderRenameCaption", "Please enter the new name for the folder:"},                    // 57
    {"BookmarkFolderDeleteCaption", "Do you really want to delete this folder?"},                    // 58
    {"RemoteConnectTitle", "Connect to remote registry"},                                            // 59
    {"RemoteConnectCaption", "Please enter name of remote computer:"},                               // 60
    {"RemoteErrorAccessDenied", "You do not have access to the network resource."},                  // 61
    {"RemoteErrorAlreadyAssigned", "That device is already connected."},                             // 62
    {"RemoteErrorBadDevice", "The specified device is invalid."},                                    // 63
    {"RemoteErrorBadNetName", "The format of the network resource is invalid."},                     // 64
    {"RemoteErrorBadProfile", "The user profile was specified in an incorrect format."},             // 65
    {"RemoteErrorBadProvider", "Your network address does not match any network provider."},         // 66
    {"RemoteErrorBusy", "The router or provider is busy. Please retry in a few seconds."},           // 67
    {"RemoteErrorInvalidPassword", "The password you entered is invalid for this resource."},        // 68
    {"RemoteErrorNoNetOrBadPath",
     "The network has not been not started or the specified address cannot be used."}, // 69
    {"RemoteErrorNoNetwork", "The network is unavailable."},                           // 70
    {"DialogSearchFailedStatus", "%d entries could not be changed."},                  // 71
    {"DialogRuleLineBreak", "A rule line cannot hold a line break; no rule was made for %s."}, // 72
}};

const std::array<TButtonInfo, DialogButtonCount> ButtonInfo = {{
    {"Yes", "ButtonYes", "Yes", mrYes},
    {"No", "ButtonNo", "No", mrNo},
    {"OK", "ButtonOK", "OK", mrOk},
    {"Cancel", "ButtonCancel", "Cancel", mrCancel},
    {"Abort", "ButtonAbort", "Abort", mrAbort},
    {"Retry", "ButtonRetry", "Retry", mrRetry},
    {"Ignore", "ButtonIgnore", "Ignore", mrIgnore},
    {"All", "ButtonAll", "All", mrAll},
    {"NoToAll", "ButtonNoToAll", "No to all", mrNoToAll},
    {"YesToAll", "ButtonYesToAll", "Yes to all", mrYesToAll},
    {"Help", "ButtonHelp", "Help", mrNone},
}};

const std::array<TKindInfo, DialogKindCount> KindInfo = {{
    {"DialogTitleWarning", "Warning", 32515},
    {"DialogTitleError", "Error", 32513},
    {"DialogTitleInformation", "Information", 32516},
    {"DialogTitleConfirmation", "Confirmation", 32514},
    {"DialogTitleCustom", "Custom", 0},
}};

namespace
{

struct DialogTexts {
    std::array<QString, DialogButtonCount> captions;
    std::array<QString, DialogKindCount> titles;
    TDialogFont font;
    DialogTexts() { reset(); }
    void reset()
    {
        for (int i = 0; i < DialogButtonCount; ++i)
            captions[i] = QString::fromLatin1(ButtonInfo[i].english);
        for (int i = 0; i < DialogKindCount; ++i)
            titles[i] = QString::fromLatin1(KindInfo[i].english);
        font = TDialogFont{};
    }
};

DialogTexts &texts()
{
    static DialogTexts t;
    return t;
}

bool validButton(TMsgDlgBtn b)
{
    return int(b) >= 0 && int(b) < DialogButtonCount;
}
bool validKind(TMsgDlgType k)
{
    return int(k) >= 0 && int(k) < DialogKindCount;
}

} // namespace

int MessageIndex(const char *key)
{
    if (!key)
        return -1;
    for (int i = 0; i < MessageCount; ++i)
        if (std::strcmp(MessageTable[i].key, key) == 0)
            return i;
    return -1;
}

static QString lookupShown(const QString &key)
{
    QString text = GetMessage(key);
    text.replace(QLatin1String("%0D%0A"), QLatin1String("\r\n"));
    return text;
}

QString MessageText(int index)
{
    if (index < 0 || index >= MessageCount)
        return {};
    return lookupShown(QString::fromLatin1(MessageTable[index].key));
}

QString MessageText(const char *key)
{
    if (!key)
        return {};
    return lookupShown(QString::fromLatin1(key));
}

QString GetMessage(const QString &key)
{
    return Translator().GetMessage(key);
}

QString ButtonCaption(TMsgDlgBtn b)
{
    return validButton(b) ? texts().captions[int(b)] : QString();
}
void SetButtonCaption(TMsgDlgBtn b, const QString &caption)
{
    if (validButton(b))
        texts().captions[int(b)] = caption;
}
QString DialogTitle(TMsgDlgType kind)
{
    return validKind(kind) ? texts().titles[int(kind)] : QString();
}
void SetDialogTitle(TMsgDlgType kind, const QString &title)
{
    if (validKind(kind))
        texts().titles[int(kind)] = title;
}
void ResetDialogTexts()
{
    texts().reset();
}

TDialogFont DialogFont()
{
    return texts().font;
}
void SetDialogFont(const TDialogFont &font)
{
    texts().font = font;
}

void LoadDialogTexts(const TzoIniFile &language)
{
    const bool utf8 = language.ReadBool("Main", "FontUTF8", false);
    auto read = [&](const char *key, QString &target) {
        if (!language.ValueExists("Dialogs", key))
            return;
        bool ok = true;
        const QString value = DecodeLanguageText(language.ReadString("Dialogs", key), utf8, &ok);
        // Bytes that are not UTF-8 after all are still shown, one character per byte.
        target = ok ? value : DecodeLanguageText(language.ReadString("Dialogs", key), false);
    };
    for (int i = 0; i < DialogButtonCount; ++i)
        read(ButtonInfo[i].key, texts().captions[i]);
    for (int i = 0; i < DialogKindCount; ++i)
        read(KindInfo[i].key, texts().titles[i]);
}

void SaveDialogTexts(TzoIniFile &language)
{
    const bool utf8 = language.ReadBool("Main", "FontUTF8", false);
    for (int i = 0; i < DialogButtonCount; ++i)
        language.WriteString("Dialogs", ButtonInfo[i].key, EncodeLanguageText(texts().captions[i], utf8));
    for (int i = 0; i < DialogKindCount; ++i)
        language.WriteString("Dialogs", KindInfo[i].key, EncodeLanguageText(texts().titles[i], utf8));
}

} // namespace vt::i18n
