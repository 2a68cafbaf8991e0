// vantrel-cli: each verb in process on a temporary system, then the built
// program in its own processes, with reglookup as the oracle for a loaded hive.
#include "cli/CliApp.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "core/zoStrings.h"
#include "platform/hive/Regf.h"
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "tests/support/TempSystem.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <tuple>

namespace
{

namespace fs = std::filesystem;

const std::string kKey = "HKCU\\Software\\VtCli";
const std::string kFull = "HKEY_CURRENT_USER\\Software\\VtCli";
const std::string kPath = "\\Software\\VtCli";

const std::string kSyntax = "ERROR: Invalid syntax.\nType \"vantrel-cli %s /?\" for usage.\n";
const std::string kBadKey = "ERROR: Invalid key name.\nType \"vantrel-cli %s /?\" for usage.\n";
const std::string kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";
const std::string kDone = "The operation completed successfully.\n";
const std::string kCancelled = "The operation was canceled by the user.\n";

std::string verbText(std::string text, const std::string &verb)
{
    if (size_t p = text.find("%s"); p != std::string::npos)
        text.replace(p, 2, verb);
    return text;
}

struct Result {
    int code;
    std::string out, err;
};

TRegByteArray bytes(const std::string &s)
{
    return TRegByteArray(s.begin(), s.end());
}

class Cli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = vt::test::makeTempDir("vt-cli");
        m_system = std::make_unique<vt::test::TempSystem>();
        ASSERT_EQ(m_system->openResult(), ERROR_SUCCESS);
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kPath, true));
        reg.WriteString("", "def");
        reg.WriteString("str", "hello");
        reg.WriteInteger("num", 0x1F);
        reg.WriteInt64("q", 0x100000000LL);
        reg.writeValue("bin", REG_BINARY, {0x01, 0xAB});
        reg.writeValue("multi", REG_MULTI_SZ, bytes(std::string("a\0b\0\0", 5)));
        reg.WriteNone("none");
        reg.writeValue("be", REG_DWORD_BIG_ENDIAN, {0, 0, 1, 0});
        reg.writeValue("odd", 0x100000, {0xFF});
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath + "\\Sub", "x", 32, "1"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Sub\\Deep"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Empty"));
    }
    void TearDown() override
    {
        m_system.reset();
        vt::test::removeTree(m_dir.string());
    }

    static Result run(const std::vector<std::string> &words, const std::string &input = "")
    {
        auto command = vt::cli::createCommand(words.at(0));
        EXPECT_TRUE(command) << words[0];
        if (!command)
            return {-1, "", ""};
        std::istringstream in(input);
        std::ostringstream out, err;
        command->setInput(&in);
        const int code = command->execute({words.begin() + 1, words.end()}, out, err);
        return {code, out.str(), err.str()};
    }

    static std::pair<uint32_t, TRegByteArray> raw(const std::string &path, const std::string &name)
    {
        TMyRegistry reg;
        uint32_t code = 0xDEAD;
        TRegByteArray data;
        if (reg.OpenKeyReadOnly(path))
            reg.readValue(name, code, data);
        return {code, data};
    }

    fs::path m_dir;
    std::unique_ptr<vt::test::TempSystem> m_system;
};

struct Case {
    std::vector<std::string> words;
    std::string input;
    int code;
    std::string out, err;
};

void runCases(const std::vector<Case> &cases, Result (*run)(const std::vector<std::string> &, const std::string &))
{
    for (const Case &c : cases) {
        std::string line;
        for (const auto &w : c.words)
            line += w + " ";
        SCOPED_TRACE(line);
        const Result r = run(c.words, c.input);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

TEST_F(Cli, Query)
{
    const std::string values = "    (Default)    REG_SZ    def\n"
                               "    str    REG_SZ    hello\n"
                               "    num    REG_DWORD    0x1f\n"
                               "    q    REG_QWORD    0x100000000\n"
                               "    bin    REG_BINARY    01AB\n"
                               "    multi    REG_MULTI_SZ    a\\0b\n"
                               "    none    REG_NONE    \n"
                               "    be    REG_DWORD_BIG_ENDIAN    0x100\n"
                               "    odd    0x100000    FF\n";
    const std::string q = verbText(kSyntax, "QUERY");
    runCases(
        {
            {{"query", kKey}, "", 0, "\n" + kFull + "\n" + values + "\n" + kFull + "\\Empty\n" + kFull + "\\Sub\n", ""},
            {{"query", kKey + "\\"},
             "",
             0,
             "\n" + kFull + "\n" + values + "\n" + kFull + "\\Empty\n" + kFull + "\\Sub\n",
             ""},
            {{"query", kKey + "\\Sub", "/s"},
             "",
             0,
             "\n" + kFull + "\\Sub\n    x    REG_SZ    1\n\n" + kFull + "\\Sub\\Deep\n\n",
             ""},
            {{"query", kKey + "\\Empty"}, "", 0, "\n", ""},
            {{"query", kKey, "/v", "str"}, "", 0, "\n" + kFull + "\n    str    REG_SZ    hello\n\n", ""},
            {{"query", kKey, "-V", "STR"}, "", 0, "\n" + kFull + "\n    STR    REG_SZ    hello\n\n", ""},
            {{"query", kKey, "/ve"}, "", 0, "\n" + kFull + "\n    (Default)    REG_SZ    def\n\n", ""},
            {{"query", kKey + "\\Empty", "/ve"},
             "",
             0,
             "\n" + kFull + "\\Empty\n    (Default)    REG_SZ    (value not set)\n",
             ""},
            {{"query", kKey, "/v", "x", "/S"},
             "",
             0,
             "\n" + kFull + "\\Sub\n    x    REG_SZ    1\n\nEnd of search: 1 match(es) found.\n",
             ""},
            {{"query", kKey, "/v", "absent", "/s"}, "", 0, "\nEnd of search: 0 match(es) found.\n", ""},
            {{"query", "hkey_current_user\\software\\vtcli\\sub"},
             "",
             0,
             "\nHKEY_CURRENT_USER\\software\\vtcli\\sub\n    x    REG_SZ    1\n\n"
             "HKEY_CURRENT_USER\\software\\vtcli\\sub\\Deep\n",
             ""},
            {{"query", kKey, "/v", "absent"}, "", 1, "\n", kNotFound},
            {{"query", kKey + "\\Missing"}, "", 1, "", kNotFound},
            {{"query"}, "", 1, "", q},
            {{"query", kKey, "/v"}, "", 1, "", q},
            {{"query", kKey, "/v", "a", "/ve"}, "", 1, "", q},
            {{"query", kKey, "/s", "/s"}, "", 1, "", q},
            {{"query", kKey, "/x"}, "", 1, "", q},
            {{"query", kKey, "s"}, "", 1, "", q},
            {{"query", "HKXX\\Software"}, "", 1, "", verbText(kBadKey, "QUERY")},
            {{"query", "HKCU\\\\Software"}, "", 1, "", verbText(kBadKey, "QUERY")},
        },
        run);
}

TEST_F(Cli, QueryOfALockedKeySaysAccessDenied)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Locked"));
    auto sd = vt::security::descriptorFromSddl("D:P(A;;KA;;;SY)");
    ASSERT_TRUE(sd.has_value());
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey(kPath + "\\Locked", false));
    ASSERT_EQ(RegSetKeySecurity(reg.CurrentKey(), DACL_SECURITY_INFORMATION, sd->data()), ERROR_SUCCESS);
    reg.CloseKey();
    for (const std::vector<std::string> &words :
         {std::vector<std::string>{"query", kKey + "\\Locked"}, {"delete", kKey + "\\Locked", "/f"}}) {
        const Result r = run(words);
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, "ERROR: Access is denied.\n") << words[0];
    }
    std::vector<std::string> names;
    ASSERT_TRUE(KeyNamesAt(HKEY_CURRENT_USER, kPath, names));
    EXPECT_NE(std::find(names.begin(), names.end(), "Locked"), names.end());
}

// The tool is a 64-bit program, as reg is: HKLM\SOFTWARE without a switch is
// the 64-bit key, /reg:32 reaches Wow6432Node, on every verb.
TEST_F(Cli, RegistryViews)
{
    const std::string key = "HKLM\\SOFTWARE\\VtView", full = "HKEY_LOCAL_MACHINE\\SOFTWARE\\VtView";
    const std::string wow = "HKLM\\SOFTWARE\\Wow6432Node\\VtView";
    const std::string shows64 = "\n" + full + "\n    bits    REG_SZ    64\n\n";
    runCases(
        {
            {{"add", key, "/v", "bits", "/d", "64"}, "", 0, kDone, ""},
            {{"query", key}, "", 0, shows64, ""},
            {{"query", key, "-REG:64"}, "", 0, shows64, ""},
            {{"query", key, "/reg:32"}, "", 1, "", kNotFound},
            {{"query", wow}, "", 1, "", kNotFound},
            {{"query", key, "/reg:64", "/reg:32"}, "", 1, "", verbText(kSyntax, "QUERY")},
            {{"add", key, "/v", "bits", "/d", "32", "/reg:32"}, "", 0, kDone, ""},
            {{"query", wow, "/v", "bits"},
             "",
             0,
             "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\VtView\n    bits    REG_SZ    32\n\n",
             ""},
            {{"copy", key, key + "Copy"}, "", 0, kDone, ""},
            {{"query", key + "Copy", "/v", "bits"}, "", 0, "\n" + full + "Copy\n    bits    REG_SZ    64\n\n", ""},
            {{"delete", key + "Copy", "/f", "/reg:32"}, "", 1, "", kNotFound},
            {{"delete", key + "Copy", "/f"}, "", 0, kDone, ""},
            {{"load", "HKLM\\VtNone", "/reg:32", "/reg:64", "x"}, "", 1, "", verbText(kSyntax, "LOAD")},
            {{"unload", "HKLM\\VtNone", "/reg:64"}, "", 1, "", "ERROR: The system cannot find the file specified.\n"},
        },
        run);

    // export reads, import writes the view chosen, 64-bit by default.
    const std::string file = (m_dir / "view.reg").string();
    for (const char *view : {"", "/reg:32"}) {
        SCOPED_TRACE(view);
        std::vector<std::string> words = {"export", key, file, "/y", "/reg:4"};
        if (*view)
            words.push_back(view);
        ASSERT_EQ(run(words).code, 0);
        std::ifstream in(file, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find(*view ? "\"bits\"=\"32\"" : "\"bits\"=\"64\""), std::string::npos) << text;
    }
    ASSERT_EQ(run({"delete", key, "/f"}).code, 0);
    ASSERT_EQ(run({"delete", key, "/f", "/reg:32"}).code, 0);
    ASSERT_EQ(run({"import", file}).code, 0); // the file holds the 32-bit data now
    EXPECT_EQ(run({"query", key, "/v", "bits"}).out, "\n" + full + "\n    bits    REG_SZ    32\n\n");
    EXPECT_EQ(run({"query", key, "/reg:32"}).code, 1);
    ASSERT_EQ(run({"import", file, "/reg:32"}).code, 0);
    EXPECT_EQ(run({"query", wow, "/reg:64"}).code, 0);
}

// A hive as a crafted file may hold it: keys named "" and "a\\b" beside an
// ordinary one, and a subtree only SYSTEM may read. Made with the platform's
// own hive writer.
std::string writeCraftedHive(const fs::path &file)
{
    using vt::hive::Key;
    auto key = [](Key &parent, const std::string &name) -> Key & {
        auto k = std::make_unique<Key>();
        k->name = name;
        k->upperName = vt::hive::upperName(name);
        k->parent = &parent;
        parent.subkeys.push_back(std::move(k));
        return *parent.subkeys.back();
    };
    auto value = [](Key &k, const std::string &name, const std::string &text) {
        vt::hive::Value v;
        v.name = name;
        v.type = REG_BINARY;
        v.data.assign(text.begin(), text.end());
        k.values.push_back(v);
    };
    vt::hive::Hive hive;
    hive.root = std::make_unique<Key>();
    hive.root->name = hive.root->upperName = "ROOT";
    Key &unnamed = key(*hive.root, "");
    value(unnamed, "u", "1");
    key(unnamed, "Inner");
    value(key(*hive.root, "a\\b"), "s", "2");
    Key &locked = key(*hive.root, "Locked");
    locked.security = std::make_shared<vt::hive::SecurityDescriptor>(
        vt::security::descriptorFromSddl("O:SYG:SYD:P(A;;KA;;;SY)").value());
    key(locked, "Deep");
    value(key(*hive.root, "Plain"), "p", "3");
    std::sort(hive.root->subkeys.begin(), hive.root->subkeys.end(),
              [](const auto &a, const auto &b) { return a->upperName < b->upperName; });
    EXPECT_EQ(vt::hive::saveHiveFile(file.string(), hive), ERROR_SUCCESS);
    return file.string();
}

// Walks go by handle: a key named "" or "a\\b" is never re-resolved into its
// parent (which recursed until the stack overflowed), and what a walk leaves
// out is said on stderr with exit code 1, never "completed successfully".
TEST_F(Cli, WalksSkipWhatTheyCannotReadAndSaySo)
{
    ASSERT_EQ(run({"load", "HKLM\\VtCrafted", writeCraftedHive(m_dir / "crafted.hiv")}).code, 0);
    const std::string full = "HKEY_LOCAL_MACHINE\\VtCrafted";
    const std::string skipped = "ERROR: Access is denied.\n"
                                "ERROR: 1 key could not be read and was skipped.\n"
                                "ERROR: 2 keys with an empty name or a backslash in the name were skipped.\n"
                                "Skipped:\n"
                                "    " +
                                full +
                                "\\\n"
                                "    " +
                                full +
                                "\\a\\b\n"
                                "    " +
                                full + "\\Locked\n";

    Result r = run({"query", "HKLM\\VtCrafted", "/s"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "\n" + full + "\\Plain\n    p    REG_BINARY    33\n\n");
    EXPECT_EQ(r.err, skipped);
    r = run({"query", "HKLM\\VtCrafted", "/v", "p", "/s"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, skipped);

    const fs::path file = m_dir / "crafted.reg";
    r = run({"export", "HKLM\\VtCrafted", file.string(), "/reg:4"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, skipped);
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string expected = "REGEDIT4\r\n\r\n[" + full +
                                 "]\r\n\r\n"
                                 "// the key " +
                                 full +
                                 "\\ cannot be written: its name is empty or holds a "
                                 "backslash or a line break\r\n\r\n"
                                 "// the key " +
                                 full +
                                 "\\a\\b cannot be written: its name is empty or holds a "
                                 "backslash or a line break\r\n\r\n"
                                 "[" +
                                 full +
                                 "\\Locked]\r\n\r\n"
                                 "[" +
                                 full + "\\Plain]\r\n\"p\"=hex:33\r\n\r\n";
    EXPECT_EQ(text, expected);

    r = run({"copy", "HKLM\\VtCrafted", "HKCU\\Software\\VtCraftedCopy", "/s", "/f"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, skipped);
    EXPECT_EQ(raw("\\Software\\VtCraftedCopy\\Plain", "p"), std::make_pair(uint32_t(REG_BINARY), bytes("3")));
    EXPECT_EQ(run({"unload", "HKLM\\VtCrafted"}).code, 0);
}

// A key whose name holds a NUL cannot be named through the A functions:
// the walk says so by its own message (not "Access is denied"), shows the
// NUL as <NUL>, and goes on with the keys after it.
TEST_F(Cli, WalksNameAKeyWhoseNameHoldsANul)
{
    using vt::hive::Key;
    vt::hive::Hive hive;
    hive.root = std::make_unique<Key>();
    hive.root->name = hive.root->upperName = "ROOT";
    for (const std::string name : {std::string("a\0b", 3), std::string("z")}) {
        auto k = std::make_unique<Key>();
        k->name = name;
        k->upperName = vt::hive::upperName(name);
        k->parent = hive.root.get();
        vt::hive::Value v;
        v.name = "v";
        v.type = REG_BINARY;
        v.data = {0x31};
        k->values.push_back(v);
        hive.root->subkeys.push_back(std::move(k));
    }
    const fs::path file = m_dir / "nul.hiv";
    ASSERT_EQ(vt::hive::saveHiveFile(file.string(), hive), ERROR_SUCCESS);
    ASSERT_EQ(run({"load", "HKLM\\VtNul", file.string()}).code, 0);
    const std::string full = "HKEY_LOCAL_MACHINE\\VtNul";
    const std::string skipped =
        "ERROR: 1 key with a NUL in the name, which the A functions cannot express, was skipped.\n"
        "Skipped:\n"
        "    " +
        full + "\\a<NUL>b\n";
    Result r = run({"query", "HKLM\\VtNul", "/s"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "\n" + full + "\\z\n    v    REG_BINARY    31\n\n");
    EXPECT_EQ(r.err, skipped);
    r = run({"query", "HKLM\\VtNul", "/f", "v", "/s"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, skipped);
    r = run({"export", "HKLM\\VtNul", (m_dir / "nul.reg").string(), "/reg:4"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, skipped);
    std::ifstream in(m_dir / "nul.reg", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("// the key " + full + "\\a<NUL>b cannot be written: its name holds a NUL\r\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find('\0'), std::string::npos);
    EXPECT_EQ(run({"unload", "HKLM\\VtNul"}).code, 0);
}

TEST_F(Cli, AddWritesEachType)
{
    struct Row {
        std::vector<std::string> switches;
        std::string name;
        uint32_t code;
        std::string data;
    } rows[] = {
        {{"/v", "s", "/d", "text"}, "s", REG_SZ, std::string("text\0", 5)},
        {{"/v", "s0"}, "s0", REG_SZ, std::string("\0", 1)},
        {{"/ve", "/d", "x"}, "", REG_SZ, std::string("x\0", 2)},
        {{"/d", "y", "/f"}, "", REG_SZ, std::string("y\0", 2)},
        {{"/v", "d", "/t", "REG_DWORD", "/d", "0x1F"}, "d", REG_DWORD, std::string("\x1F\0\0\0", 4)},
        {{"/v", "d2", "/t", "reg_dword", "/d", "4294967295"}, "d2", REG_DWORD, "\xFF\xFF\xFF\xFF"},
        {{"/v", "d3", "/t", "REG_DWORD"}, "d3", REG_DWORD, std::string(4, '\0')},
        {{"/v", "be", "/t", "REG_DWORD_BIG_ENDIAN", "/d", "256"},
         "be",
         REG_DWORD_BIG_ENDIAN,
         std::string("\0\0\x01\0", 4)},
        {{"/v", "q", "/t", "REG_QWORD", "/d", "0xFFFFFFFFFFFFFFFF"}, "q", REG_QWORD, std::string(8, '\xFF')},
        {{"/v", "b", "/t", "REG_BINARY", "/d", "abc"}, "b", REG_BINARY, "\x0A\xBC"},
        {{"/v", "b0", "/t", "REG_BINARY"}, "b0", REG_BINARY, ""},
        {{"/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0b"}, "m", REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
        {{"/v", "m2", "/t", "REG_MULTI_SZ", "/s", "#", "/d", "a#bc#"}, "m2", REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {{"/v", "e", "/t", "REG_EXPAND_SZ", "/d", "%PATH%"}, "e", REG_EXPAND_SZ, std::string("%PATH%\0", 7)},
        {{"/v", "n", "/t", "REG_NONE", "-f"}, "n", REG_NONE, std::string("\0", 1)},
    };
    for (const Row &row : rows) {
        std::vector<std::string> words{"add", kKey + "\\New"};
        words.insert(words.end(), row.switches.begin(), row.switches.end());
        SCOPED_TRACE(row.name);
        const Result r = run(words, "y\n");
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out, kDone);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(raw(kPath + "\\New", row.name), std::make_pair(row.code, bytes(row.data)));
    }
    EXPECT_EQ(run({"add", kKey + "\\KeyOnly\\Two"}).code, 0);
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\KeyOnly\\Two"));
}

TEST_F(Cli, AddRefusesBadInputAndChangesNothing)
{
    const std::string number = "ERROR: Invalid syntax. Specify valid numeric value for '/d'.\n";
    const std::string a = verbText(kSyntax, "ADD");
    runCases(
        {
            {{"add", kKey + "\\Bad", "/v", "d", "/t", "REG_DWORD", "/d", "4294967296"}, "", 1, "", number},
            {{"add", kKey + "\\Bad", "/v", "d", "/t", "REG_DWORD", "/d", "-1"}, "", 1, "", number},
            {{"add", kKey + "\\Bad", "/v", "d", "/t", "REG_DWORD", "/d", "0xZZ"}, "", 1, "", number},
            {{"add", kKey + "\\Bad", "/v", "d", "/t", "REG_DWORD", "/d", "0x"}, "", 1, "", number},
            {{"add", kKey + "\\Bad", "/v", "q", "/t", "REG_QWORD", "/d", "18446744073709551616"}, "", 1, "", number},
            {{"add", kKey + "\\Bad", "/v", "b", "/t", "REG_BINARY", "/d", "0g"},
             "",
             1,
             "",
             "ERROR: Invalid syntax. Specify valid hexadecimal value for '/d'.\n"},
            {{"add", kKey + "\\Bad", "/v", "m", "/t", "REG_MULTI_SZ", "/d", "a\\0\\0b"},
             "",
             1,
             "",
             "ERROR: Invalid syntax. Specify valid string for '/d': empty entries are not allowed.\n"},
            {{"add", kKey + "\\Bad", "/v", "t", "/t", "REG_FOO"},
             "",
             1,
             "",
             "ERROR: Invalid value type 'REG_FOO'. Use REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD, "
             "REG_BINARY or REG_NONE.\n"},
            {{"add", kKey + "\\Bad", "/v", "m", "/t", "REG_MULTI_SZ", "/s", "##", "/d", "a"}, "", 1, "", a},
            {{"add", kKey + "\\Bad", "/v", "s", "/s", "#"}, "", 1, "", a},
            {{"add", kKey + "\\Bad", "/v", "s", "/ve"}, "", 1, "", a},
            {{"add", kKey + "\\Bad", "/v", "s", "/d", "1", "/d", "2"}, "", 1, "", a},
            {{"add", kKey + "\\Bad", "/v"}, "", 1, "", a},
            {{"add"}, "", 1, "", a},
            {{"add", "HKXX\\Bad"}, "", 1, "", verbText(kBadKey, "ADD")},
        },
        run);
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Bad"));
}

TEST_F(Cli, AddAsksBeforeOverwriting)
{
    const std::string prompt = "Value str exists, overwrite(Yes/No)? ";
    struct Row {
        std::string input;
        int code;
        std::string out;
        std::string stored;
    } rows[] = {
        {"", 1, prompt + "\n" + kCancelled, "hello"},
        {"n\n", 1, prompt + kCancelled, "hello"},
        {"maybe\nYes\n", 0, prompt + prompt + kDone, "new"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.input);
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath, "str", 32, "hello"));
        const Result r = run({"add", kKey, "/v", "str", "/d", "new"}, row.input);
        EXPECT_EQ(r.code, row.code);
        EXPECT_EQ(r.out, row.out);
        std::string text;
        ASSERT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, kPath, "str", 32, text));
        EXPECT_EQ(text, row.stored);
    }
    EXPECT_EQ(run({"add", kKey, "/v", "str", "/d", "forced", "/F"}).out, kDone);
    EXPECT_EQ(raw(kPath, "str").second, bytes(std::string("forced\0", 7)));
}

TEST_F(Cli, Delete)
{
    const std::string d = verbText(kSyntax, "DELETE");
    runCases(
        {
            {{"delete", kKey + "\\Sub"},
             "",
             1,
             "Permanently delete the registry key " + kFull + "\\Sub (Yes/No)? \n" + kCancelled,
             ""},
            {{"delete", kKey, "/v", "str"}, "no\n", 1, "Delete the registry value str (Yes/No)? " + kCancelled, ""},
            {{"delete", kKey, "/va"},
             "n\n",
             1,
             "Delete all values under the registry key " + kFull + " (Yes/No)? " + kCancelled,
             ""},
            {{"delete", kKey, "/v", "absent", "/f"}, "", 1, "", kNotFound},
            {{"delete", kKey + "\\Missing", "/f"}, "", 1, "", kNotFound},
            {{"delete", "HKCU", "/f"}, "", 1, "", verbText(kBadKey, "DELETE")},
            {{"delete", kKey, "/v", "a", "/va"}, "", 1, "", d},
            {{"delete", kKey, "/f", "/f"}, "", 1, "", d},
            {{"delete"}, "", 1, "", d},
        },
        run);
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Sub"));
    EXPECT_TRUE(ValueExistsAt(HKEY_CURRENT_USER, kPath, "str"));

    EXPECT_EQ(run({"delete", kKey, "/v", "str"}, "y\n").code, 0);
    EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, kPath, "str"));
    EXPECT_EQ(run({"delete", kKey, "/ve", "/f"}).out, kDone);
    EXPECT_FALSE(ValueExistsAt(HKEY_CURRENT_USER, kPath, ""));
    EXPECT_EQ(run({"delete", kKey, "/ve", "/f"}).err, kNotFound);
    EXPECT_EQ(run({"delete", kKey, "-VA", "/f"}).out, kDone);
    std::vector<std::string> names{"stale"};
    ASSERT_TRUE(ValueNamesAt(HKEY_CURRENT_USER, kPath, names));
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Sub\\Deep"));
    EXPECT_EQ(run({"delete", kKey + "\\Sub", "/f"}).out, kDone);
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Sub"));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, kPath));
}

TEST_F(Cli, Copy)
{
    const std::string c = verbText(kSyntax, "COPY");
    runCases(
        {
            {{"copy", kKey, kKey}, "", 1, "", "ERROR: The source and destination keys cannot be the same.\n"},
            {{"copy", kKey, "hkcu\\software\\VTCLI\\"},
             "",
             1,
             "",
             "ERROR: The source and destination keys cannot be the same.\n"},
            {{"copy", kKey, kKey + "\\Sub\\Inner", "/s"},
             "",
             1,
             "",
             "ERROR: The destination key cannot be below the source key.\n"},
            {{"copy", kKey + "\\Missing", kKey + "\\To"}, "", 1, "", kNotFound},
            {{"copy", kKey}, "", 1, "", c},
            {{"copy", kKey, kKey + "\\To", "/x"}, "", 1, "", c},
            {{"copy", kKey, "HKXX\\To"}, "", 1, "", verbText(kBadKey, "COPY")},
        },
        run);
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\To"));

    EXPECT_EQ(run({"copy", kKey, kKey + "\\Flat"}).out, kDone); // values only
    EXPECT_EQ(raw(kPath + "\\Flat", "odd"), std::make_pair(0x100000u, TRegByteArray{0xFF}));
    EXPECT_EQ(raw(kPath + "\\Flat", "none"), std::make_pair(uint32_t(REG_NONE), TRegByteArray{}));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, kPath + "\\Flat\\Sub"));

    EXPECT_EQ(run({"copy", kKey, "HKCU\\Software\\VtCliCopy", "/s", "/f"}).out, kDone);
    EXPECT_EQ(raw("\\Software\\VtCliCopy\\Sub", "x").second, bytes(std::string("1\0", 2)));
    EXPECT_TRUE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtCliCopy\\Sub\\Deep"));
    EXPECT_EQ(raw("\\Software\\VtCliCopy", "be"), raw(kPath, "be"));

    // Existing values are kept unless confirmed.
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtCliCopy", "str", 32, "mine"));
    const Result r = run({"copy", kKey, "HKCU\\Software\\VtCliCopy"}, "n\n");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("Value str exists, overwrite(Yes/No)? "), std::string::npos);
    std::string text;
    ASSERT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, "\\Software\\VtCliCopy", "str", 32, text));
    EXPECT_EQ(text, "mine");
}

TEST_F(Cli, LoadUnloadAndSummary)
{
    // A boot store's one value, written with the platform's own hive writer.
    const fs::path hive = m_dir / "BCD";
    {
        vt::hive::Hive bcd;
        bcd.root = std::make_unique<vt::hive::Key>();
        bcd.root->name = bcd.root->upperName = "ROOT";
        auto description = std::make_unique<vt::hive::Key>();
        description->name = "Description";
        description->upperName = "DESCRIPTION";
        description->parent = bcd.root.get();
        vt::hive::Value keyName;
        keyName.name = "KeyName";
        keyName.type = REG_SZ;
        for (char c : std::string("BCD00000000"))
            keyName.data.insert(keyName.data.end(), {uint8_t(c), 0});
        keyName.data.insert(keyName.data.end(), {0, 0});
        description->values.push_back(keyName);
        bcd.root->subkeys.push_back(std::move(description));
        ASSERT_EQ(vt::hive::saveHiveFile(hive.string(), bcd), ERROR_SUCCESS);
    }
    runCases(
        {
            {{"load", "HKCU\\VtSam", hive.string()}, "", 1, "", verbText(kBadKey, "LOAD")},
            {{"load", "HKLM\\a\\b", hive.string()}, "", 1, "", verbText(kBadKey, "LOAD")},
            {{"load", "HKLM\\VtSam"}, "", 1, "", verbText(kSyntax, "LOAD")},
            {{"load", "HKLM\\VtNone", (m_dir / "absent").string()},
             "",
             1,
             "",
             "ERROR: The system cannot find the file specified.\n"},
            {{"load", "HKLM\\VtSam", hive.string()}, "", 0, kDone, ""},
            {{"query", "HKLM\\VtSam\\Description", "/v", "KeyName"},
             "",
             0,
             "\nHKEY_LOCAL_MACHINE\\VtSam\\Description\n    KeyName    REG_SZ    BCD00000000\n\n",
             ""},
            {{"unload", "HKLM\\VtSam"}, "", 0, kDone, ""},
            {{"query", "HKLM\\VtSam"}, "", 1, "", kNotFound},
            {{"unload", "HKLM"}, "", 1, "", verbText(kBadKey, "UNLOAD")},
        },
        run);

    const Result s = run({"summary"});
    EXPECT_EQ(s.code, 0);
    EXPECT_NE(s.out.find("System root: " + m_system->root() + "\n"), std::string::npos) << s.out;
    for (HKEY root : RootKeyList())
        EXPECT_NE(s.out.find("    " + RootKeyToName(root) + "    "), std::string::npos) << RootKeyToName(root);
    EXPECT_NE(s.out.find("    HKEY_LOCAL_MACHINE\\SOFTWARE\n"), std::string::npos) << s.out;
    EXPECT_EQ(run({"summary", "extra"}).code, 1);
}

// A hive that mounts only in part, or without its latest changes, is loaded
// with a warning naming what is missing, never with a plain success.
TEST_F(Cli, LoadWarnsWhatARecoveredHiveLacks)
{
    if (!fs::exists(fs::path(VT_TESTDATA_DIR) / "hives"))
        GTEST_SKIP() << "the shared test data is not there: " << VT_TESTDATA_DIR;
    auto bytesOf = [](const fs::path &p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    };
    auto save = [](const fs::path &p, const std::vector<char> &b) {
        std::ofstream(p, std::ios::binary).write(b.data(), std::streamsize(b.size()));
    };
    auto rd32 = [](const std::vector<char> &b, size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, b.data() + at, 4);
        return v;
    };
    // The second bin of a real SAM hive loses its signature: the rest is cut.
    const fs::path sam = m_dir / "SAM";
    std::vector<char> image = bytesOf(fs::path(VT_TESTDATA_DIR) / "hives/real/regipy/SAM");
    ASSERT_GT(image.size(), 8192u);
    const size_t second = 4096 + rd32(image, 4096 + 8);
    ASSERT_EQ(std::string(image.data() + second, 4), "hbin");
    image[second] = 'x';
    save(sam, image);
    // A dirty hive whose logs fail their base-block checksum is used as it stands.
    const fs::path dirty = fs::path(VT_TESTDATA_DIR) / "hives/dirty/yarp-NewDirtyHive1";
    fs::copy_file(dirty / "NewDirtyHive", m_dir / "NewDirtyHive");
    for (const char *log : {"NewDirtyHive.LOG1", "NewDirtyHive.LOG2"}) {
        std::vector<char> b = bytesOf(dirty / log);
        b[508] ^= 1;
        save(m_dir / log, b);
    }
    const struct {
        fs::path file;
        const char *warning;
    } cases[] = {
        {sam, "WARNING: The hive is damaged and was loaded in part: "},
        {m_dir / "NewDirtyHive", "WARNING: The hive was not closed cleanly and its transaction logs could not be"},
    };
    for (const auto &c : cases) {
        const Result r = run({"load", "HKLM\\VtRecovered", c.file.string()});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err.rfind(c.warning, 0), 0u) << r.err;
        EXPECT_EQ(r.out, "The hive was loaded with warnings.\n");
        EXPECT_TRUE(KeyExistsAt(HKEY_LOCAL_MACHINE, "\\VtRecovered"));
        EXPECT_EQ(run({"unload", "HKLM\\VtRecovered"}).code, 0);
    }
    const vt::platform::HiveLoadRecovery last = vt::platform::lastHiveLoadRecovery();
    EXPECT_TRUE(last.logsUnusable);
    EXPECT_EQ(last.keysDropped, 0u);
}

TEST_F(Cli, SaveAndRestore)
{
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtCliSave\\Sub", "v", 32, "saved"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtCliRestore\\Gone", "old", 32, "x"));
    const std::string file = (m_dir / "saved.hiv").string();
    const std::string key = "HKCU\\Software\\VtCliSave";
    EXPECT_EQ(run({"save", key, file}).code, 0);
    const Result keep = run({"save", key, file}, "n\n");
    EXPECT_EQ(keep.code, 1);
    EXPECT_EQ(keep.out,
              "File " + file + " already exists. Overwrite (Yes/No)? The operation was canceled by the user.\n");
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtCliSave", "later", 32, "1"));
    const Result again = run({"save", key, file, "/y"});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.out, kDone);
    EXPECT_EQ(run({"save", "HKCU", file, "/y"}).err, verbText(kBadKey, "SAVE"));
    EXPECT_EQ(run({"save", "HKCU\\Software\\VtNoSuch", (m_dir / "x.hiv").string()}).err, kNotFound);
    EXPECT_EQ(run({"save", key}).err, verbText(kSyntax, "SAVE"));

    const Result restored = run({"restore", "HKCU\\Software\\VtCliRestore", file});
    EXPECT_EQ(restored.code, 0) << restored.err;
    EXPECT_EQ(restored.out, kDone);
    std::string text;
    EXPECT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, "\\Software\\VtCliRestore\\Sub", "v", 32, text));
    EXPECT_EQ(text, "saved");
    EXPECT_TRUE(ReadTypedStringAt(HKEY_CURRENT_USER, "\\Software\\VtCliRestore", "later", 32, text));
    EXPECT_FALSE(KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtCliRestore\\Gone"));
    EXPECT_EQ(run({"restore", "HKCU\\Software\\VtCliRestore", (m_dir / "absent").string()}).err,
              "ERROR: The system cannot find the file specified.\n");
}

TEST(CliApp, GlobalOptionsAndVerbLookup)
{
    struct Row {
        std::vector<std::string> args;
        int code;
        std::string outStart, errStart;
    } rows[] = {
        {{}, 1, "", "Usage: vantrel-cli"},
        {{"--help"}, 0, "Usage: vantrel-cli", ""},
        {{"--version"}, 0, "vantrel-cli (Vantrel) " VT_EXPECTED_VERSION "\nCommit ", ""},
        {{"--system", "/nonexistent", "--version"}, 0, "vantrel-cli (Vantrel) ", ""},
        {{"/?"}, 0, "Usage: vantrel-cli", ""},
        {{"--bogus", "query"}, 1, "", "ERROR: Invalid option --bogus."},
        {{"--system"}, 1, "", "ERROR: Invalid option --system."},
        {{"--system", "/nonexistent"}, 1, "", "Usage: vantrel-cli"},
        {{"frobnicate"}, 1, "", "ERROR: Invalid syntax.\nType \"vantrel-cli /?\" for usage.\n"},
        {{"QuErY", "-?"}, 0, "vantrel-cli QUERY KeyName", ""},
        {{"add", "/h"}, 0, "vantrel-cli ADD KeyName", ""},
    };
    for (const Row &row : rows) {
        std::istringstream in;
        std::ostringstream out, err;
        EXPECT_EQ(vt::cli::runCli(row.args, in, out, err), row.code);
        EXPECT_EQ(out.str().rfind(row.outStart, 0), 0u) << out.str();
        EXPECT_EQ(err.str().rfind(row.errStart, 0), 0u) << err.str();
    }
    for (const char *verb : {"query", "add", "delete", "copy", "load", "unload", "summary"})
        EXPECT_NE(vt::cli::createCommand(verb), nullptr) << verb;

    // The GNU-style help lists every operation, one a line (the manual page
    // and the shell completion read them there), and the sections the manual
    // page is made of.
    std::istringstream in;
    std::ostringstream out, err;
    ASSERT_EQ(vt::cli::runCli({"--help"}, in, out, err), 0);
    for (const vt::cli::VerbEntry &entry : vt::cli::verbTable()) {
        std::string upper = entry.name;
        for (char &c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_NE(out.str().find("\n  " + upper + "\n"), std::string::npos) << upper;
    }
    for (const char *section : {"\nOptions:\n", "\nExit status:\n", "\nEnvironment:\n", "\nFiles:\n",
                                "\nExamples:\n", "VANTREL_SYSTEM", "XDG_DATA_HOME"})
        EXPECT_NE(out.str().find(section), std::string::npos) << section;
}

// --- separate processes

struct Process {
    int code;
    std::string out, err;
};

std::string shellQuoted(const std::string &s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string readFile(const fs::path &p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Process runProcess(const fs::path &dir, const std::vector<std::string> &args, const std::string &env = "")
{
    std::string cmd = env + shellQuoted(VT_CLI_PATH);
    for (const auto &a : args)
        cmd += " " + shellQuoted(a);
    const fs::path out = dir / "out.txt", err = dir / "err.txt", rc = dir / "rc.txt";
    cmd += " </dev/null >" + shellQuoted(out.string()) + " 2>" + shellQuoted(err.string()) + "; echo $? >" +
           shellQuoted(rc.string());
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    return {std::stoi(readFile(rc)), readFile(out), readFile(err)};
}

class CliProcess : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = vt::test::makeTempDir("vt-cliproc");
        m_system = (m_dir / "system").string();
    }
    void TearDown() override { vt::test::removeTree(m_dir.string()); }
    fs::path m_dir;
    std::string m_system;
};

// A new system is announced (a mistyped --system would go unnoticed
// otherwise); --as-user runs as a standard user, whom access control stops
// where an administrator passes; a damaged mounts.ini is reported, not fatal.
TEST_F(CliProcess, SystemIdentityAndProblemsAreReported)
{
    Process p = runProcess(m_dir, {"--system", m_system, "add", "HKLM\\SOFTWARE\\VtAdmin", "/f"});
    ASSERT_EQ(p.code, 0) << p.err;
    EXPECT_EQ(p.err, "Created a new system at " + m_system + "\n");
    struct Row {
        std::vector<std::string> args;
        int code;
        std::string err;
    } rows[] = {
        {{"--as-user", "add", "HKLM\\SOFTWARE\\VtUser", "/f"}, 1, "ERROR: Access is denied.\n"},
        {{"--as-user", "add", "HKCU\\Software\\VtUser", "/f"}, 0, ""},
        {{"--as-user", "query", "HKLM\\SOFTWARE\\VtAdmin"}, 0, ""},
        {{"--as-user", "delete", "HKLM\\SOFTWARE\\VtAdmin", "/f"}, 1, "ERROR: Access is denied.\n"},
        {{"--as-system", "--as-user", "query", "HKCU"},
         1,
         "ERROR: Invalid syntax. Use only one of --as-system and --as-user.\n"},
        {{"add", "HKLM\\SOFTWARE\\VtAdmin\\Again", "/f"}, 0, ""},
    };
    for (const Row &row : rows) {
        std::vector<std::string> args = {"--system", m_system};
        args.insert(args.end(), row.args.begin(), row.args.end());
        SCOPED_TRACE(row.args[0] + " " + row.args[1]);
        p = runProcess(m_dir, args);
        EXPECT_EQ(p.code, row.code) << p.err;
        EXPECT_EQ(p.err, row.err);
    }

    {
        std::ofstream ini(fs::path(m_system) / "mounts.ini", std::ios::binary);
        ini << "#vantrel-mounts 2\nnot a mount line\n";
    }
    p = runProcess(m_dir, {"--system", m_system, "query", "HKLM\\SOFTWARE\\VtAdmin"});
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.err, "WARNING: Line 2 of '" + m_system + "/mounts.ini' is damaged; the hive it names is not loaded.\n");
}

TEST_F(CliProcess, AddThenQueryInANewProcess)
{
    Process p = runProcess(
        m_dir, {"--system", m_system, "ADD", "HKCU\\Software\\VtProc", "/v", "greeting", "/d", "hello world", "/f"});
    ASSERT_EQ(p.code, 0) << p.err;
    EXPECT_EQ(p.out, kDone);
    p = runProcess(m_dir, {"--system", m_system, "query", "HKCU\\Software\\VtProc"});
    EXPECT_EQ(p.code, 0) << p.err;
    EXPECT_EQ(p.out, "\nHKEY_CURRENT_USER\\Software\\VtProc\n    greeting    REG_SZ    hello world\n\n");

    p = runProcess(m_dir, {"--system", m_system, "frobnicate"});
    EXPECT_EQ(p.code, 1);
    EXPECT_EQ(p.err, "ERROR: Invalid syntax.\nType \"vantrel-cli /?\" for usage.\n");
    p = runProcess(m_dir, {"--system", m_system, "delete", "HKCU\\Software\\VtProc"}); // stdin empty: No
    EXPECT_EQ(p.code, 1);
    p = runProcess(m_dir, {"--system", m_system, "query", "HKCU\\Software\\VtProc", "/v", "greeting"});
    EXPECT_EQ(p.code, 0);
    p = runProcess(m_dir, {"query", "HKCU\\Software\\VtProc", "/v", "greeting"},
                   "VANTREL_SYSTEM=" + shellQuoted(m_system) + " ");
    EXPECT_EQ(p.code, 0) << p.err;
    EXPECT_EQ(p.out, "\nHKEY_CURRENT_USER\\Software\\VtProc\n    greeting    REG_SZ    hello world\n\n");
    p = runProcess(m_dir, {"query", "/?"});
    EXPECT_EQ(p.code, 0);
    EXPECT_EQ(p.out.rfind("vantrel-cli QUERY KeyName", 0), 0u);
}

// reglookup quotes bytes outside printable ASCII (and its separators) as %XX.
std::string unquote(const std::string &s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += char(HexPairToByte(s.substr(i + 1, 2)));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// reglookup gives up on strings it cannot read as text and prints their raw
// UTF-16LE bytes; the registry functions give them as UTF-8.
std::string utf16ToUtf8(const std::string &raw)
{
    std::string out;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        uint32_t c = uint8_t(raw[i]) | uint32_t(uint8_t(raw[i + 1])) << 8;
        if (c >= 0xD800 && c < 0xDC00 && i + 3 < raw.size()) {
            const uint32_t low = uint8_t(raw[i + 2]) | uint32_t(uint8_t(raw[i + 3])) << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

struct Entry {
    std::string key, name, type, data;
    bool operator<(const Entry &o) const
    {
        return std::tie(key, name, type, data) < std::tie(o.key, o.name, o.type, o.data);
    }
};

std::string hexOf(const std::string &raw)
{
    std::string h;
    for (unsigned char c : raw)
        h += ByteToHexText(c);
    return h;
}

// Loads a copy of the hive, walks it with query /s in a new process and
// compares keys, value names, types and data with reglookup's listing.
void compareWithReglookup(const fs::path &dir, const std::string &system, const std::string &file, size_t keyCount,
                          size_t valueCount, bool asSystem)
{
    SCOPED_TRACE(file);
    const fs::path hive = dir / fs::path(file).filename();
    fs::copy_file(vt::test::testdataDir() / "hives" / file, hive);
    fs::permissions(hive, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);

    // The oracle first, from the untouched copy.
    const fs::path csv = dir / "reglookup.csv";
    ASSERT_EQ(
        std::system(
            ("reglookup " + shellQuoted(hive.string()) + " >" + shellQuoted(csv.string()) + " 2>/dev/null").c_str()),
        0);
    std::set<std::string> oracleKeys;
    std::multiset<Entry> oracle;
    {
        std::istringstream lines(readFile(csv));
        std::string line;
        std::getline(lines, line); // header
        while (std::getline(lines, line)) {
            std::vector<std::string> f;
            SplitByChar(line, ',', &f);
            ASSERT_EQ(f.size(), 4u) << line;
            std::string path = f[0];
            if (f[1] == "KEY") {
                oracleKeys.insert(path == "/" ? "" : unquote(path));
                continue;
            }
            const size_t slash = path.rfind('/');
            std::string key = unquote(path.substr(0, slash)), name = unquote(path.substr(slash + 1));
            std::string type = f[1], data = f[2] == "(null)" ? "" : f[2];
            const bool rawText = (type == "SZ" || type == "EXPAND_SZ" || type == "MULTI_SZ") &&
                                 unquote(data).find('\0') != std::string::npos;
            if (rawText) {
                std::string text = utf16ToUtf8(unquote(data));
                if (type == "MULTI_SZ") {
                    for (int i = 0; i < 2 && !text.empty() && text.back() == '\0'; ++i)
                        text.pop_back();
                    data.clear();
                    for (char c : text)
                        data += c ? std::string(1, c) : std::string("\\0");
                } else {
                    data = text.substr(0, text.find('\0'));
                }
            } else if (type == "MULTI_SZ") {
                std::vector<std::string> entries;
                SplitByChar(data, '|', &entries);
                data.clear();
                for (size_t i = 0; i < entries.size(); ++i)
                    data += (i ? "\\0" : "") + unquote(entries[i]);
            } else {
                data = unquote(data);
            }
            if (type.rfind("0x", 0) == 0)
                type = "0x" + std::to_string(HexTextToInt32(type.substr(2)));
            else
                type = "REG_" + type;
            if (type == "REG_DWORD")
                data = std::to_string(HexTextToInt32(data.substr(2)));
            else if (type == "REG_QWORD")
                data = std::to_string(uint64_t(HexTextToInt64(data.substr(2))));
            else if (type != "REG_SZ" && type != "REG_EXPAND_SZ" && type != "REG_MULTI_SZ")
                data = hexOf(data);
            oracle.insert({key, name, type, data});
        }
    }
    ASSERT_EQ(oracleKeys.size(), keyCount);
    ASSERT_EQ(oracle.size(), valueCount);

    std::vector<std::string> global{"--system", system};
    if (asSystem)
        global.push_back("--as-system");
    auto with = [&](std::vector<std::string> words) {
        words.insert(words.begin(), global.begin(), global.end());
        return words;
    };
    Process p = runProcess(dir, with({"load", "HKLM\\VtSam", hive.string()}));
    ASSERT_EQ(p.code, 0) << p.err;
    p = runProcess(dir, with({"query", "HKLM\\VtSam", "/s"}));
    ASSERT_EQ(p.code, 0) << p.err;

    const std::string prefix = "HKEY_LOCAL_MACHINE\\VtSam";
    std::set<std::string> keys{""}; // the query shows the top key only when it has values
    std::multiset<Entry> ours;
    std::istringstream lines(p.out);
    std::string line, current;
    while (std::getline(lines, line)) {
        if (line.empty())
            continue;
        if (line.rfind("    ", 0) != 0) {
            ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
            current = line.substr(prefix.size());
            std::replace(current.begin(), current.end(), '\\', '/');
            keys.insert(current);
            continue;
        }
        const size_t a = line.find("    ", 4), b = line.find("    ", a + 4);
        ASSERT_NE(b, std::string::npos) << line;
        std::string name = line.substr(4, a - 4), type = line.substr(a + 4, b - a - 4), data = line.substr(b + 4);
        if (name == "(Default)")
            name.clear();
        if (type.rfind("0x", 0) == 0)
            type = "0x" + std::to_string(HexTextToInt32(type.substr(2)));
        if (type == "REG_DWORD")
            data = std::to_string(HexTextToInt32(data.substr(2)));
        else if (type == "REG_QWORD")
            data = std::to_string(uint64_t(HexTextToInt64(data.substr(2))));
        ours.insert({current, name, type, data});
    }
    EXPECT_EQ(keys, oracleKeys);
    EXPECT_EQ(ours.size(), oracle.size());
    std::vector<Entry> missing, extra;
    std::set_difference(oracle.begin(), oracle.end(), ours.begin(), ours.end(), std::back_inserter(missing));
    std::set_difference(ours.begin(), ours.end(), oracle.begin(), oracle.end(), std::back_inserter(extra));
    for (const Entry &e : missing)
        ADD_FAILURE() << "missing " << e.key << " | " << e.name << " | " << e.type << " | " << e.data;
    for (const Entry &e : extra)
        ADD_FAILURE() << "extra " << e.key << " | " << e.name << " | " << e.type << " | " << e.data;

    p = runProcess(dir, with({"unload", "HKLM\\VtSam"}));
    EXPECT_EQ(p.code, 0) << p.err;
}

TEST_F(CliProcess, LoadedHivesMatchReglookup)
{
    VT_SKIP_WITHOUT_TESTDATA();
    struct Row {
        const char *file;
        size_t keys, values;
        bool asSystem;
    } rows[] = {
        // A BCD store open to administrators: strings, multi-strings, numbers, binary data.
        {"real/regipy/BCD", 132, 103, false},
        // SAM keys grant SYSTEM alone; type codes without names, empty values.
        {"real/regipy/SAM", 65, 70, true},
        // A user hive of some size, every kind of value a profile holds.
        {"real/regipy/NTUSER.DAT", 1812, 4094, true},
        // Cyrillic key names and the multi-string edge cases.
        {"odd/yarp/MultiSzHive", 2, 2, false},
    };
    for (const Row &row : rows) {
        const fs::path dir = m_dir / fs::path(row.file).filename();
        fs::create_directories(dir);
        compareWithReglookup(dir, (dir / "system").string(), row.file, row.keys, row.values, row.asSystem);
    }
}

} // namespace
