// The compare rules: one table of styles × patterns × texts × case folding,
// then the parts a table cannot show (rule items, regular-expression errors,
// prepared patterns against single tests, tags, lists and files).
#include "search/CompareRules.h"

#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace vt::search;

namespace
{

using namespace std::string_literals;

struct Case {
    TCompareStyle style;
    std::string pattern;
    std::string text;
    bool ignoreCase;
    bool expected;
};

std::ostream &operator<<(std::ostream &os, const Case &c)
{
    return os << "style " << int(c.style) << " pattern [" << c.pattern << "] text [" << c.text << "] ignoreCase "
              << c.ignoreCase;
}

const std::vector<Case> kCases = {
    // Substring: empty never matches, both end at NUL, only a to z fold.
    {csSubstring, "", "", false, false},
    {csSubstring, "", "anything", false, false},
    {csSubstring, "run", "", false, false},
    {csSubstring, "run", "Autorun", false, true},
    {csSubstring, "RUN", "Autorun", false, false},
    {csSubstring, "RUN", "Autorun", true, true},
    {csSubstring, "\xC3\x89", "\xC3\xA9", true, false}, // É and é in UTF-8
    {csSubstring, "\xC3\x89", "caf\xC3\x89", true, true},
    {csSubstring, "New Value", "has New Value here", false, true},
    {csSubstring, "b", "a\0b"s, false, false},
    {csSubstring, "a\0zzz"s, "xa", false, true},
    {csSubstring, "usbstor", "\\SystemRoot\\System32\\drivers\\USBSTOR.SYS", true, true},
    {csSubstring, "[", "a[b", true, true}, // no pattern syntax in a substring
    // Wildcard.
    {csWildcard, "*", "", false, true},
    {csWildcard, "*", "anything", false, true},
    {csWildcard, "", "", false, true},
    {csWildcard, "", "run", false, false},
    {csWildcard, "*run*", "Autorun", false, true},
    {csWildcard, "*r?n*", "Autorun", false, true},
    {csWildcard, "*r?n*", "Autoran", false, true},
    {csWildcard, "*r?n*", "Autorn", false, false},
    {csWildcard, "**", "anything", false, false},
    {csWildcard, "**", "", false, false},
    {csWildcard, "run", "run", false, true},
    {csWildcard, "run", "Autorun", false, false},
    {csWildcard, "r*n", "rn", false, true},
    {csWildcard, "r*n", "runs", false, false},
    {csWildcard, "r*n", "ruin", false, true},
    {csWildcard, "RUN", "run", true, true},
    {csWildcard, "RUN", "run", false, false},
    {csWildcard, "*.txt", "notes.txt", false, true},
    {csWildcard, "*.txt", "notes.txt.bak", false, false},
    {csWildcard, "a*b*c", "aXbYbZc", false, true},
    {csWildcard, "a*b*c", "aXbYbZ", false, false},
    {csWildcard, "?", "", false, false},
    {csWildcard, "??", "ab", false, true},
    {csWildcard, "*a", "bbba", false, true},
    {csWildcard, "a*", "abbb", false, true},
    {csWildcard, "a*", "bbba", false, false},
    {csWildcard, "*x*", "a\0x"s, false, false},
    // Boolean.
    {csBoolean, "foo bar", "xbarx", false, true},
    {csBoolean, "foo AND NOT bar", "foo and bar", false, false},
    {csBoolean, "foo AND NOT bar", "food", false, true},
    {csBoolean, "NOT foo", "nothing here", false, true},
    {csBoolean, "NOT foo", "foo", false, false},
    {csBoolean, "a AND b OR c", "c", false, true},
    {csBoolean, "a OR b AND c", "a", false, false},
    {csBoolean, "a OR b AND c", "ac", false, true},
    {csBoolean, "AND foo", "AND", false, true},
    {csBoolean, "a AND", "a", false, true},
    {csBoolean, "\"New Value\" OR x", "has New Value here", false, true},
    {csBoolean, "\"New Value\" OR x", "has New here", false, false},
    {csBoolean, "foo and bar", "foo", false, false}, // keywords in any case
    {csBoolean, "FOO", "food", true, true},
    {csBoolean, "FOO", "food", false, false},
    {csBoolean, "NOT NOT foo", "bar", false, true}, // a run of NOTs negates once
    {csBoolean, "", "anything", false, false},
    {csBoolean, "NOT", "anything", false, false},
    // Boyer-Moore-Horspool.
    {csBoyerMoore, "", "", false, true},
    {csBoyerMoore, "", "any text", false, true},
    {csBoyerMoore, "needle", "ends with needle", false, true},
    {csBoyerMoore, "needle", "Needle", true, true},
    {csBoyerMoore, "needle", "Needle", false, false},
    {csBoyerMoore, "needle", "needl", false, false},
    {csBoyerMoore, "abcab", "xxabcabxx", false, true},
    {csBoyerMoore, "b", "a\0b"s, false, true}, // past the NUL
    {csBoyerMoore, "NEEDLE", "a haystack with a nEeDlE in it", true, true},
    // Exact.
    {csExact, "Run", "Run", false, true},
    {csExact, "Run", "run", false, false},
    {csExact, "Run", "run", true, true},
    {csExact, "Run", "Runs", false, false},
    {csExact, "", "", false, true},
    {csExact, "\xC3\x89", "\xC3\xA9", true, false},
    // Regular expressions: anywhere, dot across lines, no multi-line anchors,
    // case folding by PCRE2 (Unicode, so É and é fold there).
    {csRegExpr, "^run", "Autorun", false, false},
    {csRegExpr, "run$", "Autorun", false, true},
    {csRegExpr, "RUN$", "Autorun", false, false},
    {csRegExpr, "RUN$", "Autorun", true, true},
    {csRegExpr, "a.b", "a\nb", false, true},
    {csRegExpr, "^b", "a\nb", false, false},
    {csRegExpr, "a$", "a\nb", false, false},
    {csRegExpr, "\xC3\x89", "caf\xC3\xA9", true, true},
    {csRegExpr, "\xC3\x89", "caf\xC3\xA9", false, false},
    {csRegExpr, "x*", "", false, true},
    {csRegExpr, "USB.*", "ab\xFF\xFEUSBSTOR", false, true}, // invalid UTF-8 before the match
    {csRegExpr, ".", "\xFF", false, false},                 // invalid bytes never match
    {csRegExpr, "a.c", "a\xFF" "c", false, false},
    {csRegExpr, "b", "a\xFF" "b", false, true},
    {csRegExpr, "^([0-9a-fA-F][0-9a-fA-F][ ]?)+$", "41 42", false, true},
    {csRegExpr, "^([0-9a-fA-F][0-9a-fA-F][ ]?)+$", "4", false, false},
};

class CompareTable : public ::testing::TestWithParam<Case>
{
};

TEST_P(CompareTable, MatchTextAndPreparedPatternAgree)
{
    const Case &c = GetParam();
    EXPECT_EQ(MatchText(c.text, c.pattern, c.style, c.ignoreCase), c.expected);
    const TPattern prepared(c.pattern, c.style, c.ignoreCase);
    // A prepared pattern gives the same answer, also when used again.
    EXPECT_EQ(prepared.Match(c.text), c.expected);
    EXPECT_EQ(prepared.Match(c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Styles, CompareTable, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case> &info) { return "row" + std::to_string(info.index); });

TEST(CompareRule, ParseBuildsItemsLeftToRight)
{
    TCompareRule rule;
    rule.Parse("foo AND NOT \"New Value\" or bar NOT");
    ASSERT_EQ(rule.Items.size(), 3u);
    EXPECT_EQ(rule.Items[0].Term, "foo");
    EXPECT_EQ(rule.Items[0].Operator, 1);
    EXPECT_FALSE(rule.Items[0].Negated);
    EXPECT_EQ(rule.Items[1].Term, "New Value");
    EXPECT_EQ(rule.Items[1].Operator, 0);
    EXPECT_TRUE(rule.Items[1].Negated);
    EXPECT_EQ(rule.Items[2].Term, "bar");
    EXPECT_EQ(rule.Items[2].Operator, 1);

    // Quotes keep blanks but do not protect keywords; an open quote runs on.
    rule.Parse("a \"AND\" b \"open ended");
    ASSERT_EQ(rule.Items.size(), 3u);
    EXPECT_EQ(rule.Items[1].Term, "b");
    EXPECT_EQ(rule.Items[1].Operator, 0);
    EXPECT_EQ(rule.Items[2].Term, "open ended");

    // A leading operator is a term; trailing OR and AND are dropped.
    rule.Parse("OR x AND OR");
    ASSERT_EQ(rule.Items.size(), 2u);
    EXPECT_EQ(rule.Items[0].Term, "OR");
    EXPECT_EQ(rule.Items[1].Term, "x");

    rule.Parse("");
    EXPECT_TRUE(rule.Items.empty());
    EXPECT_FALSE(rule.Match("anything"));
}

TEST(RegExpr, ErrorsNameTheProblemAndPosition)
{
    struct {
        std::string pattern;
        size_t offset;
    } bad[] = {{"ab(c", 4}, {"a[b", 3}, {"*x", 0}, {"a\\", 2}};
    for (const auto &b : bad) {
        SCOPED_TRACE(b.pattern);
        try {
            MatchText("text", b.pattern, csRegExpr, false);
            ADD_FAILURE() << "no exception";
        } catch (const ERegExpr &e) {
            EXPECT_EQ(e.Offset, b.offset);
            EXPECT_NE(std::string(e.what()).find("at position " + std::to_string(b.offset)), std::string::npos)
                << e.what();
            EXPECT_GT(std::string(e.what()).size(), 20u) << e.what();
        }
        EXPECT_THROW(TPattern(b.pattern, csRegExpr, true), ERegExpr);
    }
    // A pattern that is itself not UTF-8 does not compile either.
    EXPECT_THROW(TPattern("\xFF", csRegExpr, false), ERegExpr);
    // Other styles never read pattern syntax.
    EXPECT_NO_THROW(MatchText("ab(c", "ab(c", csWildcard, false));
}

TEST(StyleTags, CaseSensitiveTagsChooseTheStyle)
{
    struct {
        std::string pattern;
        std::string text;
        bool expected;
    } rows[] = {
        {"<wc>*.txt", "a.txt", true},       {"<wc>*.txt", "a.txt.x", false},
        {"<WC>x", "<WC>x", true},           {"<WC>x", "x", false},
        {"<regexpr>^a.c$", "abc", true},    {"<regexpr>^a.c$", "xabc", false},
        {"<bool>a AND b", "ab", true},      {"<bool>a AND b", "a", false},
        {"<bm>", "", true},                 {"<substr>run", "Autorun", true},
        {"<wc><substr>x", "<substr>x", true}, // one tag only
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.pattern + " / " + r.text);
        EXPECT_EQ(MatchTagged(r.text, r.pattern, false, csSubstring), r.expected);
    }
    std::string p = "<regexpr>x";
    TCompareStyle s = csSubstring;
    EXPECT_TRUE(ParseStyleTag(p, s));
    EXPECT_EQ(p, "x");
    EXPECT_EQ(s, csRegExpr);
    p = "plain";
    EXPECT_FALSE(ParseStyleTag(p, s));
    EXPECT_EQ(p, "plain");
    EXPECT_EQ(s, csRegExpr);
}

TEST(FilterList, KeepsOrderAndObjects)
{
    int a = 1, b = 2, c = 3;
    const TStringList list = {{"Autorun", &a}, {"Explorer", &b}, {"RUNONCE", &c}};
    TStringList out = FilterList(list, "run", csSubstring, true);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].String, "Autorun");
    EXPECT_EQ(out[0].Object, &a);
    EXPECT_EQ(out[1].Object, &c);
    out = FilterList(list, "run AND NOT auto", csBoolean, true);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].Object, &c);
    EXPECT_THROW(FilterList(list, "(", csRegExpr, false), ERegExpr);
}

TEST(Wildcard, LongTextsNeedNoStack)
{
    const std::string text(400000, 'a');
    EXPECT_TRUE(WildcardMatch(text + "b", "*a*a*b"));
    EXPECT_FALSE(WildcardMatch(text, "*a*a*b"));
    EXPECT_TRUE(MatchText(text, "a*?a", csWildcard, false));
}

TEST(ListFiles, PlainAndTaggedMasks)
{
    const std::string dir = vt::test::makeTempDir("vt-listfiles");
    namespace fs = std::filesystem;
    fs::create_directories(dir + "/Sub/Deeper");
    for (const char *name : {"German.vtl", "english.VTL", "notes.txt", "Sub/French.vtl", "Sub/Deeper/Dutch.vtl"})
        std::ofstream(dir + "/" + name) << "x";

    EXPECT_EQ(ListFiles(dir + "/*.vtl", true, false, false, false),
              (std::vector<std::string>{"German.vtl", "english.VTL"}));
    EXPECT_EQ(ListFiles(dir + "/*.*", false, true, false, false), (std::vector<std::string>{"Sub"}));
    EXPECT_EQ(ListFiles(dir + "/*.vtl", true, false, true, false),
              (std::vector<std::string>{"German.vtl", "english.VTL", "Sub/French.vtl", "Sub/Deeper/Dutch.vtl"}));
    EXPECT_EQ(ListFiles("<wc>" + dir + "/*man*", true, false, false, true),
              (std::vector<std::string>{dir + "/German.vtl"}));
    EXPECT_EQ(ListFiles("<regexpr>" + dir + "/(english|notes)\\.", true, false, false, false),
              (std::vector<std::string>{"english.VTL", "notes.txt"}));
    EXPECT_TRUE(ListFiles(dir + "/missing/*.vtl", true, true, true, true).empty());
    vt::test::removeTree(dir);
}

} // namespace
