// The search walk, the result order, export, delete and replace, on a
// temporary system.
#include "search/SearchEngine.h"
#include "search/SearchResults.h"

#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "platform/security/SecurityDescriptor.h"
#include "regfile/RegFileWriter.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <random>

#include <algorithm>
#include <memory>

using namespace vt::search;

namespace
{

const std::string kPath = "\\Software\\VtSearch";
const std::string kFull = "HKEY_CURRENT_USER\\Software\\VtSearch";

class SearchEngine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_system = std::make_unique<vt::test::TempSystem>();
        ASSERT_EQ(m_system->openResult(), ERROR_SUCCESS);
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kPath, true));
        reg.WriteString("AutoRun", "run.exe");
        reg.WriteString("New Value #1", "x");
        reg.WriteInteger("Count", 0x41);
        reg.writeValue("Blob", REG_BINARY, {0x41, 0x42}); // searchable as "41 42"
        reg.writeValue("Multi", REG_MULTI_SZ, {'a', 0, 'R', 'u', 'n', 0, 0});
        reg.CloseKey();
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Alpha"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Alpha\\RunDeep"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Runner"));
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath + "\\Runner", "Run", 32, "none"));
    }

    std::vector<TSearchListItem> search(TSearchOptions o, const std::string &start = kPath)
    {
        TSearchWalk walk(o);
        std::vector<TSearchListItem> rows;
        walk.OnResult = [&](TSearchListItem &&r) { rows.push_back(std::move(r)); };
        walk.SearchBranch(HKEY_CURRENT_USER, start, 0);
        return rows;
    }

    static TSearchOptions options(const std::string &pattern)
    {
        TSearchOptions o;
        o.Pattern = pattern;
        o.IgnoreCase = true;
        return o;
    }

    std::unique_ptr<vt::test::TempSystem> m_system;
};

std::vector<std::string> describe(const std::vector<TSearchListItem> &rows)
{
    std::vector<std::string> out;
    for (const auto &r : rows)
        out.push_back(std::to_string(r.ImageIndex) + " " + r.Caption + " | " + r.ValueName + " | " + r.DataText);
    return out;
}

TEST_F(SearchEngine, WalkOrderKindsAndColumns)
{
    // Per key: value names, then data, then subkey names; the last subkey
    // pushed is searched next. The start key's own name is never tested.
    const auto rows = search(options("run"));
    EXPECT_EQ(describe(rows), (std::vector<std::string>{
                                  "1 " + kFull + "\\ | AutoRun | ",
                                  "3 " + kFull + "\\ | AutoRun | run.exe",
                                  "3 " + kFull + "\\ | Multi | a Run  ",
                                  "0 " + kFull + "\\Runner |  | ",
                                  "1 " + kFull + "\\Runner\\ | Run | ",
                                  "0 " + kFull + "\\Alpha\\RunDeep |  | ",
                              }));
    EXPECT_EQ(rows[0].KeyPath, kPath + "\\");
    EXPECT_EQ(rows[3].KeyPath, kPath + "\\Runner");
    EXPECT_EQ(rows[2].DataType, rdMultiString);
    EXPECT_EQ(rows[0].RootKey, HKEY_CURRENT_USER);
    EXPECT_TRUE(rows[0].Checked);

    // Focus switches and the type groups.
    TSearchOptions o = options("41");
    o.Keys = o.Values = false;
    EXPECT_EQ(describe(search(o)), (std::vector<std::string>{"2 " + kFull + "\\ | Count | 0x00000041 (65)"}));
    o.TypeBinary = true;
    EXPECT_EQ(search(o).size(), 2u);
    o.TypeBinary = o.TypeNumerics = false;
    EXPECT_TRUE(search(o).empty());
    o.HighSpeed = true; // tests every value's data whatever the groups
    EXPECT_EQ(search(o).size(), 2u);

    // A blank is part of the term; Keys only below Test never lists Test.
    o = options("New Value");
    o.Data = o.Keys = false;
    EXPECT_EQ(search(o).size(), 1u);
    o = options("VtSearch");
    o.Values = o.Data = false;
    EXPECT_TRUE(search(o).empty());
    o = options("Alpha");
    o.Values = o.Data = false;
    EXPECT_EQ(search(o).size(), 1u);
}

TEST_F(SearchEngine, LongNamesAndLargeData)
{
    // Beyond the walk's first buffers: a 3,000-byte value name, 200 KB of data.
    const std::string longName = std::string(3000, 'n') + "Needle";
    TRegByteArray big(200000, 0x11);
    big[199998] = 0xAB;
    big[199999] = 0xCD;
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kPath + "\\Big", true));
    reg.WriteString(longName, "x");
    reg.writeValue("Large", REG_BINARY, big);
    reg.WriteString("After", "needle too");
    reg.CloseKey();
    TSearchOptions o = options("needle");
    o.Keys = false;
    auto rows = search(o, kPath + "\\Big");
    ASSERT_EQ(rows.size(), 2u) << ::testing::PrintToString(describe(rows));
    EXPECT_EQ(rows[0].ValueName, longName);
    EXPECT_EQ(rows[1].ValueName, "After");
    o = options("11 AB CD");
    o.TypeBinary = true;
    rows = search(o, kPath + "\\Big");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].ValueName, "Large");
    EXPECT_EQ(rows[0].DataText.size(), 200000u * 3 - 1);
}

TEST_F(SearchEngine, HexTermsDatesStopAndBadExpressions)
{
    EXPECT_TRUE(ValidHexTerm("41 42"));
    EXPECT_TRUE(ValidHexTerm("4142"));
    EXPECT_TRUE(ValidHexTerm("41 42 "));
    EXPECT_FALSE(ValidHexTerm("4"));
    EXPECT_FALSE(ValidHexTerm("41  42"));
    EXPECT_FALSE(ValidHexTerm("4G"));
    EXPECT_FALSE(ValidHexTerm(""));
    EXPECT_EQ(HexTermToText("41 42"), "AB");
    EXPECT_EQ(HexTermToText("72756e"), "run");

    // Inclusive bounds; an unknown time (0) passes every mode.
    const struct {
        TDateTime t;
        uint8_t mode;
        bool passes;
    } dates[] = {{10, dmNewer, true},   {9.5, dmNewer, false}, {10, dmOlder, true},   {10.5, dmOlder, false},
                 {10, dmBetween, true}, {20, dmBetween, true}, {20.5, dmBetween, false}, {15, dmOutside, false},
                 {10, dmOutside, true}, {20, dmOutside, true}, {0, dmBetween, true},  {0, dmNewer, true},
                 {99, dmAnyDate, true}};
    for (const auto &d : dates)
        EXPECT_EQ(KeyDatePasses(d.t, d.mode, 10, 20), d.passes) << d.t << " mode " << int(d.mode);

    // The date filter reads the key's own last-write time and applies to keys only.
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kPath + "\\Runner"));
    TRegKeyInfo info;
    ASSERT_TRUE(reg.GetKeyInfo(info));
    const TDateTime runnerTime = KeyTimeToDateTime(info.LastWriteTime);
    TSearchOptions o = options("run");
    o.DateMode = dmNewer;
    o.Date1 = runnerTime;
    auto rows = search(o);
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](auto &r) { return r.Caption == kFull + "\\Runner"; }));
    o.Date1 = runnerTime + 1; // a day later
    rows = search(o);
    EXPECT_FALSE(std::any_of(rows.begin(), rows.end(), [](auto &r) { return r.Caption == kFull + "\\Runner"; }));
    EXPECT_TRUE(std::any_of(rows.begin(), rows.end(), [](auto &r) { return r.ValueName == "AutoRun"; }));

    // Stop is tested before each key: the rows found so far stay.
    std::atomic<bool> stop{false};
    TSearchWalk walk(options("run"));
    std::vector<TSearchListItem> found;
    walk.StopFlag = &stop;
    walk.OnResult = [&](TSearchListItem &&r) {
        found.push_back(std::move(r));
        stop = true;
    };
    walk.SearchBranch(HKEY_CURRENT_USER, kPath, 0);
    EXPECT_EQ(found.size(), 4u) << "the first key's rows, then no other key";

    TSearchOptions bad = options("(run");
    bad.Style = csRegExpr;
    EXPECT_THROW(TSearchWalk{bad}, ERegExpr);
}

TEST_F(SearchEngine, WholeRegistryWalksSoftwareOncePerView)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtProbe64", 1));
    ASSERT_TRUE(CreateKeyAt(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtProbe32", 0));
    TSearchOptions o = options("VtProbe");
    o.Values = o.Data = false;
    TSearchWalk walk(o);
    walk.IsWow64 = true;
    std::vector<TSearchListItem> rows;
    std::vector<std::string> visited;
    walk.OnResult = [&](TSearchListItem &&r) { rows.push_back(std::move(r)); };
    walk.OnStatus = [&](HKEY root, const std::string &path) { visited.push_back(RootKeyToName(root) + path); };
    walk.SearchRegistry();
    ASSERT_EQ(rows.size(), 2u) << ::testing::PrintToString(describe(rows));
    // The 64-bit view is searched first (pushed last).
    EXPECT_EQ(rows[0].Caption, "HKEY_LOCAL_MACHINE\\SOFTWARE\\VtProbe64");
    EXPECT_EQ(rows[0].ImageIndex, rkKey64);
    EXPECT_EQ(rows[0].ViewMode, 2);
    EXPECT_EQ(rows[1].Caption, "HKEY_LOCAL_MACHINE\\SOFTWARE\\VtProbe32");
    EXPECT_EQ(rows[1].ImageIndex, rkKey32);
    auto count = [&](const std::string &name) { return std::count(visited.begin(), visited.end(), name); };
    EXPECT_EQ(count("HKEY_LOCAL_MACHINE\\SOFTWARE\\"), 2);
    EXPECT_EQ(count("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\"), 2);
    EXPECT_EQ(count("HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\"), 0);
    EXPECT_EQ(count("HKEY_LOCAL_MACHINE\\SYSTEM\\"), 1);
    EXPECT_EQ(count("HKEY_USERS\\"), 1);
    EXPECT_EQ(count("HKEY_CURRENT_USER\\"), 0);
    EXPECT_EQ(count("HKEY_CLASSES_ROOT\\"), 0);
}

TEST(SearchOrder, CaptionsSortLikeTheSystemList)
{
    const std::vector<std::string> sorted = {"HKEY_X\\a",      "HKEY_X\\A",     "HKEY_X\\ab",   "HKEY_X\\AB\\c",
                                             "HKEY_X\\AB1",    "HKEY_X\\ABc",   "HKEY_X\\co-op", "HKEY_X\\coop",
                                             "HKEY_X\\Zeta",   "HKEY_X\\\xC3\xA9"};
    for (size_t i = 0; i + 1 < sorted.size(); ++i) {
        EXPECT_LT(CompareCaptions(sorted[i], sorted[i + 1]), 0) << sorted[i] << " / " << sorted[i + 1];
        EXPECT_GT(CompareCaptions(sorted[i + 1], sorted[i]), 0) << sorted[i] << " / " << sorted[i + 1];
    }
    EXPECT_EQ(CompareCaptions("same", "same"), 0);
}

TEST(Replace, TextRepetitionAndItsEnd)
{
    const struct {
        std::string text, source, newText;
        bool ignoreCase;
        std::string result;
        int count;
    } cases[] = {
        {"AutoRun", "Run", "Start", false, "AutoStart", 1},
        {"AUTORUN", "Run", "Start", true, "AUTOStart", 1},
        {"AutoRun", "run", "Start", false, "AutoRun", 0},
        {"Run Run", "Run", "Go", false, "Go Go", 2},
        {"aabb", "ab", "", false, "", 2},       // an occurrence formed by the replacement is replaced too
        {"aaabbb", "ab", "", false, "", 3},
        {"abc", "", "x", false, "abc", 0},      // an empty source replaces nothing
        {"xyx", "x", "xx", false, "xxyxx", 2},  // the new text holds the source: each occurrence once
        {"Run", "run", "RUNNER", true, "RUNNER", 1},
        {"aXa", "a", "ba", false, "baXba", 2},
        {"ab", "ab", "ba", false, "ba", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text + " / " + c.source + " / " + c.newText);
        int count = 0;
        bool gaveUp = true;
        EXPECT_EQ(ReplaceInText(c.text, c.source, c.newText, c.ignoreCase, count, gaveUp), c.result);
        EXPECT_EQ(count, c.count);
        EXPECT_FALSE(gaveUp);
    }
    // ab -> baaa ends by itself only after 3^n steps: given up, text kept.
    int count = 0;
    bool gaveUp = false;
    const std::string text = "a" + std::string(40, 'b');
    EXPECT_EQ(ReplaceInText(text, "ab", "baaa", false, count, gaveUp, 100000), text);
    EXPECT_TRUE(gaveUp);
    EXPECT_EQ(count, 0);
}

// The one-pass replace gives what searching the changed text again after
// each replacement gives (the plain form, quadratic in the text, kept here
// as the reference), for every small case over a few letters.
TEST(Replace, OnePassEqualsSearchingAgainAfterEachReplacement)
{
    auto reference = [](const std::string &text, const std::string &source, const std::string &newText,
                        bool ignoreCase, int &count, bool &gaveUp, size_t maxLength) {
        gaveUp = false;
        if (source.empty())
            return text;
        const std::string s = ignoreCase ? AsciiUpperCase(source) : source;
        std::string w = ignoreCase ? AsciiUpperCase(text) : text;
        std::string result = text;
        const bool continueAfter = newText.find(s) != std::string::npos;
        int made = 0;
        size_t from = 0;
        for (;;) {
            const size_t p = w.find(s, from);
            if (p == std::string::npos)
                break;
            w.replace(p, s.size(), newText);
            result.replace(p, s.size(), newText);
            ++made;
            if (w.size() > maxLength || size_t(made) > maxLength) {
                gaveUp = true;
                return text;
            }
            from = continueAfter ? p + newText.size() : (p + 1 >= s.size() ? p + 1 - s.size() : 0);
        }
        count += made;
        return result;
    };
    std::mt19937 random(24);
    auto word = [&](size_t maxLen) {
        std::string w(random() % (maxLen + 1), ' ');
        for (char &c : w)
            c = "abA"[random() % 3];
        return w;
    };
    for (int round = 0; round < 20000; ++round) {
        const std::string text = word(12), source = word(3), newText = word(4);
        const bool ignoreCase = round % 2;
        SCOPED_TRACE(text + " / " + source + " / " + newText + (ignoreCase ? " /i" : ""));
        int wantCount = 0, gotCount = 0;
        bool wantGaveUp = false, gotGaveUp = false;
        const std::string want = reference(text, source, newText, ignoreCase, wantCount, wantGaveUp, 200);
        const std::string got = ReplaceInText(text, source, newText, ignoreCase, gotCount, gotGaveUp, 200);
        ASSERT_EQ(got, want);
        ASSERT_EQ(gotCount, wantCount);
        ASSERT_EQ(gotGaveUp, wantGaveUp);
    }
}

TEST_F(SearchEngine, ReplacePassesOnTheRegistry)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath, "Run Run", 32, "v"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath, "AutoStart", 32, "taken"));
    TSearchOptions o = options("run");
    auto rows = search(o);
    // Uncheck everything but: the AutoRun name (name taken: fails), Run Run,
    // the data of AutoRun and Multi, the key Runner and the value Run below it.
    for (auto &r : rows)
        r.Checked = true;
    TReplaceOptions ro;
    ro.Source = "Run";
    ro.NewText = "Start";
    ro.IgnoreCase = true;
    const TRowsOutcome outcome = ReplaceInSearchResults(rows, ro);

    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(kPath));
    EXPECT_TRUE(reg.ValueExists("AutoRun")) << "AutoStart was taken and overwriting is off";
    EXPECT_EQ(reg.ReadString("AutoRun"), "Start.exe");
    EXPECT_TRUE(reg.ValueExists("Start Start"));
    EXPECT_EQ(reg.ReadMultiString("Multi"), "a\r\nStart\r\n");
    EXPECT_EQ(reg.ReadString("AutoStart"), "taken");
    reg.CloseKey();
    // The value below the key was renamed under the key's old path first.
    EXPECT_TRUE(ValueExistsAt(HKEY_CURRENT_USER, kPath + "\\Startner", "Start"));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Runner"));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Alpha\\StartDeep"));

    // AutoRun (name), Run Run (2), AutoRun data, Multi data, Runner, Run, RunDeep.
    EXPECT_EQ(outcome.Replacements, 8);
    EXPECT_EQ(outcome.Failed, 1);
    int failed = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const bool removed = std::binary_search(outcome.Removed.begin(), outcome.Removed.end(), i);
        if (rows[i].Failed) {
            ++failed;
            EXPECT_FALSE(removed);
            EXPECT_EQ(rows[i].ValueName, "AutoRun");
            EXPECT_EQ(rows[i].ImageIndex, rkValueName);
        }
    }
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(outcome.Removed.size(), rows.size() - 1);

    // Binary data rows are never changed, even when checked.
    TSearchListItem blob;
    blob.RootKey = HKEY_CURRENT_USER;
    blob.KeyPath = kPath + "\\";
    blob.ValueName = "Blob";
    blob.DataType = rdBinary;
    blob.ImageIndex = rkData;
    std::vector<TSearchListItem> one{blob};
    ro.Source = "41";
    EXPECT_EQ(ReplaceInSearchResults(one, ro).Replacements, 0);
}

TEST_F(SearchEngine, DeleteKeepsWhatCouldNotBeDeleted)
{
    // A value everyone may read and nobody may delete.
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath + "\\Locked", "RunLocked", 32, "x"));
    auto sd = vt::security::descriptorFromSddl("D:P(A;;KR;;;WD)");
    ASSERT_TRUE(sd.has_value());
    {
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kPath + "\\Locked", false));
        ASSERT_EQ(RegSetKeySecurity(reg.CurrentKey(), DACL_SECURITY_INFORMATION, sd->data()), ERROR_SUCCESS);
    }
    auto rows = search(options("run"));
    ASSERT_EQ(rows.size(), 7u) << ::testing::PrintToString(describe(rows));
    ASSERT_EQ(rows[5].ValueName, "RunLocked");
    // A row whose value is gone already leaves the list as well.
    ASSERT_TRUE(DeleteValueAt(HKEY_CURRENT_USER, kPath + "\\Runner", "Run"));
    rows[1].Checked = false; // AutoRun's data row stays, unchecked

    const TRowsOutcome outcome = DeleteSearchResults(rows);
    EXPECT_EQ(outcome.Removed, (std::vector<size_t>{0, 2, 3, 4, 6}));
    EXPECT_EQ(outcome.Failed, 1);
    EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, kPath, "AutoRun"));
    EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, kPath, "Multi"));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Runner"));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Alpha\\RunDeep"));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Alpha"));
    EXPECT_TRUE(ValueExistsAt(HKEY_CURRENT_USER, kPath + "\\Locked", "RunLocked"));
}

TEST_F(SearchEngine, ExportWritesHeaderKeysAndValues)
{
    TSearchOptions o = options("run");
    const auto rows = search(o);
    std::vector<const TSearchListItem *> pick = {&rows[0], &rows[3]}; // value name AutoRun, key Runner
    TRegMemoryOutput out;
    ExportSearchResults(pick, {"Search results from now", "Search for: run"}, false, out);
    EXPECT_EQ(out.bytes, "REGEDIT4\r\n\r\n; Search results from now\r\n; Search for: run\r\n"
                         "\r\n[" + kFull + "]\r\n\"AutoRun\"=\"run.exe\"\r\n"
                         "\r\n[" + kFull + "\\Runner]\r\n");
    TRegMemoryOutput contents;
    ExportSearchResults({&rows[3]}, {}, true, contents);
    EXPECT_EQ(contents.bytes, "REGEDIT4\r\n\r\n\r\n[" + kFull + "\\Runner]\r\n\"Run\"=\"none\"\r\n");
}

} // namespace
