// vantrel-cli query /f: reg's search switches and output form, the program's
// own style tags, and a real hive searched against reglookup.
#include "cli/CliApp.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "tests/support/TempSystem.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

namespace
{

const std::string kKey = "HKCU\\Software\\VtFind";
const std::string kFull = "HKEY_CURRENT_USER\\Software\\VtFind";
const std::string kPath = "\\Software\\VtFind";
const std::string kSyntax = "ERROR: Invalid syntax.\nType \"vantrel-cli QUERY /?\" for usage.\n";

struct Result {
    int code;
    std::string out, err;
};

class CliFind : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_system = std::make_unique<vt::test::TempSystem>();
        ASSERT_EQ(m_system->openResult(), ERROR_SUCCESS);
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey(kPath, true));
        reg.WriteString("Autorun", "cmd.exe");
        reg.WriteString("Path", "C:\\Tools\\RunMe");
        reg.WriteInteger("RunCount", 0x2A);
        reg.writeValue("Blob", REG_BINARY, {0x52, 0x55, 0x4E}); // "RUN" as bytes: shown as 52554E
        reg.CloseKey();
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\RunOnce"));
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath + "\\RunOnce", "Setup", 32, "run setup"));
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kPath + "\\Other", "x", 32, "nothing"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, kPath + "\\Other\\Deep Run"));
    }

    static Result run(const std::vector<std::string> &words)
    {
        auto command = vt::cli::createCommand("query");
        std::ostringstream out, err;
        const int code = command->execute(words, out, err);
        return {code, out.str(), err.str()};
    }

    std::unique_ptr<vt::test::TempSystem> m_system;
};

// A regular expression the engine cannot decide for a text (its stack or
// backtracking limit reached) is a failure the search reports with exit
// code 1, never a quiet miss; long data gets the stack it needs.
TEST_F(CliFind, RegularExpressionsDecideLongDataOrSaySo)
{
    const std::string key = "\\Software\\VtFindRe";
    std::string alternating;
    for (int i = 0; i < 100000; ++i)
        alternating += i % 2 ? 'b' : 'a';
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, key, "short", 32, alternating.substr(0, 2048) + "c"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, key, "long", 32, alternating + "c"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, key + "\\Heavy", "x", 32, std::string(30, 'x')));
    const std::string full = "HKEY_CURRENT_USER" + key;

    Result r = run({"HKCU" + key, "/f", "<regexpr>^(a|b)*c$", "/d"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("End of search: 2 match(es) found.\n"), std::string::npos) << r.out.substr(0, 200);

    r = run({"HKCU" + key, "/f", "<regexpr>(x+x+)+y|needle", "/d", "/s"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "\nEnd of search: 0 match(es) found.\n");
    EXPECT_EQ(r.err, "ERROR: The regular expression could not be decided for 1 name or data (match limit "
                     "exceeded); they are not counted as matches.\n");
}

TEST_F(CliFind, OutputAndSwitches)
{
    const std::string rootValues = kFull + "\n"
                                           "    Autorun    REG_SZ    cmd.exe\n"
                                           "    Path    REG_SZ    C:\\Tools\\RunMe\n"
                                           "    RunCount    REG_DWORD    0x2a\n\n";
    struct {
        std::vector<std::string> words;
        int code;
        std::string out, err;
    } cases[] = {
        // Without /s: the key's own values and the names of its subkeys.
        {{kKey, "/f", "run"}, 0, "\n" + rootValues + kFull + "\\RunOnce\nEnd of search: 4 match(es) found.\n", ""},
        // With /s: a matched key's values follow its line without a second header.
        {{kKey, "/f", "run", "/s"},
         0,
         "\n" + rootValues + kFull + "\\Other\\Deep Run\n" + kFull + "\\RunOnce\n    Setup    REG_SZ    run setup\n\n" +
             "End of search: 6 match(es) found.\n",
         ""},
        {{kKey, "/f", "run", "/s", "/k"},
         0,
         "\n" + kFull + "\\Other\\Deep Run\n" + kFull + "\\RunOnce\nEnd of search: 2 match(es) found.\n",
         ""},
        {{kKey, "/f", "RUN", "/v", "/s"},
         0,
         "\n" + kFull +
             "\n    Autorun    REG_SZ    cmd.exe\n    RunCount    REG_DWORD    0x2a\n\nEnd of search: 2 match(es) "
             "found.\n",
         ""},
        {{kKey, "/f", "run", "/d", "/s"},
         0,
         "\n" + kFull + "\n    Path    REG_SZ    C:\\Tools\\RunMe\n\n" + kFull +
             "\\RunOnce\n    Setup    REG_SZ    run setup\n\nEnd of search: 2 match(es) found.\n",
         ""},
        // /c: case counts; /e: the whole text.
        {{kKey, "/f", "Run", "/c", "/k", "/v"},
         0,
         "\n" + kFull + "\n    RunCount    REG_DWORD    0x2a\n\n" + kFull +
             "\\RunOnce\nEnd of search: 2 match(es) found.\n",
         ""},
        {{kKey, "/f", "cmd.exe", "/e", "/s"},
         0,
         "\n" + kFull + "\n    Autorun    REG_SZ    cmd.exe\n\nEnd of search: 1 match(es) found.\n",
         ""},
        {{kKey, "/f", "cmd", "/e"}, 0, "\nEnd of search: 0 match(es) found.\n", ""},
        // Data is tested as it is shown: a DWORD as 0x2a, binary as hex digits.
        {{kKey, "/f", "0x2a", "/d"},
         0,
         "\n" + kFull + "\n    RunCount    REG_DWORD    0x2a\n\nEnd of search: 1 match(es) found.\n",
         ""},
        {{kKey, "/f", "52554e", "/d"},
         0,
         "\n" + kFull + "\n    Blob    REG_BINARY    52554E\n\nEnd of search: 1 match(es) found.\n",
         ""},
        // /t limits the values, not the keys.
        {{kKey, "/f", "run", "/t", "REG_DWORD,reg_binary"},
         0,
         "\n" + kFull + "\n    RunCount    REG_DWORD    0x2a\n\n" + kFull +
             "\\RunOnce\nEnd of search: 2 match(es) found.\n",
         ""},
        // The program's own style tags.
        {{kKey, "/f", "<regexpr>^Run[A-Z]", "/c", "/s"},
         0,
         "\n" + kFull + "\n    RunCount    REG_DWORD    0x2a\n\n" + kFull +
             "\\RunOnce\nEnd of search: 2 match(es) found.\n",
         ""},
        {{kKey, "/f", "<wc>*me", "/s"},
         0,
         "\n" + kFull + "\n    Path    REG_SZ    C:\\Tools\\RunMe\n\nEnd of search: 1 match(es) found.\n",
         ""},
        {{kKey, "/f", "<bool>run AND NOT once", "/k", "/s"},
         0,
         "\n" + kFull + "\\Other\\Deep Run\nEnd of search: 1 match(es) found.\n",
         ""},
        // "*" alone is everything: every key below and every value.
        {{kKey + "\\Other", "/f", "*", "/s"},
         0,
         "\n" + kFull + "\\Other\n    x    REG_SZ    nothing\n\n" + kFull +
             "\\Other\\Deep Run\nEnd of search: 2 match(es) found.\n",
         ""},
        // Errors: a bad expression is reported before any output.
        {{kKey, "/f", "<regexpr>(run", "/s"},
         1,
         "",
         "ERROR: Invalid regular expression: missing closing parenthesis at position 4.\n"},
        {{kKey + "\\Missing", "/f", "x"},
         1,
         "",
         "ERROR: The system was unable to find the specified registry key or value.\n"},
        {{kKey, "/f"}, 1, "", kSyntax},
        {{kKey, "/f", "a", "/f", "b"}, 1, "", kSyntax},
        {{kKey, "/f", "a", "/k", "/k"}, 1, "", kSyntax},
        {{kKey, "/f", "a", "/t", "REG_DWORD,REG_FOO"}, 1, "", kSyntax},
        {{kKey, "/f", "a", "/t"}, 1, "", kSyntax},
        {{kKey, "/f", "a", "/v", "name"}, 1, "", kSyntax},
        {{kKey, "/f", "a", "/ve"}, 1, "", kSyntax},
    };
    for (const auto &c : cases) {
        std::string line;
        for (const auto &w : c.words)
            line += w + " ";
        SCOPED_TRACE(line);
        const Result r = run(c.words);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
}

// The whole tool against reglookup on a real hive: every key reglookup lists
// whose name holds the word is listed by the search, and the counts agree.
TEST(CliFindHive, KeyNamesAgreeWithReglookup)
{
    VT_SKIP_WITHOUT_TESTDATA();
    const auto hive = vt::test::testdataDir() / "hives/real/regipy/SYSTEM_WIN_10_1709";
    // The local system account reads the keys only SYSTEM may open.
    vt::platform::SystemOptions options;
    options.identity = vt::platform::Identity::LocalSystem;
    vt::test::TempSystem system(options);
    ASSERT_EQ(system.openResult(), ERROR_SUCCESS);
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    const std::string dir = vt::test::makeTempDir("vt-find-hive");
    const std::string copy = dir + "/hive";
    {
        std::ifstream in(hive, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtFindHive", copy.c_str()), ERROR_SUCCESS);

    std::ostringstream out, err;
    const int code =
        vt::cli::createCommand("query")->execute({"HKLM\\VtFindHive", "/f", "usbstor", "/k", "/s"}, out, err);
    EXPECT_EQ(code, 0) << err.str();
    std::set<std::string> ours;
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("HKEY_LOCAL_MACHINE\\VtFindHive\\", 0) == 0)
            ours.insert(line.substr(std::string("HKEY_LOCAL_MACHINE\\VtFindHive").size()));

    // reglookup's key rows: path with slashes, type KEY; names holding the word.
    std::set<std::string> theirs;
    const std::string command = "reglookup -t KEY '" + copy + "' 2>/dev/null";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[8192];
    while (fgets(buffer, sizeof buffer, pipe)) {
        std::string row(buffer);
        const size_t comma = row.find(',');
        std::string path = row.substr(0, comma);
        const std::string name = path.substr(path.rfind('/') + 1);
        std::string upper = name;
        for (char &c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        if (upper.find("USBSTOR") == std::string::npos)
            continue;
        for (char &c : path)
            if (c == '/')
                c = '\\';
        // reglookup escapes a few characters as %XX; those keys are left out here.
        if (path.find('%') == std::string::npos)
            theirs.insert(path);
    }
    pclose(pipe);
    ASSERT_FALSE(theirs.empty());
    for (const std::string &p : theirs)
        EXPECT_TRUE(ours.count(p)) << p;
    EXPECT_NE(out.str().find("End of search: " + std::to_string(ours.size()) + " match(es) found."), std::string::npos);
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtFindHive"), ERROR_SUCCESS);
    vt::test::removeTree(dir);
}

} // namespace
