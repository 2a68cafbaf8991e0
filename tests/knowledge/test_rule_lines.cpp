// Rule lines: every command with the names that break naive quoting, key
// rules at every depth, and the check field's first text.

#include "knowledge/RuleLines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace vt::knowledge;

namespace
{

TEST(RuleLines, ValueLinesPerCommandAndName)
{
    struct Case {
        TRuleCommand command;
        bool verifier;
        const char *valueName;
        const char *check;
        const char *line;
    };
    const char *path = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::vector<Case> cases = {
        {TRuleCommand::RegyValue, false, "Example", "Example=x",
         "RegyValue:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\","
         "\"Example\""},
        {TRuleCommand::RegyValue, true, "Example", "Example=C:\\a.exe",
         "RegyValue:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\","
         "\"Example\",\"Example=C:\\a.exe\""},
        {TRuleCommand::RegyRemove, false, "Example", "bad.dll",
         "RegyRemove:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\","
         "\"Example\",\"bad.dll\""},
        // The check box adds nothing to the other commands.
        {TRuleCommand::RegyRemove, true, "Example", "bad.dll",
         "RegyRemove:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\","
         "\"Example\",\"bad.dll\""},
        // The check field starts with the name: an untouched one gives name=name=data.
        {TRuleCommand::RegyChange, false, "Example", "Example=old",
         "RegyChange:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\","
         "\"Example=Example=old\""},
        {TRuleCommand::RegyFix, true, "Example", "Example=old",
         "RegyFix:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\","
         "\"Example=Example=old\""},
        // Nothing is escaped: quotes, commas and backslashes go in as they are.
        {TRuleCommand::RegyValue, true, "say \"hi\", now\\", "a,\"b\"\\",
         "RegyValue:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\","
         "\"say \"hi\", now\\\",\"a,\"b\"\\\""},
        // The default value has an empty name.
        {TRuleCommand::RegyValue, false, "", "=x",
         "RegyValue:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\",\"\""},
        {TRuleCommand::RegyFix, false, "", "=x",
         "RegyFix:\"<$REG_AUTORUN>\",HKEY_CURRENT_USER,\"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\",\"=="
         "x\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(
            FormatValueRule(c.command, c.verifier, "<$REG_AUTORUN>", "HKEY_CURRENT_USER", path, c.valueName, c.check),
            c.line);
    // A description with percent signs is copied, not formatted.
    EXPECT_EQ(FormatValueRule(TRuleCommand::RegyValue, false, "100% %s", "HKEY_USERS", "\\.DEFAULT", "v", ""),
              "RegyValue:\"100% %s\",HKEY_USERS,\"\\.DEFAULT\",\"v\"");
}

TEST(RuleLines, KeyLinesAtEveryDepth)
{
    struct Case {
        HKEY root;
        const char *keyPath;
        const char *line;
    };
    const std::vector<Case> cases = {
        {HKEY_LOCAL_MACHINE, "\\SOFTWARE\\Foo\\Bar",
         "RegyKey:\"description\",HKEY_LOCAL_MACHINE,\"\\SOFTWARE\\Foo\\\",\"Bar\""},
        {HKEY_LOCAL_MACHINE, "\\SOFTWARE", "RegyKey:\"description\",HKEY_LOCAL_MACHINE,\"\\\",\"SOFTWARE\""},
        // A root key, and the top node (which stands for HKEY_LOCAL_MACHINE).
        {HKEY_CURRENT_USER, "", "RegyKey:\"description\",HKEY_CURRENT_USER,\"\",\"\""},
        {HKEY_LOCAL_MACHINE, "", "RegyKey:\"description\",HKEY_LOCAL_MACHINE,\"\",\"\""},
        {HKEY_USERS, "\\.DEFAULT\\Control Panel\\Desktop\\Window,\"Metrics\"",
         "RegyKey:\"description\",HKEY_USERS,\"\\.DEFAULT\\Control Panel\\Desktop\\\",\"Window,\"Metrics\"\""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FormatKeyRule(c.root, c.keyPath), c.line) << c.keyPath;
}

TEST(RuleLines, CheckTextHoldsNoBreakForMultiStrings)
{
    struct Case {
        TRegDataType type;
        const char *name;
        const char *data;
        const char *check;
    };
    const std::vector<Case> cases = {
        {rdString, "Path", "C:\\x", "Path=C:\\x"},
        {rdInteger, "Count", "0x000000FF (255)", "Count=0x000000FF (255)"},
        {rdMultiString, "List", "a\r\nb\r\n", "List=a b "},
        {rdMultiString, "List", "a\r\n\r\nb", "List=a  b"},
        {rdMultiString, "", "lone\nlf\rcr", "=lone lf cr"},
        // Other types keep their text; OK refuses it while it holds a break.
        {rdString, "S", "one\r\ntwo", "S=one\r\ntwo"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(InitialCheckText(c.type, c.name, c.data), c.check) << c.data;
    EXPECT_FALSE(HasLineBreak(InitialCheckText(rdMultiString, "x", "a\r\nb\nc\rd")));
    EXPECT_TRUE(HasLineBreak("a\rb"));
    EXPECT_TRUE(HasLineBreak("a\nb"));
    EXPECT_FALSE(HasLineBreak("a b"));
}

TEST(RuleLines, DescriptionTokensAndRemoveTypes)
{
    ASSERT_EQ(DescriptionTokens.size(), 75u);
    EXPECT_STREQ(DescriptionTokens[0], "REG_CLASSID");
    EXPECT_STREQ(DescriptionTokens[18], "REG_AUTORUN");
    EXPECT_STREQ(DescriptionTokens[36], "FILE_UNINSTALLER");
    EXPECT_STREQ(DescriptionTokens[51], "FILE_UNINSTALLER");
    EXPECT_STREQ(DescriptionTokens[74], "API_WINSOCK");
    int uninstallers = 0;
    for (const char *t : DescriptionTokens)
        uninstallers += std::string(t) == "FILE_UNINSTALLER";
    EXPECT_EQ(uninstallers, 2);
    for (TRegDataType t : {rdString, rdExpandString, rdMultiString})
        EXPECT_TRUE(RuleCanRemoveText(t)) << int(t);
    for (TRegDataType t : {rdNone, rdBinary, rdInteger, rdBigEndianInteger, rdInt64, rdLink, rdUnknown})
        EXPECT_FALSE(RuleCanRemoveText(t)) << int(t);
}

} // namespace
