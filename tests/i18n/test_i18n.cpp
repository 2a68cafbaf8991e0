#include "i18n/zoIniFile.h"
#include "i18n/zoMessages.h"
#include "i18n/zoTranslator.h"

#include <gtest/gtest.h>

#include <ostream>

#include <set>
#include <string>

// Readable failure output for Qt strings.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

using namespace vt::i18n;

namespace
{

class I18n : public ::testing::Test
{
protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset()
    {
        Translator().ClearLanguage();
        Translator().SetDefaultMessages(MessageTable.data(), MessageHighIndex);
    }
};

TzoIniFile ini(const char *text)
{
    return TzoIniFile::fromText(QByteArray(text));
}

} // namespace

TEST_F(I18n, TableHoldsSeventyTwoDistinctKeysWithExactTexts)
{
    std::set<std::string> keys;
    for (const TMessageEntry &e : MessageTable) {
        ASSERT_NE(e.key, nullptr);
        ASSERT_NE(e.text, nullptr);
        keys.insert(e.key);
    }
    EXPECT_EQ(keys.size(), 73u);

    // Rows whose text has something easy to get wrong: quotes, line breaks,
    // backslashes, the original spelling mistakes.
    const struct {
        int index;
        const char *key;
        const char *text;
    } rows[] = {
        {0, "MyComputer", "My Computer"},
        {1, "WarningComplicatedDataType",
         "Vantrel can add a value of this type, but can only edit it in binary form.\r\n"
         "Bad data can cause Windows Regedit to hang.\r\nDo you want to continue?"},
        {2, "ConfirmValueDelete", "Do you really want to delete this value (\"%s\")?"},
        {31, "DialogValueDefault", "(Default)"},
        {32, "DialogDataNotDefined", "(Data not defined)"},
        {33, "DialogDataNotSupported", "(Data type not supported)"},
        {34, "DialogDataBinaryZero", "(Binary data of zero length)"},
        {35, "DialogDataError", "(Error reading data)"},
        {42, "DialogSearchReplaceStatus", "%s occurences have been replaced."},
        {44, "DialogHivesLoaded",
         "%d registry hives have been found and loaded into HKEY_LOCAL_MACHINE\\PE_* and/or "
         "HKEY_USERS\\PE_*. They will be unloaded again on program exit."},
        {59, "RemoteConnectTitle", "Connect to remote registry"},
        {69, "RemoteErrorNoNetOrBadPath",
         "The network has not been not started or the specified address cannot be used."},
        {70, "RemoteErrorNoNetwork", "The network is unavailable."},
        {71, "DialogSearchFailedStatus", "%d entries could not be changed."},
        {72, "DialogRuleLineBreak", "A rule line cannot hold a line break; no rule was made for %s."},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.key);
        EXPECT_STREQ(MessageTable[r.index].key, r.key);
        EXPECT_STREQ(MessageTable[r.index].text, r.text);
        EXPECT_EQ(MessageIndex(r.key), r.index);
        EXPECT_EQ(MessageText(r.index), QString::fromUtf8(r.text));
        EXPECT_EQ(MessageText(r.key), QString::fromUtf8(r.text));
    }
    EXPECT_EQ(MessageIndex("mycomputer"), -1);
    EXPECT_EQ(MessageText(-1), QString());
    EXPECT_EQ(MessageText(73), QString());
}

TEST_F(I18n, LanguageMessagesOverrideDefaultsByCaseInsensitiveKey)
{
    Translator().ApplyLanguage(ini("[Messages]\r\n"
                                   "mycomputer=Arbeitsplatz\r\n"
                                   "DialogDataError=\r\n"
                                   "ConfirmKeyDelete=Schl\xfcssel l\xf6schen?%0D%0A(\"%s\")\r\n"
                                   "DialogSearchReplaceStatus=100%% ersetzt\r\n"),
                               QStringLiteral("Deutsch"));
    EXPECT_EQ(MessageText(0), QStringLiteral("Arbeitsplatz"));
    // An empty translation is a translation, not a gap.
    EXPECT_EQ(MessageText("DialogDataError"), QString());
    EXPECT_EQ(MessageText(3), QString::fromUtf8("Schlüssel löschen?\r\n(\"%s\")"));
    EXPECT_EQ(MessageText(42), QStringLiteral("100% ersetzt"));
    // Untranslated keys fall back to English.
    EXPECT_EQ(MessageText(70), QStringLiteral("The network is unavailable."));

    // A key neither the language nor the defaults hold gives an empty text.
    Translator().SetDefaultMessages(MessageTable.data(), 9);
    EXPECT_EQ(MessageText(70), QString());
    EXPECT_EQ(MessageText(9), QString::fromUtf8(MessageTable[9].text));
    EXPECT_EQ(GetMessage(QStringLiteral("NoSuchKey")), QString());
}

TEST_F(I18n, MessageTextTurnsEscapedLineBreaksFromDefaultsToo)
{
    static const TMessageEntry table[] = {{"MyComputer", "one%0D%0Atwo"}};
    Translator().SetDefaultMessages(table, 0);
    EXPECT_EQ(MessageText(0), QStringLiteral("one\r\ntwo"));
    EXPECT_EQ(GetMessage(QStringLiteral("MyComputer")), QStringLiteral("one%0D%0Atwo"));
}

TEST_F(I18n, Utf8MessagesDecodeAndBrokenLinesDropOutOfLookups)
{
    Translator().ApplyLanguage(ini("[Main]\nFontUTF8=1\n[Messages]\n"
                                   "MyComputer=\xd0\x9c\xd0\xbe\xd0\xb9\n"
                                   "DialogNewKeyTitle=bad \xff byte\n"),
                               QStringLiteral("X"));
    EXPECT_EQ(MessageText(0), QString::fromUtf8("Мой"));
    EXPECT_EQ(MessageText("DialogNewKeyTitle"), QStringLiteral("New key"));
    EXPECT_TRUE(Translator().Messages.contains(QStringLiteral("---DialogNewKeyTitle=bad \xff byte")));
}

TEST_F(I18n, LoadDialogTextsReplacesOnlyPresentKeys)
{
    LoadDialogTexts(ini("[dialogs]\n"
                        "BUTTONYES=Ja\n"
                        "ButtonCancel=\n"
                        "DialogTitleWarning=Warnung\n"
                        "ButtonHelp=Hilfe=?\n"));
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::Yes), QStringLiteral("Ja"));
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::Cancel), QString());
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::Help), QStringLiteral("Hilfe=?"));
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::No), QStringLiteral("No"));
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::NoToAll), QStringLiteral("No to all"));
    EXPECT_EQ(DialogTitle(TMsgDlgType::Warning), QStringLiteral("Warnung"));
    EXPECT_EQ(DialogTitle(TMsgDlgType::Custom), QStringLiteral("Custom"));

    // A second language only changes what it names.
    LoadDialogTexts(ini("[Dialogs]\nButtonNo=Nein\n"));
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::Yes), QStringLiteral("Ja"));
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::No), QStringLiteral("Nein"));
}

TEST_F(I18n, DialogTextsDecodeUtf8OnlyWhenTheFileSaysSo)
{
    const char *bytes = "\xc3\x9c"; // "Ü" in UTF-8
    const struct {
        const char *main;
        QString expected;
    } cases[] = {
        {"FontUTF8=1", QString::fromUtf8("Ü")},
        {"FontUTF8=true", QString::fromUtf8("Ü")},
        {"FontUTF8=0", QString::fromLatin1("\xc3\x9c")},
        {"", QString::fromLatin1("\xc3\x9c")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.main);
        ResetDialogTexts();
        const QByteArray text =
            QByteArray("[Main]\n") + c.main + "\n[Dialogs]\nButtonOK=" + bytes + "\nDialogTitleError=%0D%0A\n";
        LoadDialogTexts(TzoIniFile::fromText(text));
        EXPECT_EQ(ButtonCaption(TMsgDlgBtn::OK), c.expected);
        EXPECT_EQ(DialogTitle(TMsgDlgType::Error), QStringLiteral("%0D%0A")); // no unescaping here
    }
}

TEST_F(I18n, SaveDialogTextsWritesSixteenKeysInOrderAndReadsBack)
{
    SetButtonCaption(TMsgDlgBtn::YesToAll, QString::fromUtf8("Ja für alle"));
    TzoIniFile file = ini("[Main]\nLanguageName=English\n[Dialogs]\nButtonOK=stale\n");
    SaveDialogTexts(file);
    const QList<TzoIniFile::Entry> entries = file.ReadSectionValues("Dialogs");
    ASSERT_EQ(entries.size(), 16);
    EXPECT_EQ(entries[0].first, "ButtonOK"); // existing key keeps its place
    EXPECT_EQ(entries[0].second, "OK");
    const QByteArray order[] = {"ButtonYes",
                                "ButtonNo",
                                "ButtonCancel",
                                "ButtonAbort",
                                "ButtonRetry",
                                "ButtonIgnore",
                                "ButtonAll",
                                "ButtonNoToAll",
                                "ButtonYesToAll",
                                "ButtonHelp",
                                "DialogTitleWarning",
                                "DialogTitleError",
                                "DialogTitleInformation",
                                "DialogTitleConfirmation",
                                "DialogTitleCustom"};
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(entries[i + 1].first, order[i]);
    EXPECT_EQ(file.ReadString("Main", "LanguageName"), "English");

    ResetDialogTexts();
    LoadDialogTexts(TzoIniFile::fromText(file.toText()));
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::YesToAll), QString::fromUtf8("Ja für alle"));
    EXPECT_EQ(ButtonCaption(TMsgDlgBtn::OK), QStringLiteral("OK"));
}

TEST_F(I18n, LanguageFontReachesTheDialogFont)
{
    Translator().ApplyLanguage(ini("[Main]\nFontName=Tahoma\nFontSize=10\nFontCharset=204\n"), QStringLiteral("R"));
    EXPECT_EQ(DialogFont().name, QStringLiteral("Tahoma"));
    EXPECT_EQ(DialogFont().size, 10);
    EXPECT_EQ(DialogFont().charset, 204);
    Translator().ApplyLanguage(ini(""), QStringLiteral("Empty"));
    EXPECT_EQ(DialogFont().name, QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(DialogFont().size, 8);
    EXPECT_EQ(DialogFont().charset, 0);
}

TEST(I18nText, EscapeAndUnescapeAreInverseOnTypicalTexts)
{
    const struct {
        const char *plain;
        const char *escaped;
    } cases[] = {
        {"100 % done.", "100 %% done."},
        {"50%.", "50%%."},
        {"a\r\nb", "a%0D%0Ab"},
        {"%s and %d", "%s and %d"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(EscapeText(QString::fromLatin1(c.plain)), QString::fromLatin1(c.escaped)) << c.plain;
        EXPECT_EQ(UnescapeText(QString::fromLatin1(c.escaped)), QString::fromLatin1(c.plain)) << c.plain;
    }
}

TEST(I18nIni, ParsesSectionsKeysAndValuesLikeAnIniReader)
{
    const TzoIniFile f = ini("key=before any section\r\n"
                             "; comment\r\n"
                             "[Main]\r\n"
                             "  FontSize = 0x0A \r\n"
                             "Name=a=b\r\n"
                             "[main]\r\n"
                             "name=second wins\r\n"
                             "Flag\r\n");
    EXPECT_FALSE(f.ValueExists("", "key"));
    EXPECT_EQ(f.ReadInteger("MAIN", "fontsize", 0), 10);
    EXPECT_EQ(f.ReadString("Main", "NAME"), "second wins");
    EXPECT_TRUE(f.ValueExists("Main", "Flag"));
    EXPECT_EQ(f.ReadInteger("Main", "Flag", 7), 7);
    EXPECT_EQ(f.ReadSectionValues("Main").size(), 3);
    EXPECT_FALSE(f.ReadBool("Main", "Missing", false));

    const TzoIniFile bom = ini("\xEF\xBB\xBF[Main]\nFontUTF8=1\n");
    EXPECT_TRUE(bom.ReadBool("Main", "FontUTF8", false));
    EXPECT_TRUE(f.ReadBool("Main", "Missing", true));
}
