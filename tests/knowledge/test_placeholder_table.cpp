#include "knowledge/PathPlaceholders.h"

#include <gtest/gtest.h>

using vt::knowledge::TPlaceholderTable;

namespace
{

TPlaceholderTable tableOf(std::vector<std::string> lines)
{
    TPlaceholderTable t;
    t.Lines = std::move(lines);
    return t;
}

} // namespace

TEST(PlaceholderTable, GetAndSetActOnTheFirstLineOfAName)
{
    TPlaceholderTable t = tableOf({"<$A>=first", "<$B>=b", "<$a>=second"});
    EXPECT_EQ(t.get("<$a>"), "first");
    EXPECT_EQ(t.get("<$C>"), "");

    t.set("<$A>", "changed");
    EXPECT_EQ(t.Lines, (std::vector<std::string>{"<$A>=changed", "<$B>=b", "<$a>=second"}));
    t.set("<$C>", "new");
    EXPECT_EQ(t.Lines.back(), "<$C>=new");
    // An empty path removes the first line; the later one becomes the first.
    t.set("<$a>", "");
    EXPECT_EQ(t.Lines, (std::vector<std::string>{"<$B>=b", "<$a>=second", "<$C>=new"}));
    t.set("<$NONE>", "");
    EXPECT_EQ(t.Lines.size(), 3u);
}

TEST(PlaceholderTable, CopyIfEmptyCopiesWithoutTrailingBackslash)
{
    TPlaceholderTable t = tableOf({"<$T>=", "<$S>=C:\\Src\\", "<$FULL>=keep"});
    t.CopyIfEmpty("<$T>", "<$S>");
    EXPECT_EQ(t.get("<$T>"), "C:\\Src");
    t.CopyIfEmpty("<$FULL>", "<$S>");
    EXPECT_EQ(t.get("<$FULL>"), "keep");
    t.CopyIfEmpty("<$NEW>", "<$S>");
    EXPECT_EQ(t.get("<$NEW>"), "C:\\Src");
    // Copying an empty source drops the target's empty line.
    TPlaceholderTable u = tableOf({"<$T>=", "<$X>=x"});
    u.CopyIfEmpty("<$T>", "<$MISSING>");
    EXPECT_EQ(u.Lines, (std::vector<std::string>{"<$X>=x"}));
}

TEST(PlaceholderTable, ExpandUsesTheLastLineAndIgnoresCaseOnlyWhenReplacing)
{
    const TPlaceholderTable t = tableOf({
        "<$APPDATA>=C:\\Old",
        "<$LOCALSETTINGS>=C:\\Set by registry",
        "<$PROGRAMFILES>=C:\\Program Files",
        "<$SYSDIR>=C:\\Windows\\System32",
        "<$APPDATA>=C:\\Users\\u\\AppData\\Roaming",
        "<$LOCALSETTINGS>=",
        "<$FONTS>=C:\\Windows\\Fonts (x86)",
        "<$FILE>=C:\\Windows\\System32\\x.dll",
    });
    const struct {
        const char *in;
        const char *out;
    } cases[] = {
        {"<$APPDATA>\\Brakmoor\\Vantrel\\history.sqlite",
         "C:\\Users\\u\\AppData\\Roaming\\Brakmoor\\Vantrel\\history.sqlite"},
        {"<$appdata>\\x", "<$appdata>\\x"},
        {"<$APPDATA>;<$appdata>;<$AppData>",
         "C:\\Users\\u\\AppData\\Roaming;C:\\Users\\u\\AppData\\Roaming;C:\\Users\\u\\AppData\\Roaming"},
        {"[<$LOCALSETTINGS>]", "[]"},
        {"<$UNKNOWN>\\a", "<$UNKNOWN>\\a"},
        {"<regexpr><$PROGRAMFILES>", "<regexpr>C:\\\\Program Files"},
        {"<regexpr><$SYSDIR>\\x.dll", "<regexpr>C:\\\\Windows\\\\System32\\x.dll"},
        {"<regexpr><$FONTS>", "<regexpr>C:\\\\Windows\\\\Fonts \\(x86\\)"},
        {"Path=<regexpr><$SYSDIR>.", "Path=<regexpr>C:\\\\Windows\\\\System32."},
        {"Path <regexpr> <$SYSDIR>", "Path <regexpr> C:\\Windows\\System32"},
        {"<regexpr><$FILE>", "<regexpr>C:\\\\Windows\\\\System32\\\\x\\.dll"},
        {"", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(t.ExpandPlaceholders(c.in), c.out) << c.in;
}
