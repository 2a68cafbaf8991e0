// Placeholders built against a replacement system of the test's own, whose
// registry values the tests set.

#include "core/kltRegTools.h"
#include "knowledge/PathPlaceholders.h"
#include "platform/shlobj.h"
#include "platform/vtPlatform.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace vt::knowledge;
namespace fs = std::filesystem;

namespace
{

const char *const kNt = "\\Software\\Microsoft\\Windows NT\\CurrentVersion";
const char *const kCv = "\\Software\\Microsoft\\Windows\\CurrentVersion";
const char *const kUserShellFolders = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char *const kControlPanel = "\\Software\\Classes\\CLSID\\{21EC2020-3AEA-1069-A2DD-08002B30309D}";

class PlaceholderSystem : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_system.openResult(), ERROR_SUCCESS);
        m_user = vt::platform::currentUserName();
        ASSERT_FALSE(m_user.empty());
    }

    static TPlaceholderTable build()
    {
        TPlaceholderTable t;
        t.BuildPlaceholderTable(64);
        t.BuildPlaceholderTable(32);
        return t;
    }
    static size_t linesNamed(const TPlaceholderTable &t, const std::string &name)
    {
        return std::count_if(t.Lines.begin(), t.Lines.end(),
                             [&](const std::string &l) { return l.rfind(name + "=", 0) == 0; });
    }

    vt::test::TempSystem m_system;
    std::string m_user;
};

} // namespace

TEST_F(PlaceholderSystem, FreshSystemGivesTheUsersWindowsFolders)
{
    BuildPlaceholders();
    const std::string profile = "C:\\Users\\" + m_user;
    const struct {
        const char *in;
        std::string out;
    } cases[] = {
        {"<$APPDATA>\\Brakmoor\\Vantrel\\history.sqlite",
         profile + "\\AppData\\Roaming\\Brakmoor\\Vantrel\\history.sqlite"},
        {"<$LOCALAPPDATA>", profile + "\\AppData\\Local"},
        {"<$PROFILE>", profile},
        {"<$PROFILES>", "C:\\Users"},
        {"<$DESKTOP>", profile + "\\Desktop"},
        {"<$WINDIR>", "C:\\Windows"},
        {"<$WINDIR2>", "C:\\Windows"},
        {"<$SYSDRIVE>", "C:"},
        {"<$TEMP>", "C:\\Windows\\Temp"},
        {"<$LOCALSETTINGS>", ""},
        {"<$QUICKLAUNCH>", profile + "\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch"},
        {"<$COMMONAPPDATA>", "C:\\ProgramData"},
        {"<$ALTSTARTUP>", profile + "\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup"},
        // The Control Panel is no file-system folder: the first pass copies
        // <$SYSCPLDIR> into its first line, the second pass's empty line decides.
        {"<$CONTROLS>", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExpandPlaceholders(c.in), c.out) << c.in;
    EXPECT_EQ(ExpandPlaceholders("<$SYSCPLDIR>").rfind("C:\\Windows\\", 0), 0u);

    // Steps that append do so in both passes.
    EXPECT_EQ(linesNamed(Placeholders(), "<$APPDATA>"), 2u);
    EXPECT_EQ(linesNamed(Placeholders(), "<$COMMONDOCUMENTS>"), 4u);
    EXPECT_EQ(linesNamed(Placeholders(), "<$TEMP>"), 1u);
    EXPECT_EQ(Placeholders().get("<$CONTROLS>"), Placeholders().get("<$SYSCPLDIR>"));

    // The platform maps the Windows path into the system's own folders.
    const std::string native = vt::platform::toNativePath(ExpandPlaceholders("<$APPDATA>"));
    EXPECT_EQ(fs::path(native), fs::path(m_system.root()) / "drive_c" / "Users" / m_user / "AppData" / "Roaming");
}

TEST_F(PlaceholderSystem, PathTakesTheFirstEntryOfTheUsersPathValue)
{
    const struct {
        const char *what;
        TRegDataType type;
        const char *data;
        const char *expected;
    } cases[] = {
        {"cut at the first semicolon, one backslash dropped", rdString, "C:\\Tools\\;C:\\Other", "C:\\Tools"},
        {"no semicolon", rdString, "C:\\Only", "C:\\Only"},
        {"expandable, taken as stored", rdExpandString, "%USERPROFILE%\\bin;C:\\x", "%USERPROFILE%\\bin"},
        {"empty first entry leaves no line", rdString, ";C:\\Second", "<$PATH>"},
        {"empty value", rdString, "", "<$PATH>"},
        {"multi-string lines joined before the cut", rdMultiString, "C:\\A\r\nC:\\B;C:\\C\r\n", "C:\\A\r\nC:\\B"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteTypedStringAt(HKEY_CURRENT_USER, "\\Environment", "PATH", 32, c.type, c.data));
        EXPECT_EQ(build().ExpandPlaceholders("<$PATH>"), c.expected);
    }
    ASSERT_TRUE(WriteIntegerAt(HKEY_CURRENT_USER, "\\Environment", "PATH", 32, 5));
    EXPECT_EQ(build().ExpandPlaceholders("<$PATH>"), "<$PATH>");
    DeleteValueAt(HKEY_CURRENT_USER, "\\Environment", "PATH");
    DeleteValueAt(HKEY_CURRENT_USER, "\\Environment", "Path");
    EXPECT_EQ(build().ExpandPlaceholders("<$PATH>\\x"), "<$PATH>\\x");
}

TEST_F(PlaceholderSystem, PassesReadTheirViewAndTheWow64SoftwareKey)
{
    ASSERT_TRUE(KeyExistsAt(HKEY_LOCAL_MACHINE, "\\Software\\Wow6432Node", 0));
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kNt, "SystemRoot", 64, "C:\\Win64"));
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kNt, "SystemRoot", 32, "C:\\Win32"));
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kCv, "CommonFilesDir", 32, "D:\\Common32\\"));
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kCv, "CommonFilesDir", 64, "D:\\Common64\\"));
    ASSERT_TRUE(WriteStringAt(HKEY_CURRENT_USER, kUserShellFolders, "Local Settings", 32, "C:\\LS"));

    // Only the 32-bit pass reads below Wow6432Node.
    TPlaceholderTable only32;
    only32.BuildPlaceholderTable(32);
    EXPECT_EQ(only32.get("<$TEMP>"), "C:\\Win32\\Temp");
    EXPECT_EQ(only32.get("<$COMMONPROGRAMFILES>"), "D:\\Common32");

    TPlaceholderTable t;
    t.BuildPlaceholderTable(64);
    // The 64-bit pass reads the 64-bit software branch, Wow6432Node or not.
    EXPECT_EQ(t.get("<$TEMP>"), "C:\\Win64\\Temp");
    // Overwriting sources replace the first line, which the expansion does not use.
    EXPECT_EQ(t.get("<$COMMONPROGRAMFILES>"), "D:\\Common64");
    // User records belong to the 32-bit pass only.
    EXPECT_EQ(t.get("<$LOCALSETTINGS>"), "");

    t.BuildPlaceholderTable(32);
    EXPECT_EQ(t.get("<$LOCALSETTINGS>"), "C:\\LS");
    EXPECT_EQ(t.ExpandPlaceholders("[<$LOCALSETTINGS>]"), "[]");
    EXPECT_EQ(t.ExpandPlaceholders("<$COMMONPROGRAMFILES>"), "C:\\Program Files (x86)\\Common Files");

    // SetFromRegistry reads exactly the view it is given.
    TPlaceholderTable v;
    v.SetFromRegistry("<$X>", HKEY_LOCAL_MACHINE, std::string(kNt) + "\\", "SystemRoot", 64, false, "", "");
    EXPECT_EQ(v.get("<$X>"), "C:\\Win64");
    v.SetFromRegistry("<$X>", HKEY_LOCAL_MACHINE, std::string(kNt) + "\\", "SystemRoot", 32, true, "\\Temp", "");
    EXPECT_EQ(v.get("<$X>"), "C:\\Win32\\Temp");
    v.SetFromRegistry("<$X>", HKEY_LOCAL_MACHINE, std::string(kNt) + "\\", "SystemRoot", 64, false, "", "");
    EXPECT_EQ(v.get("<$X>"), "C:\\Win32\\Temp"); // no overwrite
}

TEST_F(PlaceholderSystem, EmptyRegistryValueRemovesThePlaceholdersLine)
{
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kCv, "CommonFilesDir", 32, ""));
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kCv, "CommonFilesDir", 64, ""));
    const TPlaceholderTable t = build();
    EXPECT_EQ(linesNamed(t, "<$COMMONPROGRAMFILES>"), 0u);
    EXPECT_EQ(t.ExpandPlaceholders("<$COMMONPROGRAMFILES>"), "<$COMMONPROGRAMFILES>");
}

TEST_F(PlaceholderSystem, ControlPanelFolderFollowsTheShellFoldersName)
{
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kControlPanel, "", 32, "Control Panel"));
    EXPECT_EQ(ControlPanelFolder("C:\\Windows"), "C:\\Windows\\Control Panel");
    // Empty in the 32-bit view: the 64-bit view is asked next.
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kControlPanel, "", 32, ""));
    ASSERT_TRUE(WriteStringAt(HKEY_LOCAL_MACHINE, kControlPanel, "", 64, "Panel64"));
    EXPECT_EQ(ControlPanelFolder("D:\\WINNT"), "D:\\WINNT\\Panel64");
    DeleteKeyAt(HKEY_LOCAL_MACHINE, kControlPanel, 0);
    DeleteKeyAt(HKEY_LOCAL_MACHINE, kControlPanel, 1);
    EXPECT_EQ(ControlPanelFolder("C:\\Windows"), "C:\\Windows\\Systemsteuerung");
}

TEST_F(PlaceholderSystem, SpecialFolderFallbacks)
{
    EXPECT_EQ(SpecialFolderPath(36), "C:\\Windows");
    EXPECT_EQ(SpecialFolderPath(38), "C:\\Program Files (x86)");
    EXPECT_EQ(SpecialFolderPath(3), ""); // virtual, no fallback
    EXPECT_EQ(SpecialFolderPath(999), "");
}

TEST(ShellFolders, FoldersFollowTheProgramsBitnessAndBufferRules)
{
    const struct {
        bool wow64;
        int csidl;
        const char *path;
    } cases[] = {
        {true, CSIDL_PROGRAM_FILES, "C:\\Program Files (x86)"},
        {false, CSIDL_PROGRAM_FILES, "C:\\Program Files"},
        {true, CSIDL_PROGRAM_FILES_COMMON, "C:\\Program Files (x86)\\Common Files"},
        {false, CSIDL_PROGRAM_FILES_COMMON, "C:\\Program Files\\Common Files"},
        {true, CSIDL_SYSTEM, "C:\\Windows\\SysWOW64"},
        {false, CSIDL_SYSTEM, "C:\\Windows\\system32"},
        {true, CSIDL_COMMON_DOCUMENTS, "C:\\Users\\Public\\Documents"},
        {true, CSIDL_PROFILES | CSIDL_FLAG_CREATE, "C:\\Users"},
    };
    for (const auto &c : cases) {
        vt::platform::SystemOptions options;
        options.wow64 = c.wow64;
        vt::test::TempSystem system(options);
        ASSERT_EQ(system.openResult(), ERROR_SUCCESS);
        EXPECT_EQ(SpecialFolderPath(c.csidl), c.path) << c.csidl << " wow64=" << c.wow64;
        char buffer[MAX_PATH] = "x";
        EXPECT_EQ(SHGetFolderPathA(nullptr, c.csidl, nullptr, SHGFP_TYPE_CURRENT, buffer), S_OK);
        EXPECT_STREQ(buffer, c.path);
    }

    vt::test::TempSystem system;
    LPITEMIDLIST pidl = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_CONTROLS, &pidl), S_OK);
    char buffer[MAX_PATH] = "x";
    EXPECT_FALSE(SHGetPathFromIDListA(pidl, buffer)); // virtual folder
    EXPECT_STREQ(buffer, "");
    CoTaskMemFree(pidl);
    EXPECT_NE(SHGetSpecialFolderLocation(nullptr, 0x50, &pidl), S_OK);
    EXPECT_EQ(pidl, nullptr);

    // Too small a buffer: the size needed, terminator included, and nothing copied.
    char small[5] = "keep";
    EXPECT_EQ(GetWindowsDirectoryA(small, sizeof small), 11u);
    EXPECT_STREQ(small, "keep");
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\Windows");
    EXPECT_EQ(GetSystemDirectoryA(buffer, sizeof buffer), 19u);
    EXPECT_STREQ(buffer, "C:\\Windows\\system32");
}
