#include "platform/hive/Regf.h"
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "platform/win32.h"
#include "tests/support/TempSystem.h"
#include "tests/support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <string>
#include <strings.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using vt::test::enablePrivilege;
using vt::test::TempSystem;
namespace fs = std::filesystem;

namespace
{

const BYTE *bytes(const char *s)
{
    return reinterpret_cast<const BYTE *>(s);
}

// An open key that closes itself.
struct Key {
    HKEY h = nullptr;
    ~Key()
    {
        if (h)
            RegCloseKey(h);
    }
    operator HKEY() const { return h; }
    HKEY *operator&() { return &h; }
};

LONG create(HKEY root, const char *path, Key &out, REGSAM sam = KEY_ALL_ACCESS, DWORD *disp = nullptr)
{
    return RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, &out, disp);
}

LONG setSz(HKEY k, const char *name, const std::string &text, DWORD type = REG_SZ)
{
    return RegSetValueExA(k, name, 0, type, bytes(text.c_str()), static_cast<DWORD>(text.size() + 1));
}

std::string readSz(HKEY root, const char *path, const char *name, REGSAM view = 0)
{
    Key k;
    if (RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | view, &k) != ERROR_SUCCESS)
        return "<no key>";
    char buf[1024];
    DWORD size = sizeof buf;
    if (RegQueryValueExA(k, name, nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size) != ERROR_SUCCESS)
        return "<no value>";
    return std::string(buf, size ? size - 1 : 0);
}

bool exists(HKEY root, const char *path, REGSAM view = 0)
{
    Key k;
    return RegOpenKeyExA(root, path, 0, KEY_QUERY_VALUE | view, &k) == ERROR_SUCCESS;
}

std::vector<std::string> subkeys(HKEY k)
{
    std::vector<std::string> out;
    char name[256];
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name;
        LONG rc = RegEnumKeyExA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS)
            break;
        out.emplace_back(name, n);
    }
    return out;
}

uint64_t lastWrite(HKEY k)
{
    FILETIME ft{};
    RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &ft);
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

std::string run(const std::string &cmd)
{
    std::string out;
    FILE *p = ::popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    ::pclose(p);
    return out;
}

std::string testdata(const char *rel)
{
    const char *env = std::getenv("VT_TESTDATA");
    return std::string(env ? env : VT_TESTDATA_DIR) + "/" + rel;
}

// ---------------------------------------------------------------------------

TEST(Registry, TemplateContentAndPredefinedKeys)
{
    TempSystem sys;
    ASSERT_EQ(sys.openResult(), ERROR_SUCCESS);
    const std::string sid = vt::platform::currentUserSid();
    EXPECT_EQ(sid.rfind("S-1-5-21-", 0), 0u);
    EXPECT_EQ(sid.substr(sid.size() - 5), "-1001");
    const char *cv = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, cv, "SystemRoot", KEY_WOW64_64KEY), "C:\\Windows");
    // HKCU is HKU\<SID>: a value written through one is read through the other.
    Key k;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\VtTest", k), ERROR_SUCCESS);
    ASSERT_EQ(setSz(k, "v", "via HKCU"), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_USERS, (sid + "\\Software\\VtTest").c_str(), "v"), "via HKCU");
    // HKCC is the current hardware profile, reached through the CurrentControlSet link.
    Key cc;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_CONFIG, "Software\\Fonts", 0, KEY_READ, &cc), ERROR_SUCCESS);
    DWORD dpi = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(cc, "LogPixels", nullptr, nullptr, reinterpret_cast<BYTE *>(&dpi), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(dpi, 96u);
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment", "OS"),
              "Windows_NT");
    // The link key itself opens with REG_OPTION_OPEN_LINK and says where it points.
    Key link;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet", REG_OPTION_OPEN_LINK, KEY_READ, &link),
              ERROR_SUCCESS);
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExA(link, "SymbolicLinkValue", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_LINK));
    // HKPD opens and is empty; HKDD is refused as on Windows NT.
    Key pd;
    ASSERT_EQ(RegOpenKeyExA(HKEY_PERFORMANCE_DATA, nullptr, 0, KEY_READ, &pd), ERROR_SUCCESS);
    char name[64];
    DWORD n = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(pd, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    Key dd;
    EXPECT_EQ(RegOpenKeyExA(HKEY_DYN_DATA, nullptr, 0, KEY_READ, &dd), ERROR_INVALID_HANDLE);
    // Hives of the system are mounted where Windows has them.
    Key lm;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &lm), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(lm), (std::vector<std::string>{"HARDWARE", "SAM", "SECURITY", "SOFTWARE", "SYSTEM"}));
    for (const char *f : {"drive_c/Windows/System32/config/SYSTEM", "drive_c/Windows/System32/config/SOFTWARE",
                          "drive_c/Windows/System32/config/SAM", "drive_c/Windows/System32/config/SECURITY",
                          "drive_c/Windows/System32/config/DEFAULT", "drive_c/Program Files/Vantrel"})
        EXPECT_TRUE(fs::exists(sys.root() + "/" + f)) << f;
    EXPECT_TRUE(fs::exists(sys.root() + "/drive_c/Users/" + vt::platform::currentUserName() + "/NTUSER.DAT"));
}

TEST(Registry, ErrorCodes)
{
    TempSystem sys;
    Key k;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Err\\Child", k), ERROR_SUCCESS);
    Key parent;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Err", 0, KEY_ALL_ACCESS, &parent), ERROR_SUCCESS);
    HKEY out = nullptr;
    const std::string longName(256, 'x');
    struct Case {
        const char *what;
        LONG got;
        LONG want;
    } cases[] = {
        {"open missing", RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\NoSuchKey", 0, KEY_READ, &out),
         ERROR_FILE_NOT_FOUND},
        {"open leading backslash", RegOpenKeyExA(HKEY_CURRENT_USER, "\\Software", 0, KEY_READ, &out),
         ERROR_BAD_PATHNAME},
        {"open null result", RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, nullptr),
         ERROR_INVALID_PARAMETER},
        {"open both views",
         RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ | KEY_WOW64_32KEY | KEY_WOW64_64KEY, &out),
         ERROR_INVALID_PARAMETER},
        {"open bad handle", RegOpenKeyExA(reinterpret_cast<HKEY>(uintptr_t(0x12340)), "x", 0, KEY_READ, &out),
         ERROR_INVALID_HANDLE},
        {"create leading backslash", create(HKEY_CURRENT_USER, "\\Software\\X", k), ERROR_BAD_PATHNAME},
        {"create name too long", create(HKEY_CURRENT_USER, ("Software\\" + longName).c_str(), k),
         ERROR_INVALID_PARAMETER},
        {"create below HKLM itself", create(HKEY_LOCAL_MACHINE, "NewHive", k), ERROR_ACCESS_DENIED},
        {"delete key with subkeys", RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Err"), ERROR_ACCESS_DENIED},
        {"delete missing key", RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Err\\Nope"), ERROR_FILE_NOT_FOUND},
        {"delete hive root", RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED},
        {"query missing value", RegQueryValueExA(parent, "nope", nullptr, nullptr, nullptr, nullptr),
         ERROR_FILE_NOT_FOUND},
        {"delete missing value", RegDeleteValueA(parent, "nope"), ERROR_FILE_NOT_FOUND},
        {"enum past end", RegEnumValueA(parent, 0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
         ERROR_INVALID_PARAMETER},
        {"close bad handle", RegCloseKey(reinterpret_cast<HKEY>(uintptr_t(0x55550))), ERROR_INVALID_HANDLE},
        {"close predefined", RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS},
        {"set value without data", RegSetValueExA(parent, "x", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS},
        {"create without result", RegCreateKeyExA(parent, "x", 0, nullptr, 0, KEY_READ, nullptr, nullptr, nullptr),
         ERROR_BADKEY},
        {"create with trailing backslashes", create(parent, "Trailing\\\\", k), ERROR_SUCCESS},
        {"create with a doubled separator", create(parent, "d\\\\e", k), ERROR_SUCCESS},
        {"open with a doubled separator", RegOpenKeyExA(parent, "d\\\\e", 0, KEY_READ, &out), ERROR_SUCCESS},
        {"open with separators doubled and trailing", RegOpenKeyExA(parent, "d\\\\\\e\\\\", 0, KEY_READ, &out),
         ERROR_SUCCESS},
        {"open HKCR with a leading backslash", RegOpenKeyExA(HKEY_CLASSES_ROOT, "\\.txt", 0, KEY_READ, &out),
         ERROR_SUCCESS},
        {"predefined key with high bits set",
         RegOpenKeyExA(reinterpret_cast<HKEY>(uintptr_t(0xdeadbeef80000001ull)), "Software", 0, KEY_READ, &out),
         ERROR_SUCCESS},
        // The privilege is checked before the name (with it enabled: ERROR_INVALID_PARAMETER, see below).
        {"load below a path without the privilege", RegLoadKeyA(HKEY_LOCAL_MACHINE, "A\\B", "/nonexistent"),
         ERROR_PRIVILEGE_NOT_HELD},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
    // Repeated separators are skipped: the doubled path made d and d\e.
    EXPECT_EQ(subkeys(parent), (std::vector<std::string>{"Child", "d", "Trailing"}));
    EXPECT_TRUE(exists(parent, "d\\e"));

    // A handle to a deleted key answers ERROR_KEY_DELETED; closing it still works.
    Key victim;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Err\\Victim", victim), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(parent, "Victim"), ERROR_SUCCESS);
    EXPECT_EQ(setSz(victim, "a", "b"), ERROR_KEY_DELETED);
    EXPECT_EQ(RegQueryValueExA(victim, "a", nullptr, nullptr, nullptr, nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(victim.h), ERROR_SUCCESS);
    victim.h = nullptr;
    // A closed handle is refused, even when its slot is reused.
    HKEY stale = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &stale), ERROR_SUCCESS);
    ASSERT_EQ(RegCloseKey(stale), ERROR_SUCCESS);
    Key reused;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &reused), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(stale, "", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE);
}

TEST(Registry, BufferSizesAndMoreData)
{
    TempSystem sys;
    Key k;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Sizes", k), ERROR_SUCCESS);
    ASSERT_EQ(setSz(k, "text", "abcdef"), ERROR_SUCCESS);
    const BYTE bin[3] = {1, 2, 3};
    ASSERT_EQ(RegSetValueExA(k, "bin", 0, REG_BINARY, bin, 3), ERROR_SUCCESS);
    Key sub;
    ASSERT_EQ(create(k, "Eight888", sub), ERROR_SUCCESS);

    struct Case {
        const char *name;
        DWORD buffer;
        LONG want;
        DWORD reported;
    } cases[] = {
        {"text", 7, ERROR_SUCCESS, 7}, {"text", 6, ERROR_MORE_DATA, 7}, {"text", 0, ERROR_MORE_DATA, 7},
        {"bin", 3, ERROR_SUCCESS, 3},  {"bin", 2, ERROR_MORE_DATA, 3},
    };
    for (const auto &c : cases) {
        BYTE buf[16] = {};
        DWORD size = c.buffer;
        EXPECT_EQ(RegQueryValueExA(k, c.name, nullptr, nullptr, buf, &size), c.want) << c.name << c.buffer;
        EXPECT_EQ(size, c.reported) << c.name << c.buffer;
    }
    // Empty string data leaves the caller's buffer as it was.
    Key e;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\SizesEmpty", e), ERROR_SUCCESS);
    for (DWORD type : {DWORD(REG_SZ), DWORD(REG_EXPAND_SZ), DWORD(REG_MULTI_SZ)}) {
        ASSERT_EQ(RegSetValueExA(e, "empty", 0, type, nullptr, 0), ERROR_SUCCESS);
        BYTE buf[4] = {'X', 'X', 'X', 'X'};
        DWORD size = sizeof buf;
        EXPECT_EQ(RegQueryValueExA(e, "empty", nullptr, nullptr, buf, &size), ERROR_SUCCESS) << type;
        EXPECT_EQ(size, 0u) << type;
        EXPECT_EQ(buf[0], 'X') << type;
    }
    // Size only: no buffer, the size in bytes of the UTF-8 form with its terminator.
    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueExA(k, "text", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(type, DWORD(REG_SZ));

    // Enumerated names need room for the terminator; the count excludes it.
    char name[16];
    DWORD n = 8;
    EXPECT_EQ(RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    n = 9;
    EXPECT_EQ(RegEnumKeyExA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(n, 8u);
    EXPECT_STREQ(name, "Eight888");
    n = 4;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    n = 5;
    BYTE data[2];
    DWORD cb = sizeof data;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &n, nullptr, nullptr, data, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 7u);
    n = 5;
    cb = 0;
    EXPECT_EQ(RegEnumValueA(k, 0, name, &n, nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(n, 4u);
    EXPECT_EQ(cb, 7u);
    EXPECT_EQ(RegEnumValueA(k, 2, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    n = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(k, 1, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);

    DWORD nSub, maxSub, nVal, maxName, maxData;
    ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &nSub, &maxSub, nullptr, &nVal, &maxName, &maxData,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(nSub, 1u);
    EXPECT_EQ(maxSub, 8u);
    EXPECT_EQ(nVal, 2u);
    EXPECT_EQ(maxName, 4u);
    EXPECT_EQ(maxData, 14u) << "the stored (UTF-16) size, as Windows reports it";

    // When the data does not fit, the name and its count stay untouched.
    char name2[16] = "untouched";
    DWORD n2 = sizeof name2, cb2 = 2;
    BYTE small[2];
    EXPECT_EQ(RegEnumValueA(k, 0, name2, &n2, nullptr, &type, small, &cb2), ERROR_MORE_DATA);
    EXPECT_STREQ(name2, "untouched");
    EXPECT_EQ(n2, sizeof name2);
    EXPECT_EQ(cb2, 7u);
    // A missing value reports size 0 when only the size was asked for.
    DWORD missing = 99;
    EXPECT_EQ(RegQueryValueExA(k, "nope", nullptr, nullptr, nullptr, &missing), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, 0u);
    // A string stored without terminator gets one when the buffer has room.
    ASSERT_EQ(RegSetValueExA(k, "bare", 0, REG_SZ, bytes("abc"), 3), ERROR_SUCCESS);
    char bare[8];
    std::memset(bare, 'x', sizeof bare);
    DWORD bareSize = 3;
    ASSERT_EQ(RegQueryValueExA(k, "bare", nullptr, nullptr, reinterpret_cast<BYTE *>(bare), &bareSize), ERROR_SUCCESS);
    EXPECT_EQ(bareSize, 3u);
    EXPECT_EQ(bare[3], 'x') << "no room: no terminator";
    bareSize = sizeof bare;
    ASSERT_EQ(RegQueryValueExA(k, "bare", nullptr, nullptr, reinterpret_cast<BYTE *>(bare), &bareSize), ERROR_SUCCESS);
    EXPECT_EQ(bareSize, 3u);
    EXPECT_EQ(bare[3], '\0');
}

TEST(Registry, EnumerationOrderAndCase)
{
    TempSystem sys;
    Key k;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Order", k), ERROR_SUCCESS);
    for (const char *name : {"beta", "Alpha", "_under", "zeta", "Zed0", "alpha2"}) {
        Key c;
        ASSERT_EQ(create(k, name, c), ERROR_SUCCESS);
    }
    // Sorted by the upper-cased name: '_' (0x5F) comes after 'Z'.
    EXPECT_EQ(subkeys(k), (std::vector<std::string>{"Alpha", "alpha2", "beta", "Zed0", "zeta", "_under"}));
    // Names compare without case; the first spelling is kept.
    Key again;
    DWORD disp = 0;
    ASSERT_EQ(create(k, "BETA", again, KEY_ALL_ACCESS, &disp), ERROR_SUCCESS);
    EXPECT_EQ(disp, DWORD(REG_OPENED_EXISTING_KEY));
    EXPECT_EQ(subkeys(k).size(), 6u);
    // Values keep creation order; replacing one keeps its place.
    for (const char *name : {"z", "a", "m"})
        ASSERT_EQ(setSz(k, name, name), ERROR_SUCCESS);
    ASSERT_EQ(setSz(k, "A", "again"), ERROR_SUCCESS);
    std::vector<std::string> names;
    char name[32];
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name;
        if (RegEnumValueA(k, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"z", "a", "m"}));
    EXPECT_EQ(readSz(k, nullptr, "a"), "again");
}

TEST(Registry, LastWriteTimes)
{
    TempSystem sys;
    Key parent;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Times", parent), ERROR_SUCCESS);
    auto tick = [] { std::this_thread::sleep_for(std::chrono::milliseconds(2)); };
    uint64_t t0 = lastWrite(parent);
    tick();
    Key child;
    ASSERT_EQ(create(parent, "Child", child), ERROR_SUCCESS);
    const uint64_t t1 = lastWrite(parent);
    EXPECT_GT(t1, t0) << "creating a subkey touches the parent";
    EXPECT_EQ(lastWrite(child), t1) << "a new key carries its creation time";
    tick();
    ASSERT_EQ(setSz(child, "v", "x"), ERROR_SUCCESS);
    uint64_t t2 = lastWrite(child);
    EXPECT_GT(t2, t1) << "setting a value touches the key";
    EXPECT_EQ(lastWrite(parent), t1) << "but not its parent";
    tick();
    ASSERT_EQ(setSz(child, "v", "x"), ERROR_SUCCESS);
    EXPECT_EQ(lastWrite(child), t2) << "the same type and data is no change";
    ASSERT_EQ(setSz(child, "v", "x", REG_EXPAND_SZ), ERROR_SUCCESS);
    const uint64_t t2b = lastWrite(child);
    EXPECT_GT(t2b, t2) << "another type is a change";
    tick();
    ASSERT_EQ(RegSetValueExA(child, "v", 0, REG_EXPAND_SZ, bytes("x"), 1), ERROR_SUCCESS);
    EXPECT_GT(lastWrite(child), t2b) << "so is the data without its terminator";
    t2 = lastWrite(child);
    tick();
    ASSERT_EQ(RegDeleteValueA(child, "v"), ERROR_SUCCESS);
    EXPECT_GT(lastWrite(child), t2) << "deleting a value touches the key";
    tick();
    ASSERT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_SUCCESS);
    EXPECT_GT(lastWrite(parent), t1) << "deleting a subkey touches the parent";
    // The time is close to now.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const uint64_t n = (uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    EXPECT_LT(n - lastWrite(parent), 10ull * 10000000);
}

TEST(Registry, ViewsAndRedirection)
{
    TempSystem sys;
    const char *cv = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    BOOL wow = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow));
    EXPECT_TRUE(wow);
    struct Case {
        REGSAM view;
        const char *want;
    } cases[] = {
        {0, "C:\\Program Files (x86)"},
        {KEY_WOW64_32KEY, "C:\\Program Files (x86)"},
        {KEY_WOW64_64KEY, "C:\\Program Files"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, cv, "ProgramFilesDir", c.view), c.want) << c.view;
    // Explicit Wow6432Node paths and shared keys are not redirected.
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir",
                     KEY_WOW64_32KEY),
              "C:\\Program Files (x86)");
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.txt", ""), "txtfile");
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", "Public"),
              "%SystemDrive%\\Users\\Public");

    // A key created in the 32-bit view lands in Wow6432Node.
    Key k32;
    ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtApp", k32), ERROR_SUCCESS);
    ASSERT_EQ(setSz(k32, "bits", "32"), ERROR_SUCCESS);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Wow6432Node\\VtApp", KEY_WOW64_64KEY));
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtApp", KEY_WOW64_64KEY));
    // A handle remembers its view for relative opens.
    Key sw64;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ | KEY_WOW64_64KEY, &sw64), ERROR_SUCCESS);
    EXPECT_EQ(readSz(sw64, "Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir"), "C:\\Program Files");
    EXPECT_EQ(readSz(sw64, "Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", KEY_WOW64_32KEY),
              "C:\\Program Files (x86)");
    // The 32-bit SOFTWARE lists Wow6432Node's keys and the shared ones; the
    // 64-bit one lists its own, Wow6432Node included.
    for (REGSAM view : {REGSAM(KEY_WOW64_32KEY), REGSAM(KEY_WOW64_64KEY)}) {
        Key sw;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ | view, &sw), ERROR_SUCCESS);
        const auto names = subkeys(sw);
        auto has = [&](const char *n) { return std::find(names.begin(), names.end(), n) != names.end(); };
        const bool is32 = view == KEY_WOW64_32KEY;
        EXPECT_EQ(has("VtApp"), is32) << view;
        EXPECT_EQ(has("Wow6432Node"), !is32) << view;
        EXPECT_TRUE(has("Classes") && has("Microsoft") && has("Policies")) << view;
        DWORD count = 0;
        ASSERT_EQ(RegQueryInfoKeyA(sw, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(count, names.size());
        for (const auto &n : names)
            EXPECT_TRUE(exists(sw, n.c_str())) << n << " listed but does not open, view " << view;
    }
    // Deleting in the 64-bit view does not touch the 32-bit key.
    EXPECT_EQ(RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtApp", KEY_WOW64_64KEY, 0), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\VtApp", KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
    // CLSID below Classes has its own 32-bit copy.
    EXPECT_TRUE(exists(HKEY_CLASSES_ROOT, "CLSID\\{21EC2020-3AEA-1069-A2DD-08002B30309D}"));
    EXPECT_FALSE(exists(HKEY_CLASSES_ROOT, "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}"));
    EXPECT_TRUE(exists(HKEY_CLASSES_ROOT, "CLSID\\{645FF040-5081-101B-9F08-00AA002F954E}", KEY_WOW64_64KEY));

    // With the 32-bit emulation off, the default view is the 64-bit one.
    vt::platform::SystemOptions native;
    native.wow64 = false;
    ASSERT_EQ(sys.reopen(native), ERROR_SUCCESS);
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow));
    EXPECT_FALSE(wow);
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, cv, "ProgramFilesDir"), "C:\\Program Files");
}

TEST(Registry, AccessChecks)
{
    TempSystem sys;
    {
        Key k;
        ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\QueryOnly", k), ERROR_SUCCESS);
        ASSERT_EQ(setSz(k, "v", "x"), ERROR_SUCCESS);
        auto sd = vt::security::descriptorFromSddl("D:P(A;;0x1;;;WD)");
        ASSERT_TRUE(sd);
        ASSERT_EQ(RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd->data()), ERROR_SUCCESS);
    }
    struct Case {
        REGSAM sam;
        LONG want;
    } cases[] = {
        {KEY_READ, ERROR_ACCESS_DENIED},      {0x20009, ERROR_ACCESS_DENIED},   {KEY_QUERY_VALUE, ERROR_SUCCESS},
        {KEY_SET_VALUE, ERROR_ACCESS_DENIED}, {MAXIMUM_ALLOWED, ERROR_SUCCESS},
    };
    for (const auto &c : cases) {
        Key k;
        EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QueryOnly", 0, c.sam, &k), c.want) << std::hex << c.sam;
    }
    // The handle keeps its granted access: a query-only handle cannot write or enumerate.
    Key q;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QueryOnly", 0, KEY_QUERY_VALUE, &q), ERROR_SUCCESS);
    EXPECT_EQ(readSz(q, nullptr, "v"), "x");
    EXPECT_EQ(setSz(q, "v", "y"), ERROR_ACCESS_DENIED);
    char name[8];
    DWORD n = sizeof name;
    EXPECT_EQ(RegEnumKeyExA(q, 0, name, &n, nullptr, nullptr, nullptr, nullptr), ERROR_ACCESS_DENIED);
    Key ro;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &ro), ERROR_SUCCESS);
    Key sub;
    EXPECT_EQ(create(ro, "X", sub), ERROR_SUCCESS) << "creating checks the parent's descriptor, not the handle";

    // New keys inherit: the owner is the creator, and the parent's inheritable ACEs apply.
    DWORD size = 0;
    EXPECT_EQ(RegGetKeySecurity(ro, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, &size),
              ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buf(size);
    ASSERT_EQ(RegGetKeySecurity(ro, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, buf.data(), &size),
              ERROR_SUCCESS);
    EXPECT_NE(vt::security::descriptorToSddl(buf).find("(A;"), std::string::npos);

    // A standard user reads the machine but cannot change it, nor read SAM.
    vt::platform::SystemOptions user;
    user.identity = vt::platform::Identity::StandardUser;
    ASSERT_EQ(sys.reopen(user), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.txt", ""), "txtfile");
    Key denied;
    EXPECT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.vt", denied), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SAM\\SAM", 0, KEY_READ, &denied), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(enablePrivilege(SE_RESTORE_NAME)) << "a standard user does not hold it";
    EXPECT_EQ(RegLoadKeyA(HKEY_USERS, "X", "/nonexistent"), ERROR_PRIVILEGE_NOT_HELD);
    Key own;
    EXPECT_EQ(create(HKEY_CURRENT_USER, "Software\\Mine", own), ERROR_SUCCESS);
    // SYSTEM with the backup and restore privileges passes every check.
    vt::platform::SystemOptions system;
    system.identity = vt::platform::Identity::LocalSystem;
    ASSERT_EQ(sys.reopen(system), ERROR_SUCCESS);
    Key sam;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SAM\\SAM", 0, KEY_READ, &sam), ERROR_SUCCESS);
    EXPECT_EQ(RegLoadKeyA(HKEY_USERS, "X", "/nonexistent"), ERROR_FILE_NOT_FOUND) << "no privilege to enable";
    Key q2;
    EXPECT_EQ(RegOpenKeyExA(HKEY_USERS, (vt::platform::currentUserSid() + "\\Software\\QueryOnly").c_str(), 0,
                            KEY_ALL_ACCESS, &q2),
              ERROR_SUCCESS);
}

// The token holds SeRestorePrivilege and SeBackupPrivilege disabled; a program
// enables what it needs, as on Windows.
TEST(Registry, TokenPrivileges)
{
    TempSystem sys;
    LUID luid{};
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &luid));
    EXPECT_EQ(luid.LowPart, 18u);
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, "sebackupprivilege", &luid)) << "names compare without case";
    EXPECT_EQ(luid.LowPart, 17u);
    EXPECT_FALSE(LookupPrivilegeValueA(nullptr, "SeNoSuchPrivilege", &luid));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SUCH_PRIVILEGE));

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    ASSERT_TRUE(LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &tp.Privileges[0].Luid));
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr)) << "needs TOKEN_ADJUST_PRIVILEGES";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(token));
    EXPECT_FALSE(CloseHandle(token));

    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    // The previous state names what changed and how it was.
    struct {
        DWORD count;
        LUID_AND_ATTRIBUTES p[4];
    } previous{};
    DWORD length = 0;
    ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, sizeof previous,
                                      reinterpret_cast<PTOKEN_PRIVILEGES>(&previous), &length));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SUCCESS));
    ASSERT_EQ(previous.count, 1u);
    EXPECT_EQ(previous.p[0].Luid.LowPart, 18u);
    EXPECT_EQ(previous.p[0].Attributes, 0u) << "it was disabled";
    const std::string missing = sys.root() + "/no-such-hive";
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtPriv", missing.c_str()), ERROR_FILE_NOT_FOUND);
    // Disabling all (or this one) refuses loads again; a privilege not held is reported, not granted.
    ASSERT_TRUE(AdjustTokenPrivileges(token, TRUE, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtPriv", missing.c_str()), ERROR_PRIVILEGE_NOT_HELD);
    tp.Privileges[0].Luid = {5000, 0};
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOT_ALL_ASSIGNED));
    CloseHandle(token);
    // A new process starts with the privilege disabled again.
    ASSERT_TRUE(enablePrivilege(SE_RESTORE_NAME));
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtPriv", missing.c_str()), ERROR_PRIVILEGE_NOT_HELD);
}

// The kernel's name of a key: one name per key object, however it was reached.
TEST(Registry, KeyObjectNames)
{
    TempSystem sys;
    auto nameOf = [](HKEY k) {
        std::vector<uint8_t> buf(1024);
        ULONG need = 0;
        if (NtQueryKey(k, KeyNameInformation, buf.data(), ULONG(buf.size()), &need) != STATUS_SUCCESS)
            return std::string("<failed>");
        const auto *info = reinterpret_cast<const KEY_NAME_INFORMATION *>(buf.data());
        std::string out;
        for (ULONG i = 0; i < info->NameLength / 2; ++i)
            out.push_back(static_cast<char>(info->Name[i]));
        return out;
    };
    Key viaClasses, viaMachine, viaUsers, viaView;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, ".txt", 0, KEY_READ, &viaClasses), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.TXT\\", 0, KEY_READ, &viaMachine), ERROR_SUCCESS);
    EXPECT_EQ(nameOf(viaClasses), "\\REGISTRY\\MACHINE\\SOFTWARE\\Classes\\.txt");
    EXPECT_EQ(nameOf(viaMachine), nameOf(viaClasses));
    ASSERT_EQ(
        RegOpenKeyExA(HKEY_USERS, (vt::platform::currentUserSid() + "\\Software").c_str(), 0, KEY_READ, &viaUsers),
        ERROR_SUCCESS);
    EXPECT_EQ(nameOf(viaUsers), "\\REGISTRY\\USER\\" + vt::platform::currentUserSid() + "\\Software");
    // The 32-bit view of SOFTWARE is Wow6432Node.
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ | KEY_WOW64_32KEY, &viaView), ERROR_SUCCESS);
    EXPECT_EQ(nameOf(viaView), "\\REGISTRY\\MACHINE\\SOFTWARE\\Wow6432Node");
    // A short buffer gets the length and what fits; a deleted key says so.
    KEY_NAME_INFORMATION small{};
    ULONG need = 0;
    EXPECT_EQ(NtQueryKey(viaUsers, KeyNameInformation, &small, sizeof small, &need), STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(small.NameLength, need - sizeof(ULONG));
    EXPECT_EQ(small.Name[0], u'\\');
    Key gone;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Gone", gone), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Gone"), ERROR_SUCCESS);
    EXPECT_EQ(NtQueryKey(gone, KeyNameInformation, &small, sizeof small, &need), STATUS_KEY_DELETED);
}

TEST(Registry, ChangeNotifications)
{
    TempSystem sys;
    Key k;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Watch\\Deep", k), ERROR_SUCCESS);
    Key watch;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Watch", 0, KEY_NOTIFY | KEY_QUERY_VALUE, &watch),
              ERROR_SUCCESS);
    HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(ev, nullptr);
    ASSERT_EQ(setSz(k, "same", "1"), ERROR_SUCCESS); // set again below: no change

    struct Case {
        BOOL subtree;
        DWORD filter;
        const char *what;
        bool fires;
    } cases[] = {
        {TRUE, REG_NOTIFY_CHANGE_LAST_SET, "value below", true},
        {FALSE, REG_NOTIFY_CHANGE_LAST_SET, "value below", false},
        {TRUE, REG_NOTIFY_CHANGE_NAME, "value below", false},
        {FALSE, REG_NOTIFY_CHANGE_NAME, "subkey here", true},
        {TRUE, REG_NOTIFY_CHANGE_LAST_SET, "same value below", false},
        {TRUE, REG_NOTIFY_CHANGE_SECURITY, "security below", true},
        {TRUE, REG_NOTIFY_CHANGE_ATTRIBUTES, "security below", true},
    };
    for (const auto &c : cases) {
        ResetEvent(ev);
        ASSERT_EQ(RegNotifyChangeKeyValue(watch, c.subtree, c.filter, ev, TRUE), ERROR_SUCCESS);
        std::atomic<DWORD> woke{WAIT_FAILED};
        std::thread waiter([&] { woke = WaitForSingleObject(ev, c.fires ? 5000 : 200); });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (std::string(c.what) == "value below") {
            ASSERT_EQ(setSz(k, "v", std::to_string(c.filter) + std::to_string(c.subtree)), ERROR_SUCCESS);
        } else if (std::string(c.what) == "same value below") {
            ASSERT_EQ(setSz(k, "same", "1"), ERROR_SUCCESS);
        } else if (std::string(c.what) == "subkey here") {
            Key n;
            ASSERT_EQ(create(watch, "New", n), ERROR_SUCCESS);
        } else {
            auto sd = vt::security::descriptorFromSddl("D:(A;;KA;;;WD)");
            ASSERT_EQ(RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd->data()), ERROR_SUCCESS);
        }
        waiter.join();
        EXPECT_EQ(woke.load(), c.fires ? DWORD(WAIT_OBJECT_0) : DWORD(WAIT_TIMEOUT)) << c.what << c.filter;
        if (!c.fires) {
            // Closing the handle ends the pending registration (and signals it).
            RegCloseKey(watch.h);
            watch.h = nullptr;
            ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Watch", 0, KEY_NOTIFY, &watch), ERROR_SUCCESS);
        }
    }
    // A registration fires once and then ends; registering resets the event.
    SetEvent(ev);
    ASSERT_EQ(RegNotifyChangeKeyValue(watch, TRUE, REG_NOTIFY_CHANGE_LAST_SET, ev, TRUE), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(ev, 0), DWORD(WAIT_TIMEOUT));
    ASSERT_EQ(setSz(k, "a", "1"), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(ev, 0), DWORD(WAIT_OBJECT_0));
    ASSERT_EQ(setSz(k, "a", "2"), ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(ev, 0), DWORD(WAIT_TIMEOUT));
    // Synchronous mode blocks until the change.
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        Key w;
        RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Watch\\Deep", 0, KEY_SET_VALUE, &w);
        setSz(w, "sync", "1");
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RegNotifyChangeKeyValue(watch, TRUE, REG_NOTIFY_CHANGE_LAST_SET, nullptr, FALSE), ERROR_SUCCESS);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    writer.join();
    // Errors: no notify right, no event in asynchronous mode.
    Key noNotify;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Watch", 0, KEY_QUERY_VALUE, &noNotify), ERROR_SUCCESS);
    EXPECT_EQ(RegNotifyChangeKeyValue(noNotify, TRUE, REG_NOTIFY_CHANGE_NAME, ev, TRUE), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegNotifyChangeKeyValue(watch, TRUE, REG_NOTIFY_CHANGE_NAME, nullptr, TRUE), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(ev));
    EXPECT_FALSE(CloseHandle(ev));
}

TEST(Registry, EventsManualAndAutoReset)
{
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE autoEv = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(manual, 0), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(autoEv, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(autoEv, 0), DWORD(WAIT_TIMEOUT)) << "auto-reset consumed by the wait";
    SetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(WaitForSingleObject(manual, 0), DWORD(WAIT_OBJECT_0)) << "manual stays signalled";
    HANDLE both[2] = {autoEv, manual};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), DWORD(WAIT_OBJECT_0 + 1));
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), DWORD(WAIT_TIMEOUT));
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SetEvent(autoEv);
    });
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 2000), DWORD(WAIT_OBJECT_0));
    t.join();
    EXPECT_EQ(WaitForSingleObject(autoEv, 0), DWORD(WAIT_TIMEOUT));
    CloseHandle(manual);
    CloseHandle(autoEv);
    EXPECT_EQ(WaitForSingleObject(manual, 0), DWORD(WAIT_FAILED));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST(Registry, ClassesRootMerge)
{
    TempSystem sys;
    // The user's key wins over the machine's.
    EXPECT_EQ(readSz(HKEY_CLASSES_ROOT, ".txt", ""), "txtfile");
    Key user;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Classes\\.txt", user), ERROR_SUCCESS);
    ASSERT_EQ(setSz(user, "", "myeditor"), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CLASSES_ROOT, ".txt", ""), "myeditor");
    // Subkeys of both sides enumerate once each, in order.
    Key u2;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Classes\\.aaa-user", u2), ERROR_SUCCESS);
    Key root;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, &root), ERROR_SUCCESS);
    auto names = subkeys(root);
    ASSERT_GE(names.size(), 3u);
    EXPECT_EQ(names[0], ".aaa-user");
    EXPECT_EQ(std::count(names.begin(), names.end(), ".txt"), 1);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const std::string &a, const std::string &b) {
        std::string x = a, y = b;
        for (auto &c : x)
            c = static_cast<char>(std::toupper(c));
        for (auto &c : y)
            c = static_cast<char>(std::toupper(c));
        return x < y;
    }));
    DWORD count = 0;
    ASSERT_EQ(RegQueryInfoKeyA(root, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(count, names.size());
    // Writes go to the machine's branch unless the key is the user's.
    Key machineOnly;
    ASSERT_EQ(create(HKEY_CLASSES_ROOT, "txtfile\\VtVerb", machineOnly), ERROR_SUCCESS);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\txtfile\\VtVerb"));
    Key userSide;
    ASSERT_EQ(create(HKEY_CLASSES_ROOT, ".txt\\VtSub", userSide), ERROR_SUCCESS);
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software\\Classes\\.txt\\VtSub"));
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.txt\\VtSub"));
    Key fresh;
    ASSERT_EQ(create(HKEY_CLASSES_ROOT, ".vtnew", fresh), ERROR_SUCCESS);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\.vtnew"));
}

TEST(Registry, Utf8NamesAndStrings)
{
    TempSystem sys;
    const std::string keyName = "Schlüssel-ключ-鍵";
    const std::string valueName = "Wert-值-😀";
    const std::string text = "Grüße, мир, 世界 😀";
    {
        Key k;
        ASSERT_EQ(create(HKEY_CURRENT_USER, ("Software\\" + keyName).c_str(), k), ERROR_SUCCESS);
        ASSERT_EQ(setSz(k, valueName.c_str(), text), ERROR_SUCCESS);
        // Multi-strings convert too; sizes are UTF-8 bytes.
        const char multi[] = "é\0ü\0";
        ASSERT_EQ(RegSetValueExA(k, "multi", 0, REG_MULTI_SZ, bytes(multi), sizeof multi), ERROR_SUCCESS);
        DWORD size = 0;
        ASSERT_EQ(RegQueryValueExA(k, "multi", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
        EXPECT_EQ(size, sizeof multi);
        DWORD maxName = 0, maxData = 0;
        ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                                   nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(maxName, valueName.size());
        EXPECT_GE(maxData, text.size() + 1) << "a buffer of this size holds the UTF-8 form";
        // Three UTF-8 bytes per character need more than the stored UTF-16 size.
        const std::string cjk = "世界世界";
        ASSERT_EQ(setSz(k, "cjk", cjk), ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteValueA(k, valueName.c_str()), ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteValueA(k, "multi"), ERROR_SUCCESS);
        ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxData,
                                   nullptr, nullptr),
                  ERROR_SUCCESS);
        EXPECT_EQ(maxData, cjk.size() + 1);
        ASSERT_EQ(setSz(k, valueName.c_str(), text), ERROR_SUCCESS);
    }
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    // Case-insensitive across scripts.
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\SCHLÜSSEL-КЛЮЧ-鍵", valueName.c_str()), text);
    Key sw;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &sw), ERROR_SUCCESS);
    auto names = subkeys(sw);
    EXPECT_NE(std::find(names.begin(), names.end(), keyName), names.end());
    // Bytes that are not UTF-8 survive a round trip too.
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, ("Software\\" + keyName).c_str(), 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    const char raw[] = "a\xff\xfe"
                       "b";
    ASSERT_EQ(RegSetValueExA(k, "raw", 0, REG_SZ, bytes(raw), sizeof raw), ERROR_SUCCESS);
    char buf[16];
    DWORD size = sizeof buf;
    ASSERT_EQ(RegQueryValueExA(k, "raw", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buf, size), std::string(raw, sizeof raw));
}

TEST(Registry, PersistenceAcrossReopen)
{
    TempSystem sys;
    {
        Key k;
        ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Keep\\Me", k), ERROR_SUCCESS);
        ASSERT_EQ(setSz(k, "s", "kept"), ERROR_SUCCESS);
        Key gone;
        ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Keep\\Gone", gone), ERROR_SUCCESS);
        ASSERT_EQ(setSz(gone, "x", "y"), ERROR_SUCCESS);
        Key vol;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Keep\\Volatile", 0, nullptr, REG_OPTION_VOLATILE,
                                  KEY_ALL_ACCESS, nullptr, &vol, nullptr),
                  ERROR_SUCCESS);
        Key inVol;
        EXPECT_EQ(create(vol, "NonVolatile", inVol), ERROR_CHILD_MUST_BE_VOLATILE);
        ASSERT_EQ(setSz(k, "d", "deleted"), ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteValueA(k, "d"), ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Keep\\Gone"), ERROR_SUCCESS);
        Key m;
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Keep", m, KEY_ALL_ACCESS | KEY_WOW64_64KEY), ERROR_SUCCESS);
        const uint64_t q = 0x1122334455667788ull;
        ASSERT_EQ(RegSetValueExA(m, "q", 0, REG_QWORD, reinterpret_cast<const BYTE *>(&q), 8), ERROR_SUCCESS);
    }
    for (int round = 0; round < 2; ++round) {
        // First from the journal (the hives are written at close), then after a flush.
        ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
        EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Keep\\Me", "s"), "kept");
        EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Keep\\Me", "d"), "<no value>");
        EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Keep\\Gone"));
        EXPECT_FALSE(exists(HKEY_CURRENT_USER, "Software\\Keep\\Volatile"));
        Key m;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Keep", 0, KEY_READ | KEY_WOW64_64KEY, &m),
                  ERROR_SUCCESS);
        uint64_t q = 0;
        DWORD size = 8;
        EXPECT_EQ(RegQueryValueExA(m, "q", nullptr, nullptr, reinterpret_cast<BYTE *>(&q), &size), ERROR_SUCCESS);
        EXPECT_EQ(q, 0x1122334455667788ull);
        EXPECT_EQ(RegFlushKey(m), ERROR_SUCCESS);
    }
}

// A writer killed at any moment loses no acknowledged change and leaves
// every hive readable.
TEST(Registry, KilledWriterLosesNothingAcknowledged)
{
    TempSystem sys;
    sys.close();
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(pipefd[0]);
        vt::platform::SystemOptions o;
        o.root = sys.root();
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        HKEY k;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Stream", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr) != ERROR_SUCCESS)
            ::_exit(3);
        for (uint32_t i = 0;; ++i) {
            const std::string name = "v" + std::to_string(i);
            const std::string data(100 + i % 900, char('a' + i % 26));
            if (RegSetValueExA(k, name.c_str(), 0, REG_SZ, bytes(data.c_str()), static_cast<DWORD>(data.size() + 1)) !=
                ERROR_SUCCESS)
                ::_exit(4);
            if (i % 50 == 0)
                RegFlushKey(k); // checkpoints too, so the kill may land in one
            if (::write(pipefd[1], &i, sizeof i) != sizeof i)
                ::_exit(5);
        }
    }
    ::close(pipefd[1]);
    uint32_t acked = 0, v;
    size_t got = 0;
    while (got < 300 && ::read(pipefd[0], &v, sizeof v) == sizeof v) {
        acked = v;
        ++got;
    }
    ::kill(child, SIGKILL);
    // Whatever the child acknowledged before the kill is at least `acked`.
    while (::read(pipefd[0], &v, sizeof v) == sizeof v)
        acked = v;
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(pipefd[0]);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer ended by itself with " << WEXITSTATUS(status);

    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Stream", 0, KEY_READ, &k), ERROR_SUCCESS);
    for (uint32_t i = 0; i <= acked; ++i) {
        const std::string name = "v" + std::to_string(i);
        DWORD size = 0;
        ASSERT_EQ(RegQueryValueExA(k, name.c_str(), nullptr, nullptr, nullptr, &size), ERROR_SUCCESS) << name;
        ASSERT_EQ(size, 100 + i % 900 + 1) << name;
    }
    sys.close();
    const std::string ntuser = sys.root() + "/drive_c/Users/" + vt::platform::currentUserName() + "/NTUSER.DAT";
    const std::string out = run("hivexregedit --export '" + ntuser + "' '\\Software\\Stream' 2>&1");
    EXPECT_NE(out.find("\"v" + std::to_string(acked) + "\""), std::string::npos) << out.substr(0, 400);
}

// Runs `body` in a child process that then dies without closing the system,
// so its changes exist only in the journal.
template <typename F> void inDyingChild(const std::string &root, F body)
{
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vt::platform::SystemOptions o;
        o.root = root;
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        body();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
}

std::string journalFile(const std::string &root)
{
    std::ifstream in(root + "/journal.current");
    std::string gen = "1";
    in >> gen;
    return root + "/registry.journal." + gen;
}

// A program that ends without closing the system exits cleanly (no running
// thread left behind) and loses nothing.
// A child forked while the parent's poller thread runs may inherit the
// leak checker's allocator lock held by that thread; the check at its exit
// would then wait forever. Such a child skips the check (LeakSanitizer asks
// this hook; other builds never call it).
volatile int gSkipLeakCheckAtExit = 0;

TEST(Registry, ExitWithoutCloseIsClean)
{
    TempSystem sys;
    sys.close();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vt::platform::SystemOptions o;
        o.root = sys.root();
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        HKEY k;
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Exit", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        setSz(k, "v", "kept");
        std::exit(0); // runs the static destructors
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Exit", "v"), "kept");
    // A child forked from a process with an open system exits cleanly too.
    const pid_t forked = ::fork();
    ASSERT_GE(forked, 0);
    if (forked == 0) {
        gSkipLeakCheckAtExit = 1;
        std::exit(0);
    }
    ::waitpid(forked, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Registry, TornJournalTailIsCutOff)
{
    TempSystem sys;
    sys.close();
    inDyingChild(sys.root(), [] {
        HKEY k;
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Torn", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        setSz(k, "a", "kept");
    });
    const std::string journal = journalFile(sys.root());
    const auto intact = fs::file_size(journal);
    // Half a record: a length and CRC that promise more than is there.
    std::ofstream(journal, std::ios::app | std::ios::binary) << std::string("\x40\0\0\0\x12\x34\x56\x78"
                                                                            "abc",
                                                                            11);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Torn", "a"), "kept");
    EXPECT_EQ(fs::file_size(journal), intact) << "the torn tail is cut off at start-up";
    Key k;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Torn", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
    EXPECT_EQ(setSz(k, "b", "after"), ERROR_SUCCESS);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Torn", "b"), "after");
}

// A crash after the hives were written but before the journal moved on
// replays records the hives already hold: the result must not change.
TEST(Registry, ReplayingAnAppliedJournalChangesNothing)
{
    TempSystem sys;
    sys.close();
    inDyingChild(sys.root(), [] {
        HKEY k, b, c;
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Replay\\A", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        setSz(k, "v", "1");
        setSz(k, "v", "2");
        setSz(k, "gone", "x");
        RegDeleteValueA(k, "gone");
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Replay\\B", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &b, nullptr);
        RegCloseKey(b);
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Replay\\B");
        RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Replay\\B\\C", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &c,
                        nullptr);
        setSz(c, "w", "new");
        auto sd = vt::security::descriptorFromSddl("D:(A;;KA;;;WD)");
        RegSetKeySecurity(k, DACL_SECURITY_INFORMATION, sd->data());
    });
    const std::string journal = journalFile(sys.root());
    const std::string saved = sys.root() + "/saved.journal";
    fs::copy_file(journal, saved);
    const std::string current = sys.root() + "/journal.current";
    const std::string savedCurrent =
        fs::exists(current) ? std::string(std::istreambuf_iterator<char>(*std::make_unique<std::ifstream>(current)), {})
                            : std::string();
    auto check = [&] {
        EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Replay\\A", "v"), "2");
        EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Replay\\A", "gone"), "<no value>");
        EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Replay\\B\\C", "w"), "new");
        Key k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Replay\\A", 0, READ_CONTROL, &k), ERROR_SUCCESS);
        DWORD size = 256;
        std::vector<BYTE> sd(size);
        ASSERT_EQ(RegGetKeySecurity(k, DACL_SECURITY_INFORMATION, sd.data(), &size), ERROR_SUCCESS);
        EXPECT_NE(vt::security::descriptorToSddl(sd, DACL_SECURITY_INFORMATION).find("WD)"), std::string::npos);
    };
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    check();
    sys.close(); // writes the hives and starts a new generation
    // Put the old journal back as if the crash came between the two.
    fs::copy_file(saved, journal, fs::copy_options::overwrite_existing);
    if (savedCurrent.empty())
        fs::remove(current);
    else
        std::ofstream(current, std::ios::trunc) << savedCurrent;
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    check();
    Key r;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Replay", 0, KEY_READ, &r), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(r), (std::vector<std::string>{"A", "B"}));
}

TEST(Registry, NameLengthAndDepthLimits)
{
    TempSystem sys;
    Key k;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Limits", k), ERROR_SUCCESS);
    struct Case {
        size_t length;
        LONG want;
    } keyNames[] = {{255, ERROR_SUCCESS}, {256, ERROR_INVALID_PARAMETER}};
    for (const auto &c : keyNames) {
        Key sub;
        EXPECT_EQ(create(k, std::string(c.length, 'k').c_str(), sub), c.want) << c.length;
    }
    // 255 characters of a two-byte script: 510 bytes of UTF-8, still allowed.
    std::string cyr;
    for (int i = 0; i < 255; ++i)
        cyr += "ж";
    Key wide;
    EXPECT_EQ(create(k, cyr.c_str(), wide), ERROR_SUCCESS);
    DWORD maxSub = 0;
    ASSERT_EQ(RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, nullptr, &maxSub, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(maxSub, cyr.size()) << "lengths in UTF-8 bytes";
    std::vector<char> buf(maxSub + 1);
    DWORD n = maxSub + 1;
    EXPECT_EQ(RegEnumKeyExA(k, 1, buf.data(), &n, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(std::string(buf.data(), n), cyr);
    struct ValueCase {
        size_t length;
        LONG want;
    } valueNames[] = {{16383, ERROR_SUCCESS}, {16384, ERROR_INVALID_PARAMETER}};
    for (const auto &c : valueNames)
        EXPECT_EQ(setSz(k, std::string(c.length, 'v').c_str(), "x"), c.want) << c.length;
    // One create names at most 32 levels.
    auto levels = [](int n) {
        std::string p;
        for (int i = 0; i < n; ++i)
            p += (i ? "\\d" : "d");
        return p;
    };
    Key thirtyThree;
    EXPECT_EQ(create(k, ("L33\\" + levels(32)).c_str(), thirtyThree), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(exists(k, "L33"));
    Key thirtyTwo;
    EXPECT_EQ(create(k, ("L32\\" + levels(31)).c_str(), thirtyTwo), ERROR_SUCCESS);
    // 512 levels in all: HKU\<SID> is level 1.
    Key d;
    ASSERT_EQ(RegOpenKeyExA(k, nullptr, 0, KEY_ALL_ACCESS, &d), ERROR_SUCCESS);
    for (int left = 509; left > 0; left -= 32) {
        Key next;
        ASSERT_EQ(create(d, levels(std::min(left, 32)).c_str(), next), ERROR_SUCCESS) << left;
        std::swap(d.h, next.h);
    }
    Key tooDeep;
    EXPECT_EQ(create(d, "one\\more", tooDeep), ERROR_INVALID_PARAMETER);
}

TEST(Registry, ClassNames)
{
    TempSystem sys;
    Key parent;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Cls", parent), ERROR_SUCCESS);
    char cls[] = "MyClass";
    Key k;
    ASSERT_EQ(RegCreateKeyExA(parent, "Sub", 0, cls, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr), ERROR_SUCCESS);
    char buf[16];
    DWORD n = 4;
    EXPECT_EQ(
        RegQueryInfoKeyA(k, buf, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        ERROR_MORE_DATA);
    EXPECT_STREQ(buf, "MyC") << "a short buffer gets what fits, terminated";
    EXPECT_EQ(n, 3u);
    n = sizeof buf;
    ASSERT_EQ(
        RegQueryInfoKeyA(k, buf, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr),
        ERROR_SUCCESS);
    EXPECT_EQ(n, 7u);
    EXPECT_STREQ(buf, "MyClass");
    char name[8], c2[16];
    DWORD nn = sizeof name, nc = sizeof c2;
    ASSERT_EQ(RegEnumKeyExA(parent, 0, name, &nn, nullptr, c2, &nc, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(c2, "MyClass");
    EXPECT_EQ(nc, 7u);
    DWORD maxClass = 0;
    ASSERT_EQ(RegQueryInfoKeyA(parent, nullptr, nullptr, nullptr, nullptr, nullptr, &maxClass, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(maxClass, 7u);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    Key again;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Cls\\Sub", 0, KEY_READ, &again), ERROR_SUCCESS);
    n = sizeof buf;
    ASSERT_EQ(RegQueryInfoKeyA(again, buf, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(buf, "MyClass") << "class names survive the journal and the hive";
}

// Two processes on one system: each sees the other's changes, and a change
// notification wakes within a second, also across a checkpoint.
TEST(Registry, TwoProcessesShareOneSystem)
{
    TempSystem sys;
    sys.close();
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        vt::platform::SystemOptions o;
        o.root = sys.root();
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            ::_exit(2);
        HKEY k;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr) != ERROR_SUCCESS)
            ::_exit(3);
        setSz(k, "child", "from child");
        HANDLE ev = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        RegNotifyChangeKeyValue(k, TRUE, REG_NOTIFY_CHANGE_LAST_SET, ev, TRUE);
        char c = 'r';
        if (::write(ready[1], &c, 1) != 1)
            ::_exit(4);
        // The parent's first write must wake us without any call of ours.
        if (WaitForSingleObject(ev, 3000) != WAIT_OBJECT_0)
            ::_exit(5);
        if (::read(done[0], &c, 1) != 1)
            ::_exit(6);
        const bool ok = readSz(HKEY_CURRENT_USER, "Software\\Shared", "parent") == "from parent" &&
                        readSz(HKEY_CURRENT_USER, "Software\\Shared", "after flush") == "yes";
        RegCloseKey(k);
        vt::platform::closeSystem();
        ::_exit(ok ? 0 : 7);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_CURRENT_USER, "Software\\Shared", "child"), "from child");
    {
        Key k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Shared", 0, KEY_ALL_ACCESS, &k), ERROR_SUCCESS);
        ASSERT_EQ(setSz(k, "parent", "from parent"), ERROR_SUCCESS);
        ASSERT_EQ(RegFlushKey(k), ERROR_SUCCESS); // a new journal generation
        ASSERT_EQ(setSz(k, "after flush", "yes"), ERROR_SUCCESS);
    }
    ASSERT_EQ(::write(done[1], "d", 1), 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        ::close(fd);
}

// Writers in two processes, checkpointing as they go: nothing is lost and
// each sees the other's keys.
TEST(Registry, ConcurrentWritersInTwoProcesses)
{
    TempSystem sys;
    sys.close();
    constexpr int kValues = 150;
    std::vector<pid_t> children;
    for (int w = 0; w < 2; ++w) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            vt::platform::SystemOptions o;
            o.root = sys.root();
            if (vt::platform::openSystem(o) != ERROR_SUCCESS)
                ::_exit(2);
            HKEY k;
            const std::string path = "Software\\Writers\\W" + std::to_string(w);
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
                ERROR_SUCCESS)
                ::_exit(3);
            for (int i = 0; i < kValues; ++i) {
                if (setSz(k, ("v" + std::to_string(i)).c_str(), std::to_string(i * 7)) != ERROR_SUCCESS)
                    ::_exit(4);
                if (i % 40 == 39 && RegFlushKey(k) != ERROR_SUCCESS)
                    ::_exit(5);
            }
            // The other writer's key is visible here too once it is done.
            const std::string other = "Software\\Writers\\W" + std::to_string(1 - w);
            for (int tries = 0;
                 tries < 200 && readSz(HKEY_CURRENT_USER, other.c_str(), ("v" + std::to_string(kValues - 1)).c_str()) !=
                                    std::to_string((kValues - 1) * 7);
                 ++tries)
                std::this_thread::sleep_for(std::chrono::milliseconds(25));
            const bool sawOther =
                readSz(HKEY_CURRENT_USER, other.c_str(), ("v" + std::to_string(kValues - 1)).c_str()) ==
                std::to_string((kValues - 1) * 7);
            RegCloseKey(k);
            vt::platform::closeSystem();
            ::_exit(sawOther ? 0 : 6);
        }
        children.push_back(child);
    }
    for (pid_t c : children) {
        int status = 0;
        ::waitpid(c, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    for (int w = 0; w < 2; ++w) {
        const std::string path = "Software\\Writers\\W" + std::to_string(w);
        for (int i = 0; i < kValues; ++i)
            ASSERT_EQ(readSz(HKEY_CURRENT_USER, path.c_str(), ("v" + std::to_string(i)).c_str()), std::to_string(i * 7))
                << path << " v" << i;
    }
}

TEST(Registry, LoadAndUnloadHives)
{
    VT_SKIP_WITHOUT_TESTDATA();
    TempSystem sys;
    const std::string dir = vt::test::makeTempDir("vt-hives");
    const std::string copy = dir + "/NTUSER.DAT";
    fs::copy_file(testdata("hives/real/regipy/NTUSER.DAT"), copy);
    fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add); // the test data is read-only
    const std::string untouched = dir + "/SAM";
    fs::copy_file(testdata("hives/real/regipy/SAM"), untouched);
    fs::permissions(untouched, fs::perms::owner_write, fs::perm_options::add);
    auto fileBytes = [](const std::string &p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string samBefore = fileBytes(untouched);
    const std::string notHive = dir + "/plain.txt";
    std::ofstream(notHive) << "not a hive at all, just some text that is long enough to look like something";

    struct Case {
        HKEY root;
        const char *name;
        std::string file;
        LONG want;
    } cases[] = {
        {HKEY_USERS, "VtLoaded", copy, ERROR_SUCCESS},
        {HKEY_USERS, "VtLoaded", untouched, ERROR_ALREADY_EXISTS},
        {HKEY_LOCAL_MACHINE, "SOFTWARE", untouched, ERROR_ALREADY_EXISTS},
        {HKEY_LOCAL_MACHINE, "A\\B", untouched, ERROR_INVALID_PARAMETER},
        {HKEY_CURRENT_USER, "X", untouched, ERROR_INVALID_PARAMETER},
        {HKEY_LOCAL_MACHINE, "Other", copy, ERROR_SHARING_VIOLATION},
        {HKEY_LOCAL_MACHINE, "Text", notHive, ERROR_NOT_REGISTRY_FILE},
        {HKEY_LOCAL_MACHINE, "Missing", dir + "/missing", ERROR_FILE_NOT_FOUND},
        {HKEY_LOCAL_MACHINE, "VtSam", untouched, ERROR_SUCCESS},
    };
    // Without SeRestorePrivilege enabled nothing is looked at: every load and
    // unload is refused alike, also for a key that is no hive's mount point,
    // a path or a handle that could never name one.
    for (const auto &c : cases)
        EXPECT_EQ(RegLoadKeyA(c.root, c.name, c.file.c_str()), ERROR_PRIVILEGE_NOT_HELD) << c.name;
    for (const char *name : {"Missing", "SOFTWARE", "SYSTEM", "SOFTWARE\\Microsoft", ""})
        EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, name), ERROR_PRIVILEGE_NOT_HELD) << name;
    EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, vt::platform::currentUserSid().c_str()), ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_EQ(RegUnLoadKeyA(HKEY_CURRENT_USER, "Software"), ERROR_PRIVILEGE_NOT_HELD);
    {
        HKEY software = nullptr;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &software), ERROR_SUCCESS);
        EXPECT_EQ(RegUnLoadKeyA(software, "Microsoft"), ERROR_PRIVILEGE_NOT_HELD);
        RegCloseKey(software);
    }

    ASSERT_TRUE(enablePrivilege(SE_RESTORE_NAME));
    for (const auto &c : cases)
        EXPECT_EQ(RegLoadKeyA(c.root, c.name, c.file.c_str()), c.want) << c.name << " " << c.file;

    Key loaded;
    ASSERT_EQ(RegOpenKeyExA(HKEY_USERS, "VtLoaded", 0, KEY_ALL_ACCESS, &loaded), ERROR_SUCCESS);
    const auto before = subkeys(loaded);
    EXPECT_FALSE(before.empty());
    {
        Key k;
        ASSERT_EQ(create(loaded, "VtAdded", k), ERROR_SUCCESS);
        ASSERT_EQ(setSz(k, "v", "in loaded hive"), ERROR_SUCCESS);
    }
    EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "VtLoaded"), ERROR_ACCESS_DENIED) << "a handle is still open";
    RegCloseKey(loaded.h);
    loaded.h = nullptr;
    // Mounts and changes to them survive a restart; the new process enables the privilege again.
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_EQ(readSz(HKEY_USERS, "VtLoaded\\VtAdded", "v"), "in loaded hive");
    EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "VtLoaded"), ERROR_PRIVILEGE_NOT_HELD);
    ASSERT_TRUE(enablePrivilege(SE_RESTORE_NAME));
    EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "VtLoaded"), ERROR_SUCCESS);
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtSam"), ERROR_SUCCESS);
    EXPECT_EQ(RegUnLoadKeyA(HKEY_USERS, "VtLoaded"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE"), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(exists(HKEY_USERS, "VtLoaded"));
    EXPECT_EQ(fileBytes(untouched), samBefore) << "an unchanged hive is not rewritten";
    // The written-back hive holds the change for other readers.
    const std::string out = run("hivexregedit --export '" + copy + "' '\\VtAdded' 2>&1");
    EXPECT_NE(out.find("\"v\"=hex(1):69,00,6e,00,20,00,6c,00,6f,00"), std::string::npos) << out.substr(0, 400);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    EXPECT_FALSE(exists(HKEY_USERS, "VtLoaded")) << "unloading persists";
    vt::test::removeTree(dir);
}

// RegSaveKeyA writes a key's subtree as a hive the peer tools read cleanly;
// RegRestoreKeyA replaces a key's values and subtree with a file's.
TEST(Registry, SaveAndRestoreKeys)
{
    TempSystem sys;
    const std::string dir = vt::test::makeTempDir("vt-save");
    const std::string saved = dir + "/saved.hiv";
    Key src, a, b, vol;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\VtSave", 0, const_cast<char *>("SaveClass"), 0,
                              KEY_ALL_ACCESS, nullptr, &src, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setSz(src, "", "default"), ERROR_SUCCESS);
    ASSERT_EQ(setSz(src, "multi", std::string("a\0b\0", 4), REG_MULTI_SZ), ERROR_SUCCESS);
    std::vector<BYTE> big(20000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<BYTE>(i * 13);
    ASSERT_EQ(RegSetValueExA(src, "big", 0, REG_BINARY, big.data(), DWORD(big.size())), ERROR_SUCCESS);
    ASSERT_EQ(create(src, "A", a), ERROR_SUCCESS);
    ASSERT_EQ(create(a, "B", b), ERROR_SUCCESS);
    const DWORD seven = 7;
    ASSERT_EQ(RegSetValueExA(b, "n", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&seven), 4), ERROR_SUCCESS);
    auto sd = vt::security::descriptorFromSddl("O:BAG:SYD:P(A;CI;KA;;;BA)(A;CI;KR;;;WD)");
    ASSERT_TRUE(sd);
    ASSERT_EQ(RegSetKeySecurity(a, DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION, sd->data()), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(src, "Vol", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &vol, nullptr),
              ERROR_SUCCESS);

    EXPECT_EQ(RegSaveKeyA(src, saved.c_str(), nullptr), ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_FALSE(fs::exists(saved));
    ASSERT_TRUE(enablePrivilege(SE_BACKUP_NAME));
    ASSERT_EQ(RegSaveKeyA(src, saved.c_str(), nullptr), ERROR_SUCCESS);
    EXPECT_EQ(RegSaveKeyA(src, saved.c_str(), nullptr), ERROR_ALREADY_EXISTS) << "never overwrites";

    // Three independent readers read it cleanly; volatile keys stay behind.
    const std::string q = "'" + saved + "'";
    const std::string hivex = run("hivexregedit --export " + q + " '\\' 2>&1; echo rc=$?");
    EXPECT_NE(hivex.find("\"n\"=dword:00000007"), std::string::npos) << hivex.substr(0, 600);
    EXPECT_NE(hivex.find("rc=0"), std::string::npos) << hivex.substr(0, 600);
    EXPECT_EQ(hivex.find("Vol]"), std::string::npos);
    const std::string lookup = run("reglookup -H " + q + " 2>&1; echo rc=$?");
    EXPECT_NE(lookup.find("/A/B/n,DWORD,0x00000007,"), std::string::npos) << lookup.substr(0, 600);
    EXPECT_NE(lookup.find("rc=0"), std::string::npos);
    EXPECT_EQ(run("regfinfo " + q + " 2>&1 >/dev/null; echo rc=$?"), "rc=0\n");

    // Restoring replaces what the target held.
    Key dst, old;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\VtRestore\\Old", old), ERROR_SUCCESS);
    RegCloseKey(old.h);
    old.h = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VtRestore", 0, KEY_ALL_ACCESS, &dst), ERROR_SUCCESS);
    ASSERT_EQ(setSz(dst, "stale", "x"), ERROR_SUCCESS);
    EXPECT_EQ(RegRestoreKeyA(dst, saved.c_str(), 0), ERROR_PRIVILEGE_NOT_HELD);
    ASSERT_TRUE(enablePrivilege(SE_RESTORE_NAME));
    const std::string text = dir + "/text.hiv";
    std::ofstream(text) << "not a hive, only words standing where a base block should be";
    EXPECT_EQ(RegRestoreKeyA(dst, text.c_str(), 0), ERROR_NOT_REGISTRY_FILE);
    EXPECT_EQ(readSz(dst, nullptr, "stale"), "x") << "a refused restore changes nothing";
    ASSERT_EQ(RegRestoreKeyA(dst, saved.c_str(), 0), ERROR_SUCCESS);

    auto check = [&](const char *when) {
        Key k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\VtRestore", 0, KEY_READ, &k), ERROR_SUCCESS) << when;
        EXPECT_EQ(subkeys(k), std::vector<std::string>{"A"}) << when;
        EXPECT_EQ(readSz(k, nullptr, "stale"), "<no value>") << when;
        EXPECT_EQ(readSz(k, nullptr, ""), "default") << when;
        std::vector<BYTE> got(big.size());
        DWORD size = DWORD(got.size()), type = 0;
        EXPECT_EQ(RegQueryValueExA(k, "big", nullptr, &type, got.data(), &size), ERROR_SUCCESS) << when;
        EXPECT_EQ(got, big) << when;
        DWORD n = 0;
        size = 4;
        Key kb;
        ASSERT_EQ(RegOpenKeyExA(k, "A\\B", 0, KEY_READ, &kb), ERROR_SUCCESS) << when;
        EXPECT_EQ(RegQueryValueExA(kb, "n", nullptr, nullptr, reinterpret_cast<BYTE *>(&n), &size), ERROR_SUCCESS);
        EXPECT_EQ(n, 7u) << when;
        // The descriptor travels with the key.
        Key ka;
        ASSERT_EQ(RegOpenKeyExA(k, "A", 0, READ_CONTROL, &ka), ERROR_SUCCESS) << when;
        std::vector<BYTE> buf(512);
        DWORD len = DWORD(buf.size());
        ASSERT_EQ(RegGetKeySecurity(ka, DACL_SECURITY_INFORMATION, buf.data(), &len), ERROR_SUCCESS);
        buf.resize(len);
        EXPECT_EQ(vt::security::descriptorToSddl(buf), "D:P(A;CI;KA;;;BA)(A;CI;KR;;;WD)") << when;
    };
    check("after the restore");
    RegCloseKey(dst.h);
    dst.h = nullptr;
    RegCloseKey(src.h), RegCloseKey(a.h), RegCloseKey(b.h), RegCloseKey(vol.h);
    src.h = a.h = b.h = vol.h = nullptr;
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    check("after a restart");
    vt::test::removeTree(dir);
}

// Every value type goes through a hive file that three independent readers
// read back the same.
TEST(Registry, ValueTypesThroughHiveFileAndPeerTools)
{
    VT_SKIP_WITHOUT_TESTDATA();
    TempSystem sys;
    const std::string dir = vt::test::makeTempDir("vt-types");
    const std::string hive = dir + "/types.hiv";
    fs::copy_file(testdata("hives/real/regipy/SAM"), hive);
    fs::permissions(hive, fs::perms::owner_write, fs::perm_options::add); // the test data is read-only
    ASSERT_TRUE(enablePrivilege(SE_RESTORE_NAME));
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtTypes", hive.c_str()), ERROR_SUCCESS);
    std::vector<uint8_t> big(20000);
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<uint8_t>(i * 7);
    struct Case {
        const char *name;
        DWORD type;
        std::vector<uint8_t> data;
        const char *reglookup; // what reglookup prints for the data
    } cases[] = {
        {"none", REG_NONE, {}, "(null)"},
        {"sz", REG_SZ, {'h', 'i', 0}, "hi"},
        {"expand", REG_EXPAND_SZ, {'%', 'P', '%', 0}, "%25P%25"},
        {"binary", REG_BINARY, {0xde, 0xad, 0xbe, 0xef}, "%DE%AD%BE%EF"},
        {"dword", REG_DWORD, {0x78, 0x56, 0x34, 0x12}, "0x12345678"},
        {"dwordbe", REG_DWORD_BIG_ENDIAN, {0x12, 0x34, 0x56, 0x78}, "0x12345678"},
        {"link", REG_LINK, {'\\', 0, 'x', 0}, nullptr},
        {"multi", REG_MULTI_SZ, {'a', 0, 'b', 0, 0}, "a|b"},
        {"reslist", REG_RESOURCE_LIST, {1, 0, 0, 0}, nullptr},
        {"fullres", REG_FULL_RESOURCE_DESCRIPTOR, {2, 0}, nullptr},
        {"resreq", REG_RESOURCE_REQUIREMENTS_LIST, {3}, nullptr},
        {"qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}, "0x0807060504030201"},
        {"odd type", 0x12345, {9, 9}, nullptr},
        {"bigdata", REG_BINARY, big, nullptr},
    };
    {
        Key k;
        ASSERT_EQ(create(HKEY_LOCAL_MACHINE, "VtTypes\\Types", k), ERROR_SUCCESS);
        for (const auto &c : cases)
            ASSERT_EQ(RegSetValueExA(k, c.name, 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
                      ERROR_SUCCESS)
                << c.name;
    }
    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtTypes"), ERROR_SUCCESS);

    // Back through this engine: types and bytes exactly as written.
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtTypes", hive.c_str()), ERROR_SUCCESS);
    {
        Key k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "VtTypes\\Types", 0, KEY_READ, &k), ERROR_SUCCESS);
        for (const auto &c : cases) {
            std::vector<uint8_t> buf(c.data.size() + 8);
            DWORD size = static_cast<DWORD>(buf.size()), type = 0;
            ASSERT_EQ(RegQueryValueExA(k, c.name, nullptr, &type, buf.data(), &size), ERROR_SUCCESS) << c.name;
            buf.resize(size);
            EXPECT_EQ(type, c.type) << c.name;
            EXPECT_EQ(buf, c.data) << c.name;
        }
    }
    ASSERT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtTypes"), ERROR_SUCCESS);

    const std::string rl = run("reglookup -H -p /Types '" + hive + "' 2>&1");
    for (const auto &c : cases) {
        const size_t at = rl.find("/Types/" + std::string(c.name) + ",");
        ASSERT_NE(at, std::string::npos) << c.name << "\n" << rl.substr(0, 600);
        if (c.reglookup) {
            EXPECT_EQ(rl.compare(rl.find(',', rl.find(',', at) + 1) + 1, std::strlen(c.reglookup) + 1,
                                 std::string(c.reglookup) + ","),
                      0)
                << c.name << "\n"
                << rl.substr(at, 200);
        }
    }
    const std::string rf = run("regfexport '" + hive + "' 2>&1");
    // hivex prints every value's type and stored bytes: strings as UTF-16LE.
    const std::string hx = run("hivexregedit --export '" + hive + "' '\\Types' 2>&1");
    for (const auto &c : cases) {
        std::vector<uint8_t> stored = c.data;
        if (c.type == REG_SZ || c.type == REG_EXPAND_SZ || c.type == REG_MULTI_SZ) {
            stored.clear();
            for (uint8_t b : c.data) {
                stored.push_back(b);
                stored.push_back(0);
            }
        }
        char head[64];
        std::string line = "\"" + std::string(c.name) + "\"=";
        if (c.type == REG_DWORD && stored.size() == 4) {
            std::snprintf(head, sizeof head, "dword:%02x%02x%02x%02x", stored[3], stored[2], stored[1], stored[0]);
            line += head;
        } else {
            std::snprintf(head, sizeof head, "hex(%x):", static_cast<unsigned>(c.type));
            line += head;
            for (size_t i = 0; i < stored.size(); ++i) {
                std::snprintf(head, sizeof head, i ? ",%02x" : "%02x", stored[i]);
                line += head;
            }
        }
        EXPECT_NE(hx.find(line + "\n"), std::string::npos) << c.name << ": " << line.substr(0, 80);
        // libregf lists each value in order with its stored size.
        const size_t at = rf.find("Value: " + std::to_string(&c - cases) + " " + c.name + "\n");
        ASSERT_NE(at, std::string::npos) << c.name;
        const size_t sizeAt = rf.find("Data size: ", at);
        ASSERT_NE(sizeAt, std::string::npos) << c.name;
        EXPECT_EQ(std::strtoul(rf.c_str() + sizeAt + 11, nullptr, 10), stored.size()) << c.name;
    }
    EXPECT_NE(rf.find("Value: 13 bigdata"), std::string::npos) << rf.substr(0, 600);
    EXPECT_NE(rf.find("Data: 305419896"), std::string::npos) << rf.substr(0, 600);
    vt::test::removeTree(dir);
}

TEST(Registry, TimesModulesAndCodePage)
{
    EXPECT_EQ(GetACP(), 65001u);
    SYSTEMTIME st{2024, 2, 0, 29, 12, 0, 1, 500};
    FILETIME ft;
    ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
    SYSTEMTIME back{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
    EXPECT_EQ(back.wDayOfWeek, 4) << "2024-02-29 was a Thursday";
    EXPECT_EQ(back.wSecond, 1);
    EXPECT_EQ(back.wMilliseconds, 500);
    WORD date = 0, time = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(&ft, &date, &time));
    EXPECT_EQ(date, ((2024 - 1980) << 9) | (2 << 5) | 29);
    EXPECT_EQ(time, (12 << 11) | (0 << 5) | 0) << "seconds round down to even";
    struct Bad {
        WORD year;
        BOOL ok;
    } years[] = {{1979, FALSE}, {1980, TRUE}, {2107, TRUE}, {2108, FALSE}};
    for (const auto &y : years) {
        SYSTEMTIME s{y.year, 1, 0, 1, 0, 0, 0, 0};
        ASSERT_TRUE(SystemTimeToFileTime(&s, &ft));
        EXPECT_EQ(FileTimeToDosDateTime(&ft, &date, &time), y.ok) << y.year;
    }
    SYSTEMTIME invalid{2023, 2, 0, 29, 0, 0, 0, 0};
    EXPECT_FALSE(SystemTimeToFileTime(&invalid, &ft));
    // Local time round trip through the C library's zone rules.
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    SYSTEMTIME summer{2024, 7, 0, 1, 10, 0, 0, 0};
    ASSERT_TRUE(SystemTimeToFileTime(&summer, &ft));
    FILETIME local, utc;
    ASSERT_TRUE(FileTimeToLocalFileTime(&ft, &local));
    ASSERT_TRUE(FileTimeToSystemTime(&local, &back));
    EXPECT_EQ(back.wHour, 12);
    ASSERT_TRUE(LocalFileTimeToFileTime(&local, &utc));
    EXPECT_EQ(utc.dwLowDateTime, ft.dwLowDateTime);
    ::unsetenv("TZ");
    ::tzset();

    HMODULE adv = GetModuleHandleA("advapi32.dll");
    ASSERT_NE(adv, nullptr);
    EXPECT_EQ(GetModuleHandleA("ADVAPI32"), adv);
    EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(adv, "RegDeleteKeyExA")),
              reinterpret_cast<void *>(&RegDeleteKeyExA));
    EXPECT_EQ(GetProcAddress(adv, "RegNoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
    HMODULE k32 = GetModuleHandleA("kernel32.dll");
    EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(k32, "IsWow64Process")),
              reinterpret_cast<void *>(&IsWow64Process));
    EXPECT_EQ(GetModuleHandleA("nosuch.dll"), nullptr);
    SetLastError(1234);
    std::thread([] { SetLastError(5); }).join();
    EXPECT_EQ(GetLastError(), 1234u) << "the last error is per thread";
}

// Handles of a remote registry go to its provider, all of them and only them.
TEST(Registry, ForeignHandlesGoToTheirProvider)
{
    TempSystem sys;
    const HKEY remote = reinterpret_cast<HKEY>(uintptr_t(0x1230) | vt::platform::kForeignKeyTag);
    HKEY out = nullptr;
    EXPECT_EQ(RegOpenKeyExA(remote, "x", 0, KEY_READ, &out), ERROR_INVALID_HANDLE) << "no provider";
    static std::vector<std::string> calls;
    calls.clear();
    vt::platform::ForeignRegistry provider;
    provider.openKeyEx = [](HKEY, LPCSTR sub, DWORD, REGSAM, PHKEY res) -> LONG {
        calls.push_back(std::string("open ") + sub);
        *res = reinterpret_cast<HKEY>(uintptr_t(0x4560) | vt::platform::kForeignKeyTag);
        return ERROR_SUCCESS;
    };
    provider.closeKey = [](HKEY) -> LONG {
        calls.push_back("close");
        return ERROR_SUCCESS;
    };
    provider.deleteKeyEx = [](HKEY, LPCSTR sub, REGSAM, DWORD) -> LONG {
        calls.push_back(std::string("delete ") + sub);
        return ERROR_SUCCESS;
    };
    vt::platform::setForeignRegistry(&provider);
    ASSERT_EQ(RegOpenKeyExA(remote, "Software", 0, KEY_READ, &out), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(out, "Old"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueExA(out, "v", nullptr, nullptr, nullptr, nullptr), ERROR_CALL_NOT_IMPLEMENTED);
    EXPECT_EQ(RegCloseKey(out), ERROR_SUCCESS);
    EXPECT_TRUE(exists(HKEY_CURRENT_USER, "Software")) << "local handles stay local";
    vt::platform::setForeignRegistry(nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"open Software", "delete Old", "close"}));
}

TEST(Registry, NativePaths)
{
    TempSystem sys;
    std::ofstream(sys.root() + "/drives.ini") << "D=/mnt/data\n";
    struct Case {
        const char *in;
        std::string want;
    } cases[] = {
        {"C:\\Users\\x\\file.txt", sys.root() + "/drive_c/Users/x/file.txt"},
        {"c:\\Windows", sys.root() + "/drive_c/Windows"},
        {"D:\\dir\\f", "/mnt/data/dir/f"},
        {"E:\\unmapped", "E:\\unmapped"},
        {"/usr/share/x", "/usr/share/x"},
        {"relative\\path", "relative\\path"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vt::platform::toNativePath(c.in), c.want) << c.in;
}

TEST(Registry, ConcurrentReadersAndWriter)
{
    TempSystem sys;
    Key k;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Busy", k), ERROR_SUCCESS);
    std::atomic<bool> stop{false};
    std::atomic<int> errors{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop) {
                Key r;
                if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Busy", 0, KEY_READ, &r) != ERROR_SUCCESS) {
                    ++errors;
                    continue;
                }
                char name[32];
                for (DWORD i = 0;; ++i) {
                    DWORD n = sizeof name;
                    LONG rc = RegEnumKeyExA(r, i, name, &n, nullptr, nullptr, nullptr, nullptr);
                    if (rc == ERROR_NO_MORE_ITEMS)
                        break;
                    if (rc != ERROR_SUCCESS)
                        ++errors;
                }
            }
        });
    for (int i = 0; i < 60; ++i) {
        Key c;
        ASSERT_EQ(create(k, ("k" + std::to_string(i)).c_str(), c), ERROR_SUCCESS);
        if (i % 3 == 0) {
            ASSERT_EQ(RegDeleteKeyA(k, ("k" + std::to_string(i)).c_str()), ERROR_SUCCESS);
        }
    }
    stop = true;
    for (auto &t : readers)
        t.join();
    EXPECT_EQ(errors.load(), 0);
    EXPECT_EQ(subkeys(k).size(), 40u);
}

// A process reads a hive loaded earlier (by it or another process) only when
// something first looks below it: until then the file may even be replaced,
// and what is found is what the file holds at that moment.
TEST(Registry, LoadedHivesAreReadAtFirstUse)
{
    TempSystem sys;
    const std::string dir = vt::test::makeTempDir("vt-lazy");
    const std::string first = dir + "/first.dat", second = dir + "/second.dat";
    for (auto [file, key] : {std::pair{first, "Marker"}, std::pair{second, "Other"}}) {
        vt::hive::Hive h;
        h.root = std::make_unique<vt::hive::Key>();
        h.root->name = "ROOT";
        auto k = std::make_unique<vt::hive::Key>();
        k->name = key;
        k->upperName = vt::hive::upperName(key);
        k->parent = h.root.get();
        h.root->subkeys.push_back(std::move(k));
        ASSERT_EQ(vt::hive::saveHiveFile(file, h), ERROR_SUCCESS);
    }
    ASSERT_TRUE(enablePrivilege(SE_RESTORE_NAME));
    ASSERT_EQ(RegLoadKeyA(HKEY_LOCAL_MACHINE, "VtLazy", first.c_str()), ERROR_SUCCESS);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "VtLazy\\Marker"));
    Key other;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Elsewhere", other), ERROR_SUCCESS);
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    ASSERT_TRUE(enablePrivilege(SE_RESTORE_NAME));
    other.h = nullptr;
    // Listing HKLM names the hive without reading it.
    EXPECT_NE(std::find(subkeys(HKEY_LOCAL_MACHINE).begin(), subkeys(HKEY_LOCAL_MACHINE).end(), "VtLazy"),
              subkeys(HKEY_LOCAL_MACHINE).end());
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Elsewhere\\Changed", other), ERROR_SUCCESS);
    ASSERT_EQ(RegFlushKey(other), ERROR_SUCCESS);
    fs::copy_file(second, first, fs::copy_options::overwrite_existing);
    EXPECT_TRUE(exists(HKEY_LOCAL_MACHINE, "VtLazy\\Other")) << "the hive was read before it was used";
    EXPECT_FALSE(exists(HKEY_LOCAL_MACHINE, "VtLazy\\Marker"));
    EXPECT_EQ(RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "VtLazy"), ERROR_SUCCESS);
    vt::test::removeTree(dir);
}

// A renamed key is the same key under a new name: its subtree, class name,
// times, security and open handles stay, in memory, after a replay of the
// journal and after a checkpoint.
TEST(Registry, RenameKeyKeepsTheKeyAndItsSubtree)
{
    TempSystem sys;
    Key parent, old, child;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Ren", parent), ERROR_SUCCESS);
    ASSERT_EQ(RegCreateKeyExA(parent, "Old", 0, const_cast<LPSTR>("Cls"), 0, KEY_ALL_ACCESS, nullptr, &old, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(create(old, "Child", child), ERROR_SUCCESS);
    ASSERT_EQ(setSz(child, "v", "kept"), ERROR_SUCCESS);
    Key other;
    ASSERT_EQ(create(parent, "Other", other), ERROR_SUCCESS);
    struct Snapshot {
        std::string cls;
        FILETIME oldTime{}, childTime{};
        std::vector<uint8_t> sd;
    };
    auto snapshot = [](HKEY k, const char *path) {
        Snapshot out;
        Key h, c;
        if (RegOpenKeyExA(k, path, 0, KEY_READ, &h) != ERROR_SUCCESS ||
            RegOpenKeyExA(h, "Child", 0, KEY_READ, &c) != ERROR_SUCCESS)
            return out;
        char cls[64] = {};
        DWORD n = sizeof cls;
        RegQueryInfoKeyA(h, cls, &n, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &out.oldTime);
        out.cls = cls;
        RegQueryInfoKeyA(c, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &out.childTime);
        DWORD size = 0;
        RegGetKeySecurity(h, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr, &size);
        out.sd.resize(size);
        RegGetKeySecurity(h, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, out.sd.data(), &size);
        return out;
    };
    auto same = [](const Snapshot &a, const Snapshot &b) {
        return a.cls == b.cls && a.oldTime.dwLowDateTime == b.oldTime.dwLowDateTime &&
               a.oldTime.dwHighDateTime == b.oldTime.dwHighDateTime &&
               a.childTime.dwLowDateTime == b.childTime.dwLowDateTime && a.sd == b.sd && !a.sd.empty();
    };
    const Snapshot before = snapshot(parent, "Old");
    ASSERT_EQ(before.cls, "Cls");

    ASSERT_EQ(RegRenameKey(parent, "Old", "New"), ERROR_SUCCESS);
    EXPECT_FALSE(exists(parent, "Old"));
    EXPECT_TRUE(same(snapshot(parent, "New"), before));
    EXPECT_EQ(readSz(parent, "New\\Child", "v"), "kept");
    char buf[16];
    DWORD size = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(child, "v", nullptr, nullptr, reinterpret_cast<BYTE *>(buf), &size), ERROR_SUCCESS)
        << "a handle into the renamed key stays valid";
    // A change of case only is a rename too; the handle itself may be renamed.
    ASSERT_EQ(RegRenameKey(old, nullptr, "nEW"), ERROR_SUCCESS);
    EXPECT_EQ(subkeys(parent), (std::vector<std::string>{"nEW", "Other"}));

    Key readOnly;
    ASSERT_EQ(RegOpenKeyExA(parent, "Other", 0, KEY_READ, &readOnly), ERROR_SUCCESS);
    const std::string tooLong(256, 'x');
    const struct {
        const char *what;
        HKEY key;
        const char *sub, *name;
        LONG want;
    } refused[] = {
        {"name taken (any case)", parent, "nEW", "OTHER", ERROR_ACCESS_DENIED},
        {"backslash in the new name", parent, "nEW", "a\\b", ERROR_INVALID_PARAMETER},
        {"empty new name", parent, "nEW", "", ERROR_INVALID_PARAMETER},
        {"new name too long", parent, "nEW", tooLong.c_str(), ERROR_INVALID_PARAMETER},
        {"no such key", parent, "Missing", "X", ERROR_FILE_NOT_FOUND},
        {"a hive's root", HKEY_USERS, ".DEFAULT", "X", ERROR_ACCESS_DENIED},
        {"SOFTWARE as the 32-bit view shows it", HKEY_LOCAL_MACHINE, "SOFTWARE", "X", ERROR_ACCESS_DENIED},
        {"handle without write access", readOnly, nullptr, "X", ERROR_ACCESS_DENIED},
    };
    for (const auto &c : refused)
        EXPECT_EQ(RegRenameKey(c.key, c.sub, c.name), c.want) << c.what;
    EXPECT_EQ(subkeys(parent), (std::vector<std::string>{"nEW", "Other"}));

    const Snapshot renamed = snapshot(parent, "nEW");
    for (const char *how : {"journal replay", "hive file"}) {
        SCOPED_TRACE(how);
        parent.h = old.h = child.h = other.h = readOnly.h = nullptr; // gone with the system
        if (std::string(how) == "journal replay") {
            inDyingChild(sys.root(), [] {}); // only opens: the journal stays
        }
        ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Ren", 0, KEY_READ, &parent), ERROR_SUCCESS);
        EXPECT_EQ(subkeys(parent), (std::vector<std::string>{"nEW", "Other"}));
        EXPECT_TRUE(same(snapshot(parent, "nEW"), renamed));
        EXPECT_EQ(readSz(parent, "nEW\\Child", "v"), "kept");
    }
}

// A transaction's records reach the journal only at its end, all together:
// nothing while it is open (not even a checkpoint asked for inside it), every
// change once it ends, and a replay brings all of them back.
TEST(Registry, TransactionWritesItsChangesAtTheEnd)
{
    TempSystem sys;
    Key k;
    ASSERT_EQ(create(HKEY_CURRENT_USER, "Software\\Tx", k), ERROR_SUCCESS);
    const std::string journal = journalFile(sys.root());
    const auto before = fs::file_size(journal);
    {
        vt::platform::Transaction outer;
        for (int i = 0; i < 20; ++i) {
            Key c;
            ASSERT_EQ(create(k, ("k" + std::to_string(i)).c_str(), c), ERROR_SUCCESS);
            ASSERT_EQ(setSz(c, "v", "x"), ERROR_SUCCESS);
        }
        {
            vt::platform::Transaction inner;
            ASSERT_EQ(RegDeleteKeyA(k, "k3"), ERROR_SUCCESS);
            ASSERT_EQ(RegRenameKey(k, "k4", "renamed"), ERROR_SUCCESS);
            EXPECT_EQ(inner.commit(), ERROR_SUCCESS);
        }
        ASSERT_EQ(RegFlushKey(k), ERROR_SUCCESS);
        EXPECT_EQ(journalFile(sys.root()), journal) << "a checkpoint ran inside the transaction";
        EXPECT_EQ(fs::file_size(journal), before) << "records written before the end";
        EXPECT_EQ(readSz(k, "k5", "v"), "x") << "the changes are visible at once";
        EXPECT_EQ(outer.commit(), ERROR_SUCCESS);
    }
    EXPECT_NE(journalFile(sys.root()), journal) << "the checkpoint asked for inside ran at the end";

    Key c;
    ASSERT_EQ(create(k, "after", c), ERROR_SUCCESS);
    k.h = c.h = nullptr;
    inDyingChild(sys.root(), [] {
        vt::platform::Transaction t;
        HKEY h;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tx", 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS ||
            RegDeleteKeyA(h, "k7") != ERROR_SUCCESS || RegRenameKey(h, "k8", "k8b") != ERROR_SUCCESS)
            ::_exit(3);
        if (t.commit() != ERROR_SUCCESS)
            ::_exit(4);
    });
    ASSERT_EQ(sys.reopen(), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Tx", 0, KEY_READ, &k), ERROR_SUCCESS);
    std::vector<std::string> want;
    for (int i = 0; i < 20; ++i)
        if (i != 3 && i != 4 && i != 7 && i != 8)
            want.push_back("k" + std::to_string(i));
    want.insert(want.end(), {"after", "k8b", "renamed"});
    std::sort(want.begin(), want.end(),
              [](const std::string &a, const std::string &b) { return strcasecmp(a.c_str(), b.c_str()) < 0; });
    EXPECT_EQ(subkeys(k), want);
}

} // namespace

extern "C" int __lsan_is_turned_off()
{
    return gSkipLeakCheckAtExit;
}
