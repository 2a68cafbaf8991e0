// libFuzzer over the registry engine: the input is mounted as a hive with
// RegLoadKeyA, every key and value is walked through the A functions, a value
// is written and the hive unloaded (which writes it back). Whatever the
// input, nothing may crash, and what the A functions report must hold: a
// buffer sized from RegQueryInfoKeyA holds every name enumerated, counts
// match the enumeration, and the written value reads back.
#include "platform/vtPlatform.h"
#include "platform/win32.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace
{

struct Scratch {
    std::string dir;
    std::string hive;
    Scratch()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vt-fuzz-engine-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        dir = pattern;
        hive = dir + "/input.hiv";
        vt::platform::SystemOptions o;
        o.root = dir + "/system";
        o.identity = vt::platform::Identity::LocalSystem; // passes every check: the walk sees every key
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            std::abort();
    }
    ~Scratch()
    {
        vt::platform::closeSystem();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
};

Scratch &scratch()
{
    static Scratch s;
    return s;
}

constexpr int kMaxDepth = 64;     // the walk's own bound: keys are reached by handle, one level at a time
constexpr size_t kMaxKeys = 4000; // keeps one input's run short

void walk(HKEY key, int depth, size_t &keys)
{
    if (depth > kMaxDepth || ++keys > kMaxKeys)
        return;
    DWORD subkeys = 0, maxSubkeyLen = 0, values = 0, maxValueNameLen = 0, maxValueLen = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, &maxSubkeyLen, nullptr, &values, &maxValueNameLen,
                         &maxValueLen, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> name(maxValueNameLen + 1);
    std::vector<BYTE> data(maxValueLen + 1);
    DWORD seen = 0;
    for (DWORD i = 0;; ++i) {
        DWORD nameLen = static_cast<DWORD>(name.size()), dataLen = static_cast<DWORD>(data.size()), type = 0;
        const LONG rc = RegEnumValueA(key, i, name.data(), &nameLen, nullptr, &type, data.data(), &dataLen);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS)
            std::abort(); // the sizes RegQueryInfoKeyA gave must hold every value
        ++seen;
        // A crafted name may hold a NUL: no C string names that value, so
        // only names without one are looked up again.
        if (std::strlen(name.data()) != nameLen)
            continue;
        DWORD queried = 0;
        if (RegQueryValueExA(key, name.data(), nullptr, nullptr, nullptr, &queried) != ERROR_SUCCESS ||
            queried > maxValueLen)
            std::abort();
    }
    if (seen != values)
        std::abort();
    std::vector<char> sub(maxSubkeyLen + 1);
    seen = 0;
    for (DWORD i = 0;; ++i) {
        DWORD len = static_cast<DWORD>(sub.size());
        const LONG rc = RegEnumKeyExA(key, i, sub.data(), &len, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS)
            std::abort();
        ++seen;
        // A crafted name may be empty or hold a backslash: such a key is not
        // reachable by a path, and must not open its parent or another key.
        if (!len || std::memchr(sub.data(), '\\', len))
            continue;
        HKEY child = nullptr;
        if (RegOpenKeyExA(key, sub.data(), 0, KEY_READ, &child) == ERROR_SUCCESS) {
            walk(child, depth + 1, keys);
            RegCloseKey(child);
        }
    }
    if (seen != subkeys)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Scratch &s = scratch();
    {
        FILE *f = std::fopen(s.hive.c_str(), "wb");
        if (!f || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
            std::abort();
    }
    if (RegLoadKeyA(HKEY_LOCAL_MACHINE, "Fuzz", s.hive.c_str()) != ERROR_SUCCESS)
        return 0;
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Fuzz", 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS)
        std::abort();
    size_t keys = 0;
    walk(root, 0, keys);
    static const BYTE probe[] = "probe";
    if (RegSetValueExA(root, "VtFuzzProbe", 0, REG_SZ, probe, sizeof probe) != ERROR_SUCCESS)
        std::abort();
    BYTE back[16];
    DWORD backLen = sizeof back;
    if (RegQueryValueExA(root, "VtFuzzProbe", nullptr, nullptr, back, &backLen) != ERROR_SUCCESS ||
        backLen != sizeof probe || std::memcmp(back, probe, sizeof probe) != 0)
        std::abort();
    RegCloseKey(root);
    if (RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "Fuzz") != ERROR_SUCCESS)
        std::abort(); // a hive that mounted must write back
    return 0;
}
