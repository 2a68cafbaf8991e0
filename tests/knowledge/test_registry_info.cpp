// The info database file, made byte by byte: each string tag, the length
// boundaries, foreign items, damaged files, the lookups and the safe save.

#include "knowledge/RegistryInfo.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace vt::knowledge;
namespace fs = std::filesystem;

namespace
{

// Strings of the stream, written here independently of the writer.
std::string s06(const std::string &t)
{
    return std::string(1, '\x06') + char(t.size()) + t;
}
std::string len4(std::uint32_t n)
{
    return {char(n & 0xFF), char((n >> 8) & 0xFF), char((n >> 16) & 0xFF), char((n >> 24) & 0xFF)};
}
std::string s0C(const std::string &t)
{
    return "\x0C" + len4(std::uint32_t(t.size())) + t;
}
std::string s14(const std::string &t)
{
    return "\x14" + len4(std::uint32_t(t.size())) + t;
}
// UTF-16LE from code units.
std::string s12(const std::vector<char16_t> &units)
{
    std::string out = "\x12" + len4(std::uint32_t(units.size()));
    for (char16_t u : units) {
        out += char(u & 0xFF);
        out += char(u >> 8);
    }
    return out;
}
std::string item(const std::string &key, const std::string &value = "", const std::string &info = "",
                 const std::string &urls = "")
{
    return s06("TRegistryInfoItem") + s06(key) + s06(value) + s06(info) + s06(urls);
}
std::string file(const std::string &records)
{
    return std::string("TPF0\x01", 5) + records + std::string(1, '\0');
}

TRegistryInfo readBytes(const std::string &bytes)
{
    TRegistryInfo info;
    info.ReadFromBytes(bytes.data(), bytes.size());
    return info;
}

class InfoFiles : public ::testing::Test
{
protected:
    std::string dir = vt::test::makeTempDir("vt-infodb");
    std::string path = dir + "/Vantrel.rdb";
    void TearDown() override { vt::test::removeTree(dir); }
    static void write(const std::string &name, const std::string &bytes)
    {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    static std::string read(const std::string &name)
    {
        std::ifstream f(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
};

TEST(InfoDatabase, EveryTagReads)
{
    const std::string key255(255, 'k'), key256(256, 'k');
    const std::string bytes =
        file(s06("TRegistryInfoItem") + s06("HKEY_LOCAL_MACHINE\\SOFTWARE") + s06("") + s06("one\r\ntwo\r\n") +
             s06("") +                                                                  // tag 0x06
             s06("TRegistryInfoItem") + s0C(key256) + s06("") + s0C(key255) + s06("") + // 0x0C, also for short text
             s06("TRegistryInfoItem") + s14("HKEY_CURRENT_USER\\Gr\xc3\xbc\xc3\x9f") + s06("v") + s14("\xc3\xa4\r\n") +
             s06("http://a\r\nhttp://b\r\n") + // 0x14
             s06("TRegistryInfoItem") + s12({u'H', u'K', 0x00C4}) + s12({}) + s12({u'x', 0xD800, u'y'}) + s06(""));
    const TRegistryInfo info = readBytes(bytes);
    ASSERT_EQ(info.Count(), 4u);
    EXPECT_EQ(info.Item(0).Key, "HKEY_LOCAL_MACHINE\\SOFTWARE");
    EXPECT_EQ(info.Item(0).Info, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(info.Item(1).Key, key256);
    EXPECT_EQ(info.Item(1).Info, std::vector<std::string>{key255});
    EXPECT_EQ(info.Item(2).Key, "HKEY_CURRENT_USER\\Gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(info.Item(2).Value, "v");
    EXPECT_EQ(info.Item(2).Info, std::vector<std::string>{"\xc3\xa4"});
    EXPECT_EQ(info.Item(2).URLs, (std::vector<std::string>{"http://a", "http://b"}));
    // UTF-16 becomes the program's 8-bit set (UTF-8); a lone surrogate reads too.
    EXPECT_EQ(info.Item(3).Key, "HK\xc3\x84");
    EXPECT_EQ(info.Item(3).Info.size(), 1u);
    EXPECT_EQ(info.Item(3).Info[0].front(), 'x');
    EXPECT_EQ(info.Item(3).Info[0].back(), 'y');
}

TEST(InfoDatabase, WriterChoosesTheTagByText)
{
    struct Case {
        std::string text;
        std::string bytes;
    };
    const std::string a255(255, 'a'), a256(256, 'a');
    const std::vector<Case> cases = {
        {"", std::string("\x06\x00", 2)},
        {"abc", s06("abc")},
        {a255, s06(a255)},
        {a256, s0C(a256)},
        {"Gr\xc3\xbc\xc3\x9f", s14("Gr\xc3\xbc\xc3\x9f")},
        {"\xe2\x82\xac", s14("\xe2\x82\xac")},
    };
    for (const Case &c : cases) {
        std::string out;
        AppendInfoString(out, c.text);
        EXPECT_EQ(out, c.bytes) << c.text.size();
    }
    // A whole file: signature, list start, class name and four strings per item, list end.
    TRegistryInfo info;
    TRegistryInfoItem &first = info.Add("HKEY_LOCAL_MACHINE\\SOFTWARE");
    first.Info = {"Software \xc3\xbc", ""};
    info.Add("HKEY_USERS").URLs = {"http://x"};
    info.Add("HKEY_USERS"); // an empty Info is still written
    EXPECT_EQ(info.WriteToBytes(), file(s06("TRegistryInfoItem") + s06("HKEY_LOCAL_MACHINE\\SOFTWARE") + s06("") +
                                        s14("Software \xc3\xbc\r\n\r\n") + s06("") +
                                        item("HKEY_USERS", "", "", "http://x\r\n") + item("HKEY_USERS")));
}

TEST(InfoDatabase, ListTextSplitsAtEveryBreak)
{
    struct Case {
        const char *text;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\n\r\n", {"a", ""}},
        {"a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        {"a\n\rb", {"a", "", "b"}},
        {"\r\n", {""}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TextToList(c.text), c.lines) << c.text;
    EXPECT_EQ(ListToText({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(ListToText({}), "");
}

TEST(InfoDatabase, ForeignClassesAreSkippedStringByString)
{
    const std::string bytes =
        file(s06("TOtherItem") + s06("HKEY_USERS") + s0C("x") + item("HKEY_CURRENT_USER", "", "kept\r\n"));
    const TRegistryInfo info = readBytes(bytes);
    ASSERT_EQ(info.Count(), 1u);
    EXPECT_EQ(info.Item(0).Key, "HKEY_CURRENT_USER");
    EXPECT_EQ(info.Item(0).Info, std::vector<std::string>{"kept"});
}

TEST(InfoDatabase, DamagedStreamsKeepWhatWasReadBefore)
{
    struct Case {
        const char *what;
        std::string bytes;
        const char *message;
        std::size_t items;
    };
    const std::string good = item("HKEY_USERS", "", "a\r\n");
    const std::string start("TPF0\x01", 5);
    const std::vector<Case> cases = {
        {"empty", "", "Invalid stream format", 0},
        {"short signature", "TPF", "Invalid stream format", 0},
        {"other signature", "TPF1\x01", "Invalid stream format", 0},
        {"no list start", "TPF0", "Stream read error", 0},
        {"bad list start", "TPF0\x02\x00", "Invalid property value", 0},
        {"unknown tag", start + good + "\x07\x01x" + std::string(1, '\0'), "Invalid property value", 1},
        {"tag in an item", start + good + s06("TRegistryInfoItem") + s06("K") + "\x09", "Invalid property value", 1},
        {"length beyond the end", start + good + "\x0C" + len4(1000000) + "abc", "Stream read error", 1},
        {"huge length", start + good + "\x14" + len4(0xFFFFFFFFu) + "abc", "Stream read error", 1},
        {"huge UTF-16 count", start + good + "\x12" + len4(0x80000000u) + "ab", "Stream read error", 1},
        {"odd UTF-16 bytes", start + good + "\x12" + len4(2) + "abc", "Stream read error", 1},
        {"cut in a length", start + good + "\x0C\x01\x00", "Stream read error", 1},
        {"half an item", start + good + s06("TRegistryInfoItem") + s06("HKEY_USERS\\x") + s06(""), "Stream read error",
         1},
        {"no list end", start + good, "Stream read error", 1},
        {"data after the end", file(good) + "x", "Unexpected data after the end of the list", 1},
    };
    for (const Case &c : cases) {
        TRegistryInfo info;
        try {
            info.ReadFromBytes(c.bytes.data(), c.bytes.size());
            ADD_FAILURE() << c.what << ": read without complaint";
        } catch (const EInfoDatabase &e) {
            EXPECT_STREQ(e.what(), c.message) << c.what;
        }
        EXPECT_EQ(info.Count(), c.items) << c.what;
        if (c.items)
            EXPECT_EQ(info.Item(0).Info, std::vector<std::string>{"a"}) << c.what;
    }
    // Bytes that are not UTF-8 read and come back as they were.
    const std::string odd =
        file(s06("TRegistryInfoItem") + s14("HKEY_USERS\\\xff\xfe") + s06("") + s14("\xc3(\r\n") + s06(""));
    const TRegistryInfo oddInfo = readBytes(odd);
    ASSERT_EQ(oddInfo.Count(), 1u);
    EXPECT_EQ(oddInfo.Item(0).Key, "HKEY_USERS\\\xff\xfe");
    EXPECT_EQ(oddInfo.WriteToBytes(), odd);
}

TEST(InfoDatabase, LookupIgnoresCaseThroughTheIndex)
{
    TRegistryInfo info = readBytes(file(
        item("HKEY_CURRENT_USER\\Software", "", "first\r\n") + item("HKEY_CURRENT_USER\\SOFTWARE", "", "second\r\n") +
        item("HKEY_CURRENT_USER\\Software", "Run", "value\r\n") + s06("TRegistryInfoItem") +
        s14("HKEY_USERS\\\xc3\x84rger") + s06("") + s06("umlaut\r\n") + s06("")));
    TRegistryInfoItem *found = info.FindKeyItem("hkey_current_user\\software");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->Info, std::vector<std::string>{"first"}) << "the first item wins";
    ASSERT_NE(info.FindKeyItem("HKEY_USERS\\\xc3\xa4RGER"), nullptr) << "letters beyond ASCII fold too";
    EXPECT_EQ(info.FindKeyItem("HKEY_USERS\\Arger"), nullptr) << "but accents stay";
    EXPECT_EQ(info.FindKeyItem("HKEY_CURRENT_USER\\Software\\Run"), nullptr);
    EXPECT_EQ(info.FindKeyItem("HKEY_CURRENT_USER\\Software "), nullptr);
    // Value items are found only as such, and only with a name.
    TRegistryInfoItem *value = info.FindValueItem("HKEY_CURRENT_USER\\SOFTWARE", "run");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->Info, std::vector<std::string>{"value"});
    EXPECT_EQ(info.FindValueItem("HKEY_CURRENT_USER\\Software", ""), nullptr);
    // Items added in this run are found at once; pointers stay valid as it grows.
    TRegistryInfoItem &added = info.Add("HKEY_LOCAL_MACHINE");
    for (int i = 0; i < 5000; ++i)
        info.Add("HKEY_LOCAL_MACHINE\\K" + std::to_string(i));
    EXPECT_EQ(info.FindKeyItem("hkey_local_machine"), &added);
    EXPECT_EQ(info.FindKeyItem("HKEY_LOCAL_MACHINE\\k4999"), &info.Item(info.Count() - 1));
    // The comparison the index stands for.
    EXPECT_TRUE(SameInfoKey("HKEY_CURRENT_USER\\Software", "hkey_current_user\\SOFTWARE"));
    EXPECT_FALSE(SameInfoKey("a", "a "));
}

TEST_F(InfoFiles, RoundTripKeepsItemsAndOrder)
{
    const std::string clean =
        file(item("HKEY_USERS", "", "u\r\n", "http://u\r\n") + item("HKEY_USERS\\A", "v") + item("HKEY_LOCAL_MACHINE") +
             s06("TRegistryInfoItem") + s14("\xc3\xa4") + s06("") + s06("") + s06(""));
    write(path, clean);
    TRegistryInfo info;
    info.LoadFromFile(path);
    EXPECT_FALSE(info.KeepAsidePending());
    ASSERT_EQ(info.Count(), 4u);
    info.SaveToFile(path);
    EXPECT_EQ(read(path), clean);
    EXPECT_TRUE(info.KeptAsideAs().empty());
    // Nothing but the file is left in the folder.
    int entries = 0;
    for (const auto &e : fs::directory_iterator(dir))
        entries += e.exists() ? 1 : 0;
    EXPECT_EQ(entries, 1);
}

TEST_F(InfoFiles, MissingFileIsEmptyAndTheFirstSaveMakesIt)
{
    TRegistryInfo info;
    info.Add("stale");
    info.LoadFromFile(path);
    EXPECT_EQ(info.Count(), 0u);
    EXPECT_FALSE(info.KeepAsidePending());
    info.Add("HKEY_CURRENT_USER\\Software");
    info.SaveToFile(path);
    EXPECT_EQ(read(path), file(item("HKEY_CURRENT_USER\\Software")));
    EXPECT_FALSE(fs::exists(path + ".damaged"));
}

TEST_F(InfoFiles, OnlyRegularFilesAreRead)
{
    TRegistryInfo info;
    for (const std::string &odd : {std::string("/dev/zero"), dir}) {
        EXPECT_THROW(info.LoadFromFile(odd), EInfoDatabase) << odd;
        EXPECT_EQ(info.Count(), 0u);
        EXPECT_TRUE(info.KeepAsidePending());
    }
}

TEST_F(InfoFiles, DamagedFileIsKeptAsideBeforeTheFirstSave)
{
    const std::string damaged = std::string("TPF0\x01", 5) + item("HKEY_USERS", "", "a\r\n") + "\x0C\xff\xff";
    write(path, damaged);
    write(path + ".damaged", "an earlier copy");
    TRegistryInfo info;
    EXPECT_THROW(info.LoadFromFile(path), EInfoDatabase);
    ASSERT_EQ(info.Count(), 1u);
    EXPECT_TRUE(info.KeepAsidePending());
    EXPECT_EQ(DamagedFileName(path), path + ".damaged.1");
    info.Add("HKEY_CURRENT_USER");
    info.SaveToFile(path);
    EXPECT_EQ(info.KeptAsideAs(), path + ".damaged.1");
    EXPECT_EQ(read(path + ".damaged.1"), damaged) << "the damaged file whole";
    EXPECT_EQ(read(path + ".damaged"), "an earlier copy") << "never over an earlier one";
    EXPECT_EQ(read(path), file(item("HKEY_USERS", "", "a\r\n") + item("HKEY_CURRENT_USER")));
    // Only the first save keeps it aside.
    info.SaveToFile(path);
    EXPECT_FALSE(fs::exists(path + ".damaged.2"));
    // A foreign file loaded again goes to the next free name.
    write(path, "not a database");
    EXPECT_THROW(info.LoadFromFile(path), EInfoDatabase);
    info.SaveToFile(path);
    EXPECT_EQ(read(path + ".damaged.2"), "not a database");
    EXPECT_EQ(read(path), file(""));
}

TEST_F(InfoFiles, UnwritableFolderRaisesAndKeepsTheItems)
{
    TRegistryInfo info;
    info.Add("HKEY_USERS").Info = {"new text"};
    // A folder that cannot take the file: missing, or a file in its place.
    write(dir + "/plain", "x");
    for (const std::string &target : {dir + "/missing/Vantrel.rdb", dir + "/plain/Vantrel.rdb"}) {
        EXPECT_THROW(info.SaveToFile(target), EInfoDatabase) << target;
        EXPECT_EQ(info.Item(0).Info, std::vector<std::string>{"new text"});
    }
    EXPECT_EQ(read(dir + "/plain"), "x");
}

} // namespace
