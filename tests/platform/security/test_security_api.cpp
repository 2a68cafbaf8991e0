// The advapi32 security functions in Windows' shapes: found by name, the
// descriptor and SID strings both ways with Windows' error codes, the two
// descriptor forms, and the account lookups with their buffer protocol.
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "platform/win32.h"
#include "tests/support/TempSystem.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace sec = vt::security;
using Bytes = std::vector<uint8_t>;

namespace
{

Bytes sd(const char *sddl)
{
    auto b = sec::descriptorFromSddl(sddl);
    EXPECT_TRUE(b) << sddl;
    return b.value_or(Bytes{});
}

void put32(Bytes &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}
void put16(Bytes &b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
uint32_t get32(const Bytes &b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// SDDL of the bytes through the platform function, or its error code.
struct Converted {
    bool ok;
    DWORD error;
    std::string text;
};
Converted toText(const void *descriptor, SECURITY_INFORMATION parts = 0xF, DWORD revision = SDDL_REVISION_1)
{
    LPSTR out = nullptr;
    ULONG len = 0;
    SetLastError(0);
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(const_cast<void *>(descriptor), revision, parts, &out,
                                                              &len))
        return {false, GetLastError(), {}};
    std::string text = out;
    EXPECT_EQ(len, text.size() + 1) << "the length counts the terminating null";
    LocalFree(out);
    return {true, 0, text};
}

class SecurityApi : public ::testing::Test
{
protected:
    vt::test::TempSystem system;
};

} // namespace

TEST_F(SecurityApi, TheSixAndTheImportsAreFoundByName)
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    ASSERT_NE(advapi, nullptr);
    for (const char *name :
         {"ConvertStringSidToSidA", "ConvertSidToStringSidA", "ConvertSecurityDescriptorToStringSecurityDescriptorA",
          "ConvertStringSecurityDescriptorToSecurityDescriptorA", "MakeAbsoluteSD", "MakeSelfRelativeSD",
          "SetSecurityDescriptorDacl", "LookupAccountSidA", "LookupAccountNameA"})
        EXPECT_NE(GetProcAddress(advapi, name), nullptr) << name;
    EXPECT_NE(GetProcAddress(GetModuleHandleA("kernel32"), "LocalFree"), nullptr);
    EXPECT_EQ(GetProcAddress(advapi, "ConvertStringSidToSidW"), nullptr);
}

TEST_F(SecurityApi, SidStringsBothWays)
{
    struct Case {
        const char *in;
        bool ok;
        const char *out; // what ConvertSidToStringSid gives back
    };
    const Case cases[] = {
        {"S-1-5-18", true, "S-1-5-18"},
        {"SY", true, "S-1-5-18"},
        {"BA", true, "S-1-5-32-544"},
        {"WD", true, "S-1-1-0"},
        {"S-1-5-21-1-2-3-1001", true, "S-1-5-21-1-2-3-1001"},
        {"S-1-15-3-1024-1065365936-1281604716-3511738428-1654721687-432734479-3232135806-4053264122-3456934681", true,
         "S-1-15-3-1024-1065365936-1281604716-3511738428-1654721687-432734479-3232135806-4053264122-3456934681"},
        {"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16", false, nullptr}, // sixteen sub-authorities
        {"XX", false, nullptr},
        {"S-2-5-18", false, nullptr},
        {"", false, nullptr},
    };
    for (const Case &c : cases) {
        PSID sid = nullptr;
        SetLastError(0);
        const BOOL ok = ConvertStringSidToSidA(c.in, &sid);
        ASSERT_EQ(bool(ok), c.ok) << c.in;
        if (!ok) {
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID)) << c.in;
            continue;
        }
        LPSTR text = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidA(sid, &text)) << c.in;
        EXPECT_STREQ(text, c.out);
        LocalFree(text);
        LocalFree(sid);
    }
    // Bytes that are no SID: a revision other than 1, over 15 sub-authorities.
    for (Bytes bad : {Bytes{2, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0}, Bytes(8 + 4 * 16, 0)}) {
        if (bad[0] == 0) {
            bad[0] = 1;
            bad[1] = 16;
        }
        LPSTR text = nullptr;
        EXPECT_FALSE(ConvertSidToStringSidA(bad.data(), &text));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SID));
    }
    EXPECT_FALSE(ConvertStringSidToSidA(nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

TEST_F(SecurityApi, DescriptorStringsAreWindowsText)
{
    // The platform writes what Windows writes: aliases, key letters, the
    // letters of single rights in ascending bit order, "0x" where no letter
    // covers a mask, and the protected / auto-inherited flags.
    struct Case {
        const char *in;
        SECURITY_INFORMATION parts;
        const char *out;
    };
    const Case cases[] = {
        {"O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)", 0xF, "O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)"},
        {"O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)", DACL_SECURITY_INFORMATION, "D:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)"},
        {"O:BAG:SYD:PAI(A;CI;KA;;;SY)", OWNER_SECURITY_INFORMATION, "O:BA"},
        {"D:(A;;0x1f003f;;;BA)(A;;CCDCRC;;;WD)(A;;0x30000;;;AU)", DACL_SECURITY_INFORMATION,
         "D:(A;;0x1f003f;;;BA)(A;;CCDCRC;;;WD)(A;;SDRC;;;AU)"},
        {"D:(A;;GA;;;S-1-5-21-1-2-3-1001)(D;OICIIONPID;GR;;;AN)", DACL_SECURITY_INFORMATION,
         "D:(A;;GA;;;S-1-5-21-1-2-3-1001)(D;OICINPIOID;GR;;;AN)"},
        {"D:(OA;;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;BA)", DACL_SECURITY_INFORMATION,
         "D:(OA;;RP;bf967aba-0de6-11d0-a285-00aa003049e2;;BA)"},
    };
    for (const Case &c : cases) {
        const Bytes b = sd(c.in);
        const Converted t = toText(b.data(), c.parts);
        ASSERT_TRUE(t.ok) << c.in << " error " << t.error;
        EXPECT_EQ(t.text, c.out) << c.in;
    }
    // And back to the same bytes.
    PSECURITY_DESCRIPTOR back = nullptr;
    ULONG size = 0;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("O:BAG:SYD:PAI(A;CI;KA;;;SY)", SDDL_REVISION_1,
                                                                     &back, &size));
    const Bytes expected = sd("O:BAG:SYD:PAI(A;CI;KA;;;SY)");
    ASSERT_EQ(size, expected.size());
    EXPECT_EQ(std::memcmp(back, expected.data(), size), 0);
    LocalFree(back);
    EXPECT_FALSE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;KA;;;", SDDL_REVISION_1, &back, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
}

// Crafted descriptors, as a hive may carry them: each conversion fails with
// Windows' code and reads nothing outside the bytes (the sanitizer build and
// the fuzz target watch the reading).
TEST_F(SecurityApi, CraftedDescriptorsFailWithWindowsCodes)
{
    const Bytes good = sd("O:BAG:SYD:(A;CI;KA;;;SY)(A;CI;KR;;;BU)");
    const uint32_t dacl = get32(good, 16), owner = get32(good, 4);
    struct Case {
        const char *what;
        Bytes bytes;
        DWORD error;
    };
    std::vector<Case> cases;
    {
        Bytes b = good; // first ACE longer than its ACL
        put16(b, dacl + 8 + 2, 0x400);
        cases.push_back({"ACE longer than its ACL", b, ERROR_INVALID_ACL});
    }
    {
        Bytes b = good; // more ACEs counted than there are
        put16(b, dacl + 4, 7);
        cases.push_back({"truncated ACL", b, ERROR_INVALID_ACL});
    }
    {
        Bytes b = good; // the owner SID claims 16 sub-authorities
        b[owner + 1] = 16;
        cases.push_back({"owner of 16 sub-authorities", b, ERROR_INVALID_SECURITY_DESCR});
    }
    {
        Bytes b = good; // an ACE's SID claims 16 sub-authorities
        b[dacl + 8 + 8 + 1] = 16;
        cases.push_back({"ACE SID of 16 sub-authorities", b, ERROR_INVALID_ACL});
    }
    {
        Bytes b = good; // the DACL offset points into the header
        put32(b, 16, 4);
        cases.push_back({"offset inside the header", b, ERROR_INVALID_SECURITY_DESCR});
    }
    {
        Bytes b = good; // a callback ACE: no SDDL form here
        b[dacl + 8] = 0x09;
        cases.push_back({"callback ACE", b, ERROR_INVALID_ACL});
    }
    {
        Bytes b = good;
        b[0] = 2;
        cases.push_back({"descriptor revision 2", b, ERROR_UNKNOWN_REVISION});
    }
    for (const Case &c : cases) {
        const Converted t = toText(c.bytes.data());
        EXPECT_FALSE(t.ok) << c.what << ": " << t.text;
        EXPECT_EQ(t.error, c.error) << c.what;
    }
    EXPECT_EQ(toText(nullptr).error, DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(toText(good.data(), 0xF, 2).error, DWORD(ERROR_UNKNOWN_REVISION));
}

TEST_F(SecurityApi, AbsoluteAndSelfRelativeForms)
{
    const Bytes self = sd("O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KR;;;BU)S:(AU;SAFA;KA;;;WD)");
    // Sizes first, as Windows answers a call without buffers.
    DWORD absSize = 0, daclSize = 0, saclSize = 0, ownerSize = 0, groupSize = 0;
    EXPECT_FALSE(MakeAbsoluteSD(const_cast<uint8_t *>(self.data()), nullptr, &absSize, nullptr, &daclSize, nullptr,
                                &saclSize, nullptr, &ownerSize, nullptr, &groupSize));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(absSize, sizeof(SECURITY_DESCRIPTOR));
    EXPECT_EQ(ownerSize, 16u);
    EXPECT_EQ(groupSize, 12u);
    EXPECT_GT(daclSize, 8u);
    EXPECT_GT(saclSize, 8u);
    SECURITY_DESCRIPTOR abs{};
    Bytes dacl(daclSize), sacl(saclSize), owner(ownerSize), group(groupSize);
    ASSERT_TRUE(MakeAbsoluteSD(const_cast<uint8_t *>(self.data()), &abs, &absSize, reinterpret_cast<PACL>(dacl.data()),
                               &daclSize, reinterpret_cast<PACL>(sacl.data()), &saclSize, owner.data(), &ownerSize,
                               group.data(), &groupSize));
    EXPECT_EQ(abs.Control & SE_SELF_RELATIVE, 0);
    EXPECT_EQ(abs.Owner, owner.data());
    // Back to self-relative: the same bytes.
    DWORD len = 0;
    EXPECT_FALSE(MakeSelfRelativeSD(&abs, nullptr, &len));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    Bytes again(len);
    ASSERT_TRUE(MakeSelfRelativeSD(&abs, again.data(), &len));
    EXPECT_EQ(again, self);
    EXPECT_FALSE(MakeSelfRelativeSD(again.data(), nullptr, &len)) << "already self-relative";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BAD_DESCRIPTOR_FORMAT));

    // A null DACL on the absolute form; the self-relative one refuses it.
    ASSERT_TRUE(SetSecurityDescriptorDacl(&abs, TRUE, nullptr, FALSE));
    EXPECT_EQ(toText(&abs).text, "O:BAG:SYD:PAINO_ACCESS_CONTROLS:(AU;SAFA;KA;;;WD)");
    EXPECT_FALSE(SetSecurityDescriptorDacl(again.data(), TRUE, nullptr, FALSE));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_SECURITY_DESCR));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&abs, FALSE, nullptr, FALSE));
    EXPECT_EQ(toText(&abs).text, "O:BAG:SYS:(AU;SAFA;KA;;;WD)");
}

TEST_F(SecurityApi, AccountLookupsAnswerWithWindowsNames)
{
    const std::string computer = [] {
        // The platform's user is a user of this computer: its domain names it.
        PSID sid = nullptr;
        EXPECT_TRUE(ConvertStringSidToSidA(vt::platform::currentUserSid().c_str(), &sid));
        char name[64], domain[64];
        DWORD n = sizeof name, d = sizeof domain;
        SID_NAME_USE use{};
        EXPECT_TRUE(LookupAccountSidA(nullptr, sid, name, &n, domain, &d, &use));
        EXPECT_EQ(std::string(name, n), vt::platform::currentUserName());
        EXPECT_EQ(use, SidTypeUser);
        LocalFree(sid);
        return std::string(domain, d);
    }();
    EXPECT_FALSE(computer.empty());
    struct Case {
        const char *sid;
        const char *name;
        const char *domain;
        SID_NAME_USE use;
    };
    const Case known[] = {
        {"S-1-5-18", "SYSTEM", "NT AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-1-0", "Everyone", "", SidTypeWellKnownGroup},
        {"S-1-3-0", "CREATOR OWNER", "", SidTypeWellKnownGroup},
        {"S-1-5-32-544", "Administrators", "BUILTIN", SidTypeAlias},
        {"S-1-5-32-545", "Users", "BUILTIN", SidTypeAlias},
        {"S-1-5-11", "Authenticated Users", "NT AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-5-12", "RESTRICTED", "NT AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-15-2-1", "ALL APPLICATION PACKAGES", "APPLICATION PACKAGE AUTHORITY", SidTypeWellKnownGroup},
        {"S-1-16-12288", "High Mandatory Level", "Mandatory Label", SidTypeLabel},
    };
    for (const Case &c : known) {
        PSID sid = nullptr;
        ASSERT_TRUE(ConvertStringSidToSidA(c.sid, &sid));
        // The size protocol: no buffers give both sizes with the null.
        DWORD n = 0, d = 0;
        SID_NAME_USE use{};
        EXPECT_FALSE(LookupAccountSidA(nullptr, sid, nullptr, &n, nullptr, &d, &use));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(n, std::strlen(c.name) + 1) << c.sid;
        EXPECT_EQ(d, std::strlen(c.domain) + 1) << c.sid;
        std::string name(n, '\0'), domain(d, '\0');
        ASSERT_TRUE(LookupAccountSidA("", sid, name.data(), &n, domain.data(), &d, &use)) << c.sid;
        EXPECT_EQ(name.substr(0, n), c.name);
        EXPECT_EQ(domain.substr(0, d), c.domain);
        EXPECT_EQ(use, c.use) << c.sid;
        LocalFree(sid);

        // And the name leads back to the SID, bare or with its domain.
        const std::string qualified = *c.domain ? std::string(c.domain) + "\\" + c.name : std::string(c.name);
        for (const std::string &account : {std::string(c.name), qualified}) {
            DWORD cb = 0, cd = 0;
            EXPECT_FALSE(LookupAccountNameA(nullptr, account.c_str(), nullptr, &cb, nullptr, &cd, &use));
            EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
            Bytes bytes(cb);
            std::string dom(cd, '\0');
            ASSERT_TRUE(LookupAccountNameA(nullptr, account.c_str(), bytes.data(), &cb, dom.data(), &cd, &use))
                << account;
            EXPECT_EQ(sec::sidToString(bytes), c.sid) << account;
        }
    }
    // The user by "COMPUTER\name", in another letter case.
    std::string qualified = computer + "\\" + vt::platform::currentUserName();
    for (char &ch : qualified)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    Bytes bytes(68);
    char dom[64];
    DWORD cb = DWORD(bytes.size()), cd = sizeof dom;
    SID_NAME_USE use{};
    ASSERT_TRUE(LookupAccountNameA(nullptr, qualified.c_str(), bytes.data(), &cb, dom, &cd, &use));
    EXPECT_EQ(sec::sidToString({bytes.data(), cb}), vt::platform::currentUserSid());
    EXPECT_EQ(std::string(dom, cd), computer);

    // Unknown accounts, capability SIDs, other computers.
    PSID capability = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("S-1-15-3-1024-1065365936-1281604716-3511738428", &capability));
    char name[64], domain[64];
    DWORD n = sizeof name, d = sizeof domain;
    EXPECT_FALSE(LookupAccountSidA(nullptr, capability, name, &n, domain, &d, &use));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NONE_MAPPED));
    EXPECT_FALSE(LookupAccountSidA("\\\\ELSEWHERE", capability, name, &n, domain, &d, &use));
    EXPECT_EQ(GetLastError(), DWORD(RPC_S_SERVER_UNAVAILABLE));
    LocalFree(capability);
    cb = DWORD(bytes.size());
    cd = sizeof dom;
    EXPECT_FALSE(LookupAccountNameA(nullptr, "nobody-here", bytes.data(), &cb, dom, &cd, &use));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NONE_MAPPED));
    EXPECT_FALSE(LookupAccountNameA(nullptr, "BUILTIN\\SYSTEM", bytes.data(), &cb, dom, &cd, &use))
        << "the domain must match";
}

// Every descriptor of real hives prints as SDDL and reads back byte for byte.
TEST_F(SecurityApi, RealHiveDescriptorsRoundTrip)
{
    VT_SKIP_WITHOUT_TESTDATA();
    ASSERT_TRUE(vt::test::enablePrivilege(SE_RESTORE_NAME));
    ASSERT_TRUE(vt::test::enablePrivilege(SE_SECURITY_NAME));
    const std::string dir = vt::test::makeTempDir("vt-sddl");
    size_t checked = 0;
    std::vector<std::string> distinct;
    for (const char *hive : {"real/regipy/SAM", "real/regipy/SECURITY", "real/regipy/NTUSER.DAT", "real/regipy/BCD"}) {
        const std::filesystem::path from = vt::test::testdataDir() / "hives" / hive;
        const std::string copy = dir + "/" + from.filename().string();
        std::filesystem::copy_file(from, copy, std::filesystem::copy_options::overwrite_existing);
        ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtReal", copy.c_str()), ERROR_SUCCESS) << hive;
        std::vector<std::string> pending{"VtReal"};
        while (!pending.empty()) {
            const std::string path = pending.back();
            pending.pop_back();
            HKEY key = nullptr;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | ACCESS_SYSTEM_SECURITY, &key) != 0)
                continue;
            char name[512];
            for (DWORD i = 0;; ++i) {
                DWORD len = sizeof name;
                if (RegEnumKeyExA(key, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                    break;
                pending.push_back(path + "\\" + name);
            }
            const SECURITY_INFORMATION all = 0xF;
            DWORD size = 0;
            RegGetKeySecurity(key, all, nullptr, &size);
            Bytes bytes(size);
            ASSERT_EQ(RegGetKeySecurity(key, all, bytes.data(), &size), ERROR_SUCCESS) << path;
            RegCloseKey(key);
            const Converted t = toText(bytes.data(), all);
            ASSERT_TRUE(t.ok) << path << " error " << t.error;
            PSECURITY_DESCRIPTOR back = nullptr;
            ULONG backSize = 0;
            ASSERT_TRUE(
                ConvertStringSecurityDescriptorToSecurityDescriptorA(t.text.c_str(), SDDL_REVISION_1, &back, &backSize))
                << t.text;
            EXPECT_EQ(Bytes(static_cast<uint8_t *>(back), static_cast<uint8_t *>(back) + backSize), bytes) << t.text;
            LocalFree(back);
            if (std::find(distinct.begin(), distinct.end(), t.text) == distinct.end())
                distinct.push_back(t.text);
            ++checked;
        }
        ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtReal"), ERROR_SUCCESS);
    }
    vt::test::removeTree(dir);
    EXPECT_GT(checked, 1000u);
    EXPECT_GT(distinct.size(), 5u);
}

// The registry takes a descriptor in either form, as Windows does: the
// absolute one a program builds with SetSecurityDescriptorDacl.
TEST_F(SecurityApi, RegistryTakesAbsoluteDescriptors)
{
    const Bytes self = sd("O:BAG:SYD:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)");
    DWORD absSize = sizeof(SECURITY_DESCRIPTOR), daclSize = 256, saclSize = 0, ownerSize = 68, groupSize = 68;
    SECURITY_DESCRIPTOR abs{};
    Bytes dacl(daclSize), owner(ownerSize), group(groupSize);
    ASSERT_TRUE(MakeAbsoluteSD(const_cast<uint8_t *>(self.data()), &abs, &absSize, reinterpret_cast<PACL>(dacl.data()),
                               &daclSize, nullptr, &saclSize, owner.data(), &ownerSize, group.data(), &groupSize));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, &abs, FALSE};
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\VtAbsolute", 0, nullptr, 0, KEY_ALL_ACCESS, &attributes,
                              &key, nullptr),
              ERROR_SUCCESS);
    auto text = [&](SECURITY_INFORMATION parts) {
        DWORD size = 0;
        RegGetKeySecurity(key, parts, nullptr, &size);
        Bytes b(size);
        EXPECT_EQ(RegGetKeySecurity(key, parts, b.data(), &size), ERROR_SUCCESS);
        return toText(b.data(), parts).text;
    };
    EXPECT_EQ(text(DACL_SECURITY_INFORMATION), "D:PAI(A;CI;KA;;;SY)(A;CI;KA;;;BA)");

    ASSERT_TRUE(SetSecurityDescriptorDacl(&abs, TRUE, nullptr, FALSE));
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &abs), ERROR_SUCCESS);
    EXPECT_EQ(text(OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION), "O:BAD:PAINO_ACCESS_CONTROL");

    // A broken absolute one is refused like a broken self-relative one.
    Bytes badAcl = dacl;
    put16(badAcl, 2, 6); // AclSize below its header
    abs.Dacl = reinterpret_cast<PACL>(badAcl.data());
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &abs), ERROR_INVALID_SECURITY_DESCR);
    RegCloseKey(key);
}
