// vantrel-cli compare: two prepared keys under each output switch, and two
// loaded snapshots of a real user hive that differ by known planted changes.
#include "cli/CliApp.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "tests/support/TempSystem.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>

namespace
{

namespace fs = std::filesystem;

struct Result {
    int code;
    std::string out, err;
};

Result compare(const std::vector<std::string> &args)
{
    auto command = vt::cli::createCommand("compare");
    if (!command)
        return {-1, "", "no compare verb"};
    std::istringstream in;
    std::ostringstream out, err;
    command->setInput(&in);
    const int code = command->execute(args, out, err);
    return {code, out.str(), err.str()};
}

const std::string kDone = "The operation completed successfully.\n";
const std::string kSyntax = "ERROR: Invalid syntax.\nType \"vantrel-cli COMPARE /?\" for usage.\n";
const std::string kNotFound = "ERROR: The system was unable to find the specified registry key or value.\n";

std::string result(bool different)
{
    return std::string("\nResult Compared: ") + (different ? "Different" : "Identical") + "\n" + kDone;
}

class Compare : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_system.openResult(), ERROR_SUCCESS);
        TMyRegistry reg;
        ASSERT_TRUE(reg.OpenKey("\\Software\\VtA", true));
        reg.WriteString("", "d");
        reg.WriteString("s", "x");
        reg.writeValue("n", REG_DWORD, {1, 0, 0, 0});
        reg.writeValue("onlyA", REG_BINARY, {0x01, 0xAB});
        ASSERT_TRUE(reg.OpenKey("\\Software\\VtB", true));
        reg.WriteString("", "d");
        reg.WriteString("S", "x"); // names compare without regard to case
        reg.writeValue("n", REG_SZ, {'1', 0});
        reg.writeValue("onlyB", REG_QWORD, {2, 0, 0, 0, 0, 0, 0, 0});
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtA\\Both", "v", 32, "1"));
        ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, "\\Software\\VtB\\both", "v", 32, "2"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtA\\OnlyA"));
        ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtB\\OnlyB"));
    }

    vt::test::TempSystem m_system;
};

TEST_F(Compare, OutputSwitchesOnTwoKeys)
{
    const std::string a = "HKEY_CURRENT_USER\\Software\\VtA", b = "HKEY_CURRENT_USER\\Software\\VtB";
    const std::string same = "= Value: " + a + "  (Default)  REG_SZ  d\n" + "= Value: " + a + "  s  REG_SZ  x\n";
    const std::string diff = "< Value: " + a + "  n  REG_DWORD  0x1\n" + "> Value: " + b + "  n  REG_SZ  1\n" +
                             "< Value: " + a + "  onlyA  REG_BINARY  01AB\n" + "> Value: " + b +
                             "  onlyB  REG_QWORD  0x2\n";
    const std::string subDiff = "< Value: " + a + "\\Both  v  REG_SZ  1\n" + "> Value: " + b +
                                "\\both  v  REG_SZ  2\n" + "< Key: " + a + "\\OnlyA\n" + "> Key: " + b + "\\OnlyB\n";
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out, err;
    } cases[] = {
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB"}, 2, diff + result(true), ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/od"}, 2, diff + result(true), ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/OA"},
         2,
         "= Value: " + a + "  (Default)  REG_SZ  d\n= Value: " + a + "  s  REG_SZ  x\n" + diff + result(true),
         ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/os"}, 2, same + result(true), ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/on"}, 2, result(true), ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/s"}, 2, diff + subDiff + result(true), ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/s", "/os"},
         2,
         same + "= Key: " + a + "\\Both\n" + result(true),
         ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/v", "s", "/oa"},
         0,
         "= Value: " + a + "  s  REG_SZ  x\n" + result(false),
         ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/ve"}, 0, result(false), ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/v", "onlyA"},
         2,
         "< Value: " + a + "  onlyA  REG_BINARY  01AB\n" + result(true),
         ""},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtA", "/s"}, 0, result(false), ""},
        {{"hkey_current_user\\software\\vta\\OnlyA", "HKCU\\Software\\VtB\\OnlyB", "/s", "/oa"}, 0, result(false), ""},
        // Failures
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/v", "absent"}, 1, "", kNotFound},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtMissing"}, 1, "", kNotFound},
        {{"HKCU\\Software\\VtA"}, 1, "", kSyntax},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/v", "s", "/s"}, 1, "", kSyntax},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/v", "s", "/ve"}, 1, "", kSyntax},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/oa", "/od"}, 1, "", kSyntax},
        {{"HKCU\\Software\\VtA", "HKCU\\Software\\VtB", "/v"}, 1, "", kSyntax},
        {{"HKCU\\Software\\VtA", "HKXX\\Software"},
         1,
         "",
         "ERROR: Invalid key name.\nType \"vantrel-cli COMPARE /?\" for usage.\n"},
    };
    for (const Case &c : cases) {
        std::string line;
        for (const std::string &w : c.args)
            line += w + " ";
        SCOPED_TRACE(line);
        const Result r = compare(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(compare({"/?"}).out.rfind("vantrel-cli COMPARE KeyName1 KeyName2", 0), 0u);
}

// A subkey that cannot be read leaves the comparison incomplete: it says so
// and claims no result, whatever it found so far.
TEST_F(Compare, AnUnreadableSubkeyFailsTheComparison)
{
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtB\\Both\\Locked"));
    ASSERT_TRUE(CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtA\\Both\\Locked"));
    auto sd = vt::security::descriptorFromSddl("D:P(A;;KA;;;SY)");
    ASSERT_TRUE(sd.has_value());
    TMyRegistry reg;
    ASSERT_TRUE(reg.OpenKey("\\Software\\VtB\\Both\\Locked", false));
    ASSERT_EQ(RegSetKeySecurity(reg.CurrentKey(), DACL_SECURITY_INFORMATION, sd->data()), ERROR_SUCCESS);
    reg.CloseKey();
    const Result r = compare({"HKCU\\Software\\VtA\\Both", "HKCU\\Software\\VtB\\Both", "/s", "/on"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ERROR: Access is denied.\n"
                     "ERROR: 1 key could not be read and was skipped.\n"
                     "Skipped:\n"
                     "    HKEY_CURRENT_USER\\Software\\VtB\\Both\\Locked\n");
}

// Two snapshots of one user hive, loaded side by side: the comparison finds
// exactly the changes planted in the second (a new Run value, a new key with
// a value) and the key it lacks, and nothing else.
TEST(CompareHives, SnapshotsOfARealHive)
{
    VT_SKIP_WITHOUT_TESTDATA();
    vt::platform::SystemOptions options;
    // The hive's own descriptors keep administrators out of some keys.
    options.identity = vt::platform::Identity::LocalSystem;
    vt::test::TempSystem system(options);
    ASSERT_EQ(system.openResult(), ERROR_SUCCESS);
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    const fs::path dir = vt::test::makeTempDir("vt-compare");
    const fs::path source = vt::test::testdataDir() / "hives/real/regipy";
    for (const char *name : {"NTUSER.DAT", "NTUSER_modified.DAT"}) {
        fs::copy_file(source / name, dir / name);
        fs::permissions(dir / name, fs::perms::owner_write, fs::perm_options::add);
    }
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtOld", (dir / "NTUSER.DAT").c_str()), ERROR_SUCCESS);
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtNew", (dir / "NTUSER_modified.DAT").c_str()), ERROR_SUCCESS);

    const std::string oldKey = "HKEY_LOCAL_MACHINE\\VtOld", newKey = "HKEY_LOCAL_MACHINE\\VtNew";
    Result r = compare({"HKLM\\VtOld", "HKLM\\VtNew", "/s"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "> Value: " + newKey +
                         "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run  not_a_malware  REG_SZ  "
                         "c:\\temp\\legitimate_binary.exe\n"
                         "> Key: " +
                         newKey + "\\Software\\Microsoft\\legitimate_subkey\n" + "< Key: " + oldKey +
                         "\\Software\\WinRAR\n" + result(true));

    // /on says only the verdict; an untouched branch is identical.
    r = compare({"HKLM\\VtOld", "HKLM\\VtNew", "/s", "/on"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, result(true));
    r = compare({"HKLM\\VtOld\\Control Panel", "HKLM\\VtNew\\Control Panel", "/s"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, result(false));
    // /os lists the Run values both hold; the planted one is not among them.
    r = compare({"HKLM\\VtOld\\Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                 "HKLM\\VtNew\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", "/os"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out.rfind("= Value: " + oldKey + "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run  ", 0), 0u)
        << r.out;
    EXPECT_EQ(r.out.find("not_a_malware"), std::string::npos) << r.out;

    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtOld"), ERROR_SUCCESS);
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtNew"), ERROR_SUCCESS);
    system.close();
    vt::test::removeTree(dir.string());
}

} // namespace
