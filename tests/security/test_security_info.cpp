// The security information of a key: the descriptor string taken apart and
// named, the report as each kind of user sees it, and granting all rights.
#include "security/zoSecurity.h"

#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "tests/support/TempSystem.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace vt::security_info;
using Lines = std::vector<std::string>;

namespace
{

std::string join(const Lines &lines)
{
    std::string out;
    for (const std::string &l : lines)
        out += l + "\n";
    return out;
}

Lines rights(const char *flag, const Lines &names)
{
    Lines out{flag};
    for (const std::string &n : names)
        out.push_back("  + " + n);
    return out;
}

Lines concat(std::initializer_list<Lines> parts)
{
    Lines out;
    for (const Lines &p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

class SecurityInfo : public ::testing::Test
{
protected:
    vt::test::TempSystem system;

    static std::string computer() { return vt::platform::currentUserSid().empty() ? "" : userDomain(); }
    static std::string userDomain()
    {
        const std::string name = AccountDisplayName(vt::platform::currentUserSid());
        const auto open = name.find(" (");
        return open == std::string::npos ? "" : name.substr(open + 2, name.size() - open - 3);
    }
    static void makeKey(HKEY root, const std::string &path, const char *sddl = nullptr)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), 0)
            << path;
        if (sddl) {
            auto sd = vt::security::descriptorFromSddl(sddl);
            ASSERT_TRUE(sd);
            ASSERT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, sd->data()), 0);
        }
        RegCloseKey(key);
    }
    static std::string sddlOf(HKEY root, const std::string &path, SECURITY_INFORMATION parts)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, path.c_str(), 0, READ_CONTROL, &key) != 0)
            return "(cannot open)";
        DWORD size = 0;
        RegGetKeySecurity(key, parts, nullptr, &size);
        std::vector<uint8_t> b(size);
        RegGetKeySecurity(key, parts, b.data(), &size);
        RegCloseKey(key);
        return vt::security::descriptorToSddl(b, parts);
    }
};

} // namespace

TEST_F(SecurityInfo, StringsSplitIntoKindAndAces)
{
    std::string kind;
    Lines aces;
    SplitSecurityString("D:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)", kind, aces);
    EXPECT_EQ(kind, "D:PAI");
    EXPECT_EQ(aces, (Lines{"(A;CI;KA;;;SY)", "(A;CI;KR;;;BU)"}));
    SplitSecurityString("O:BA", kind, aces);
    EXPECT_EQ(kind, "O:BA");
    EXPECT_TRUE(aces.empty());
    SplitSecurityString("D:(A;;KA;;;SY)(A;;KR", kind, aces); // unclosed last piece
    EXPECT_EQ(aces, (Lines{"(A;;KA;;;SY)", "(A;;KR"}));

    const TAceFields f = SplitAceString("(OA;CI;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;BA)");
    EXPECT_EQ(f.type, "OA");
    EXPECT_EQ(f.flags, "CI");
    EXPECT_EQ(f.rights, "RP");
    EXPECT_EQ(f.objectGuid, "bf967aba-0de6-11d0-a285-00aa003049e2");
    EXPECT_EQ(f.inheritGuid, "");
    EXPECT_EQ(f.sid, "BA");
    EXPECT_EQ(SplitAceString("(A;CI)").flags, "CI");
    EXPECT_EQ(SplitAceString("(A;CI)").sid, "");
    for (const char *notAce : {"()", "(A;;KA;;;SY", "A;;KA;;;SY)", ""})
        EXPECT_TRUE(SplitAceString(notAce).type.empty()) << notAce;
}

TEST_F(SecurityInfo, RightsAreNamedOnTheirRealBits)
{
    struct Case {
        const char *rights;
        Lines names;
    };
    const Case cases[] = {
        {"0x10000000", {"GENERIC_ALL"}},
        {"0x00000001", {"KEY_QUERY_VALUE"}},
        {"0x0", {}},
        {"0x001F003F",
         {"KEY_QUERY_VALUE", "KEY_SET_VALUE", "KEY_CREATE_SUB_KEY", "KEY_ENUMERATE_SUB_KEYS", "KEY_NOTIFY",
          "KEY_CREATE_LINK", "DELETE", "READ_CONTROL", "CHANGE_ACCESS", "CHANGE_OWNER", "SYNCHRONIZE"}},
        {"0xf0000300",
         {"KEY_WOW64_64KEY", "KEY_WOW64_32KEY", "GENERIC_ALL", "GENERIC_EXECUTE", "GENERIC_WRITE", "GENERIC_READ"}},
        {"0x03000000", {"SYSTEM_ACCESS", "MAXIMUM_ALLOWED"}},
        {"0x000000C0", {}},                 // no key right lives there
        {"0x1234567800010000", {"DELETE"}}, // more than eight digits: the last eight
        {"KA", {"KEY_ALL_ACCESS"}},
        {"KAX", {"KEY_ALL_ACCESS"}}, // odd length: the last letter is dropped
        {"CCDCLCSWRPWP",
         {"KEY_QUERY_VALUE", "KEY_SET_VALUE", "KEY_CREATE_SUB_KEY", "KEY_ENUMERATE_SUB_KEYS", "KEY_NOTIFY",
          "KEY_CREATE_LINK"}},
        {"SDRCWDWO", {"DELETE", "READ_CONTROL", "WRITE_DAC", "WRITE_OWNER"}},
        {"GAGRGWGX", {"GENERIC_ALL", "GENERIC_READ", "GENERIC_WRITE", "GENERIC_EXECUTE"}},
        {"LODTCR", {"ADS_RIGHT_DS_LIST_OBJECT", "ADS_RIGHT_DS_DELETE_TREE", "ADS_RIGHT_DS_CONTROL_ACCESS"}},
        {"FAFRFWFX", {"FILE_ALL_ACCESS", "FILE_GENERIC_READ", "FILE_GENERIC_WRITE", "FILE_GENERIC_EXECUTE"}},
        {"KRKWKX", {"KEY_READ", "KEY_WRITE", "KEY_EXECUTE"}},
        {"QQ", {"?Unknown:QQ?"}},
        {"", {}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(RightNames(c.rights), c.names) << c.rights;
    EXPECT_EQ(AceFlagNames("OICINPIOIDSAFAZZX"),
              (Lines{"OBJECT_INHERIT_ACE", "CONTAINER_INHERIT_ACE", "NO_PROPAGATE_INHERIT_ACE", "INHERIT_ONLY_ACE",
                     "INHERITED_ACE", "SUCCESSFUL_ACCESS_ACE_FLAG", "FAILED_ACCESS_ACE_FLAG", "?Unknown:ZZ?"}));
    const std::pair<const char *, const char *> types[] = {
        {"A", "ACCESS_ALLOWED_ACE_TYPE"},
        {"D", "ACCESS_DENIED_ACE_TYPE "},
        {"OA", "ACCESS_ALLOWED_OBJECT_ACE_TYPE "},
        {"OD", "ACCESS_DENIED_OBJECT_ACE_TYPE "},
        {"AU", "SYSTEM_AUDIT_ACE_TYPE "},
        {"AL", "SYSTEM_ALARM_ACE_TYPE "},
        {"OU", "SYSTEM_AUDIT_OBJECT_ACE_TYPE "},
        {"OL", "SYSTEM_ALARM_OBJECT_ACE_TYPE "},
        {"ML", "?Unknown:ML?"},
    };
    for (auto [code, name] : types)
        EXPECT_EQ(AceTypeName(code), name);
    EXPECT_EQ(SidAliasName("SY"), "Local system");
    EXPECT_EQ(SidAliasName("RC"), "Restricted code");
    EXPECT_EQ(SidAliasName("XX"), "Unknown(?): XX");
    EXPECT_EQ(SidAliasName("S-1-5-99"), "S-1-5-99");
}

// The report's and the tree's lines for descriptor strings: every ACE type,
// flags, rights in letters and hex, aliases, full SIDs, the user, and SIDs no
// account has.
TEST_F(SecurityInfo, DescriptorStringsDescribed)
{
    const std::string user = vt::platform::currentUserName() + " (" + userDomain() + ")";
    ASSERT_FALSE(userDomain().empty());
    const std::string capability =
        "S-1-15-3-1024-1065365936-1281604716-3511738428-1654721687-432734479-3232135806-4053264122-3456934681";
    const std::string guid = "bf967aba-0de6-11d0-a285-00aa003049e2";
    struct Case {
        std::string sddl;
        Lines lines;
    };
    const Case cases[] = {
        {"D:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)", concat({{"SYSTEM (NT AUTHORITY)", "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE"},
                                                      rights("+ ACE Flags:", {"CONTAINER_INHERIT_ACE"}),
                                                      rights("+ Rights:", {"KEY_ALL_ACCESS"}),
                                                      {"Users (BUILTIN)", "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE"},
                                                      rights("+ ACE Flags:", {"CONTAINER_INHERIT_ACE"}),
                                                      rights("+ Rights:", {"KEY_READ"})})},
        {"O:BA", {}},
        {"D:(D;OICIIOID;0x10000000;;;WD)",
         concat({{"Everyone", "+ ACE Type: ACCESS_DENIED_ACE_TYPE "},
                 rights("+ ACE Flags:",
                        {"OBJECT_INHERIT_ACE", "CONTAINER_INHERIT_ACE", "INHERIT_ONLY_ACE", "INHERITED_ACE"}),
                 rights("+ Rights:", {"GENERIC_ALL"})})},
        {"S:(AU;SAFA;KW;;;" + vt::platform::currentUserSid() + ")",
         concat({{user, "+ ACE Type: SYSTEM_AUDIT_ACE_TYPE "},
                 rights("+ ACE Flags:", {"SUCCESSFUL_ACCESS_ACE_FLAG", "FAILED_ACCESS_ACE_FLAG"}),
                 rights("+ Rights:", {"KEY_WRITE"})})},
        {"D:(A;;0x00000001;;;" + capability + ")",
         concat({{capability, "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE"}, rights("+ Rights:", {"KEY_QUERY_VALUE"})})},
        {"D:(A;;KAX;;;XX)",
         concat({{"Unknown(?): XX", "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE"}, rights("+ Rights:", {"KEY_ALL_ACCESS"})})},
        {"D:(OA;;RP;" + guid + ";;AU)",
         concat({{"Authenticated Users (NT AUTHORITY)", "+ ACE Type: ACCESS_ALLOWED_OBJECT_ACE_TYPE "},
                 rights("+ Rights:", {"KEY_NOTIFY"}),
                 {"+ Object GUID: " + guid}})},
        {"D:(OD;;CR;;" + guid + ";S-1-5-32-544)",
         concat({{"Administrators (BUILTIN)", "+ ACE Type: ACCESS_DENIED_OBJECT_ACE_TYPE "},
                 rights("+ Rights:", {"ADS_RIGHT_DS_CONTROL_ACCESS"}),
                 {"+ Inherit GUID: " + guid}})},
        {"S:(AL;;GR;;;AN)(OU;FA;GW;" + guid + ";" + guid + ";CO)(OL;;;;;RC)",
         concat({{"ANONYMOUS LOGON (NT AUTHORITY)", "+ ACE Type: SYSTEM_ALARM_ACE_TYPE "},
                 rights("+ Rights:", {"GENERIC_READ"}),
                 {"CREATOR OWNER", "+ ACE Type: SYSTEM_AUDIT_OBJECT_ACE_TYPE "},
                 rights("+ ACE Flags:", {"FAILED_ACCESS_ACE_FLAG"}),
                 rights("+ Rights:", {"GENERIC_WRITE"}),
                 {"+ Object GUID: " + guid, "+ Inherit GUID: " + guid},
                 {"RESTRICTED (NT AUTHORITY)", "+ ACE Type: SYSTEM_ALARM_OBJECT_ACE_TYPE ", "+ Rights:"}})},
        {"D:(;;;;;)", {"", "+ Rights:"}},
    };
    for (const Case &c : cases) {
        Lines lines{"kept"};
        DescribeSecurityString(c.sddl, lines, false);
        EXPECT_EQ(join(lines), join(c.lines)) << c.sddl;
        DescribeSecurityString(c.sddl, lines, true);
        EXPECT_EQ(lines.size(), 2 * c.lines.size()) << "appending keeps the lines";
    }
}

TEST_F(SecurityInfo, ConversionRefusesPartsOutsideTheBytes)
{
    auto good = vt::security::descriptorFromSddl("O:BAG:SYD:(A;CI;KA;;;SY)");
    ASSERT_TRUE(good);
    std::string text;
    ASSERT_EQ(ConvertDescriptorText(*good, 7, text), DWORD(ERROR_SUCCESS));
    EXPECT_EQ(text, "O:BAG:SYD:(A;CI;KA;;;SY)");
    std::vector<std::vector<uint8_t>> bad;
    for (std::size_t cut : {std::size_t(0), std::size_t(12), good->size() - 1})
        bad.emplace_back(good->begin(), good->begin() + cut); // truncated
    auto far = *good;
    far[4] = 0xF0; // owner offset far beyond the bytes
    far[5] = 0xFF;
    bad.push_back(far);
    auto longAcl = *good;
    const std::size_t dacl = longAcl[16] | (longAcl[17] << 8);
    longAcl[dacl + 2] = 0xFC; // the ACL claims more than there is
    bad.push_back(longAcl);
    for (const auto &b : bad) {
        EXPECT_EQ(ConvertDescriptorText(b, 7, text), DWORD(ERROR_INVALID_SECURITY_DESCR)) << b.size();
        EXPECT_TRUE(text.empty());
    }
    EXPECT_THROW(zoConvertSecurityDescriptor(longAcl, 7, text), ESecurityError);
    try {
        zoConvertSecurityDescriptor(longAcl, 7, text);
    } catch (const ESecurityError &e) {
        EXPECT_STREQ(e.what(), "zoConvertSecurityDescriptor.ConvertSecurityDescriptorToStringSecurityDescriptor "
                               "failed (The security descriptor structure is invalid.)!");
    }
}

TEST_F(SecurityInfo, AccountOperationsForLogons)
{
    EXPECT_TRUE(SecurityFunctionsAvailable());
    std::vector<uint8_t> sid = zoLookupAccountName("Administrators");
    std::string text;
    ASSERT_TRUE(zoConvertSidToStringSid(sid, text));
    EXPECT_EQ(text, "S-1-5-32-544");
    sid = zoLookupAccountName(vt::platform::currentUserName());
    ASSERT_TRUE(zoConvertSidToStringSid(sid, text));
    EXPECT_EQ(text, vt::platform::currentUserSid());
    EXPECT_TRUE(zoLookupAccountName("no such account").empty());
    EXPECT_FALSE(zoConvertSidToStringSid({1, 5, 0, 0}, text)) << "shorter than its header";
    EXPECT_FALSE(zoConvertSidToStringSid({}, text));
}

TEST_F(SecurityInfo, GetRegistrySecurityStringAndItsFailures)
{
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtSec", "O:BAD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)");
    std::string text;
    zoGetRegistrySecurityString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtSec", DACL_SECURITY_INFORMATION, text, 0);
    // The owner and group come along whatever kind was read: none were read.
    EXPECT_EQ(text, "D:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)");
    try {
        zoGetRegistrySecurityString(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtMissing", DACL_SECURITY_INFORMATION, text, 0);
        ADD_FAILURE() << "no exception";
    } catch (const ESecurityError &e) {
        EXPECT_STREQ(e.what(),
                     "zoGetRegistrySecurityString.OpenKeyReadOnly failed: The system cannot find the file specified.");
    }
}

// The report of one key as an administrator, a standard user and the system.
TEST_F(SecurityInfo, ReportForEachKindOfUser)
{
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtSec\\Secret", "O:SYD:P(A;;KA;;;SY)");
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtSec", "O:BAD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)");
    system.close();
    auto reportAs = [&](vt::platform::Identity who, const std::string &path) {
        vt::platform::SystemOptions options;
        options.identity = who;
        EXPECT_EQ(system.reopen(options), ERROR_SUCCESS);
        return SecurityReport(HKEY_LOCAL_MACHINE, path, 0);
    };
    const Lines dacl = concat(
        {{"+ Accessing DACL_SECURITY_INFORMATION", "+ Security settings read after allocating memory.",
          "+ Security settings read with allocated memory", "  Revision: 1", "  Sbz1: 0", "  Control: 37892",
          "+ Converted security descriptor follows...", "SYSTEM (NT AUTHORITY)", "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE"},
         rights("+ ACE Flags:", {"CONTAINER_INHERIT_ACE"}),
         rights("+ Rights:", {"KEY_ALL_ACCESS"}),
         {"Users (BUILTIN)", "+ ACE Type: ACCESS_ALLOWED_ACE_TYPE"},
         rights("+ ACE Flags:", {"CONTAINER_INHERIT_ACE"}),
         rights("+ Rights:", {"KEY_READ"})});
    // The group is the computer's "None", which no account lookup answers:
    // its string has no ACEs to describe.
    const Lines rest = {"+ Accessing GROUP_SECURITY_INFORMATION",
                        "+ Security settings read after allocating memory.",
                        "+ Converted security descriptor follows...",
                        "+ Accessing OWNER_SECURITY_INFORMATION",
                        "+ Security settings read after allocating memory.",
                        "+ Converted security descriptor follows...",
                        "+ Accessing SACL_SECURITY_INFORMATION",
                        "- Could not read even after allocating memory: Access is denied."};
    for (auto who : {vt::platform::Identity::Administrator, vt::platform::Identity::StandardUser,
                     vt::platform::Identity::LocalSystem}) {
        const Lines lines = reportAs(who, "\\SOFTWARE\\VtSec");
        ASSERT_GE(lines.size(), 7u);
        EXPECT_EQ(lines[0], "+ Accessing HKEY_LOCAL_MACHINE\\SOFTWARE\\VtSec");
        EXPECT_EQ(lines[1], "  NumSubKeys: 1");
        EXPECT_EQ(lines[3], "  NumValues: 0");
        EXPECT_TRUE(lines[6].starts_with("  FileTime: ")) << lines[6];
        const Lines tail(lines.begin() + 7, lines.end());
        EXPECT_EQ(join(tail), join(concat({dacl, rest}))) << int(who);
    }
    // The key only the system may read.
    EXPECT_EQ(
        join(reportAs(vt::platform::Identity::StandardUser, "\\SOFTWARE\\VtSec\\Secret")),
        join({"+ Accessing HKEY_LOCAL_MACHINE\\SOFTWARE\\VtSec\\Secret", "- reg.OpenKeyReadOnly: Access denied!"}));
    const Lines bySystem = reportAs(vt::platform::Identity::LocalSystem, "\\SOFTWARE\\VtSec\\Secret");
    EXPECT_NE(std::find(bySystem.begin(), bySystem.end(), "+ Converted security descriptor follows..."),
              bySystem.end());
    EXPECT_EQ(ReportText({"a", "b"}), "a\r\nb\r\n");
}

// Grant all: the key's DACL becomes null, owner and group stay; a standard
// user in a new process may then write; the hive written back keeps it.
TEST_F(SecurityInfo, GrantAllLetsAStandardUserWrite)
{
    makeKey(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtGrant", "O:BAD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)");
    const std::string groupBefore = sddlOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtGrant", GROUP_SECURITY_INFORMATION);

    // Refused first: a standard user may not change the access list.
    vt::platform::SystemOptions user;
    user.identity = vt::platform::Identity::StandardUser;
    ASSERT_EQ(system.reopen(user), ERROR_SUCCESS);
    EXPECT_EQ(GrantAllToEveryone(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtGrant", 0),
              "- Could not set key security: Access is denied.");
    ASSERT_EQ(system.reopen({}), ERROR_SUCCESS);
    EXPECT_EQ(sddlOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtGrant", DACL_SECURITY_INFORMATION),
              "D:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)");

    EXPECT_EQ(GrantAllToEveryone(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\VtGrant", 0), "");
    EXPECT_EQ(sddlOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtGrant", 0xF & ~SACL_SECURITY_INFORMATION),
              "O:BA" + groupBefore + "D:PAINO_ACCESS_CONTROL");
    system.close(); // writes the hives back

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vt::platform::SystemOptions options;
        options.root = system.root();
        options.identity = vt::platform::Identity::StandardUser;
        int rc = vt::platform::openSystem(options) == ERROR_SUCCESS ? 0 : 10;
        HKEY key = nullptr;
        if (rc == 0 && RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtGrant", 0, KEY_SET_VALUE, &key) != 0)
            rc = 11;
        const BYTE data[] = "x";
        if (rc == 0 && RegSetValueExA(key, "ByUser", 0, REG_SZ, data, 2) != 0)
            rc = 12;
        if (key)
            RegCloseKey(key);
        // A key the grant did not touch stays closed to the user.
        if (rc == 0 && RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_SET_VALUE, &key) != ERROR_ACCESS_DENIED)
            rc = 13;
        vt::platform::closeSystem();
        _exit(rc);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    ASSERT_EQ(system.reopen({}), ERROR_SUCCESS);
    EXPECT_EQ(sddlOf(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtGrant", 0xF & ~SACL_SECURITY_INFORMATION),
              "O:BA" + groupBefore + "D:PAINO_ACCESS_CONTROL");
}
