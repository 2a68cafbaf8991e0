// Per-call cost of the registry functions on a registry of one million keys,
// and mounting and walking a real SYSTEM hive against hivex walking it.
#include "platform/Engine.h"
#include "platform/Unicode.h"
#include "platform/vtPlatform.h"
#include "platform/win32.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace fs = std::filesystem;
using namespace vt::platform::detail;

namespace
{

constexpr int kFanOut = 1000; // 1000 x 1000 keys below one volatile root

std::string gRoot;

void removeRoot()
{
    vt::platform::closeSystem();
    std::error_code ec;
    fs::remove_all(gRoot, ec);
}

// Builds the million keys straight in memory (through the API every key would
// be a durable journal write); volatile, so closing writes none of them.
void ensureSystem()
{
    if (!gRoot.empty())
        return;
    std::string pattern = (fs::temp_directory_path() / "vt-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        std::abort();
    gRoot = pattern;
    std::atexit(removeRoot);
    vt::platform::SystemOptions o;
    o.root = gRoot;
    if (vt::platform::openSystem(o) != ERROR_SUCCESS)
        std::abort();
    HKEY top;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Bench", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &top, nullptr) != ERROR_SUCCESS)
        std::abort();
    RegCloseKey(top);
    System &s = current();
    std::unique_lock l(s.lock);
    Key *sw = findChild(*findChild(*s.users, s.userSid), "Software");
    Key *bench = findChild(*sw, "Bench");
    const auto sd = bench->security;
    const uint64_t now = nowFileTime();
    auto text = vt::platform::utf8ToUtf16le(std::string("C:\\Program Files\\Bench\\value.exe") + '\0');
    for (int i = 0; i < kFanOut; ++i) {
        auto k = newKey("k" + std::to_string(i), now);
        k->isVolatile = true;
        k->security = sd;
        k->subkeys.reserve(kFanOut);
        Key *mid = insertSubkey(*bench, std::move(k));
        for (int j = 0; j < kFanOut; ++j) {
            auto leaf = newKey("k" + std::to_string(j), now);
            leaf->isVolatile = true;
            leaf->security = sd;
            setValue(*leaf, "Path", REG_SZ, text);
            setValue(*leaf, "Count", REG_DWORD, {1, 0, 0, 0});
            insertSubkey(*mid, std::move(leaf));
        }
    }
}

std::vector<std::string> randomPaths(size_t n)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> d(0, kFanOut - 1);
    std::vector<std::string> out;
    for (size_t i = 0; i < n; ++i)
        out.push_back("Software\\Bench\\k" + std::to_string(d(rng)) + "\\k" + std::to_string(d(rng)));
    return out;
}

void BM_RegOpenKeyExA(benchmark::State &state)
{
    ensureSystem();
    const auto paths = randomPaths(4096);
    size_t i = 0;
    for (auto _ : state) {
        HKEY k;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, paths[i++ & 4095].c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
            state.SkipWithError("open failed");
        RegCloseKey(k);
    }
}
BENCHMARK(BM_RegOpenKeyExA);

// The redirected path of the 32-bit view (the program's default) below HKLM\SOFTWARE.
void BM_RegOpenKeyExA_Software32(benchmark::State &state)
{
    ensureSystem();
    for (auto _ : state) {
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                          KEY_READ | KEY_WOW64_32KEY, &k) != ERROR_SUCCESS)
            state.SkipWithError("open failed");
        RegCloseKey(k);
    }
}
BENCHMARK(BM_RegOpenKeyExA_Software32);

void BM_RegEnumKeyExA(benchmark::State &state)
{
    ensureSystem();
    HKEY k;
    RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Bench\\k500", 0, KEY_READ, &k);
    char name[256];
    DWORD i = 0;
    for (auto _ : state) {
        DWORD n = sizeof name;
        if (RegEnumKeyExA(k, i++ % kFanOut, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            state.SkipWithError("enum failed");
        benchmark::DoNotOptimize(name);
    }
    RegCloseKey(k);
}
BENCHMARK(BM_RegEnumKeyExA);

void BM_RegQueryValueExA(benchmark::State &state)
{
    ensureSystem();
    HKEY k;
    RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Bench\\k500\\k500", 0, KEY_READ, &k);
    const char *names[2] = {"Path", "Count"};
    char data[256];
    size_t i = 0;
    for (auto _ : state) {
        DWORD size = sizeof data, type;
        if (RegQueryValueExA(k, names[i++ & 1], nullptr, &type, reinterpret_cast<BYTE *>(data), &size) != ERROR_SUCCESS)
            state.SkipWithError("query failed");
        benchmark::DoNotOptimize(data);
    }
    RegCloseKey(k);
}
BENCHMARK(BM_RegQueryValueExA);

// A durable change: the journal record is written and flushed before the call returns.
void BM_RegSetValueExA(benchmark::State &state)
{
    ensureSystem();
    HKEY k;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\BenchWrite", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
    const char text[] = "C:\\Program Files\\Bench\\value.exe";
    DWORD i = 0;
    for (auto _ : state) {
        const std::string name = "v" + std::to_string(i++ % 1000);
        if (RegSetValueExA(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text), sizeof text) !=
            ERROR_SUCCESS)
            state.SkipWithError("set failed");
    }
    RegCloseKey(k);
}
BENCHMARK(BM_RegSetValueExA);

std::string systemHive()
{
    const char *env = std::getenv("VT_TESTDATA");
    return std::string(env ? env : VT_TESTDATA_DIR) + "/hives/real/regipy/SYSTEM_WIN_10_1709";
}

// Walks a key the way the editor's search does: every value read, every subkey opened.
void walk(HKEY k, size_t &keys, size_t &values)
{
    ++keys;
    DWORD nSub = 0, maxSub = 0, nVal = 0, maxName = 0, maxData = 0;
    if (RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &nSub, &maxSub, nullptr, &nVal, &maxName, &maxData, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return;
    std::string name(std::max(maxSub, maxName) + 1, '\0');
    std::vector<BYTE> data(maxData + 1);
    for (DWORD i = 0; i < nVal; ++i) {
        DWORD n = static_cast<DWORD>(name.size()), size = static_cast<DWORD>(data.size()), type;
        if (RegEnumValueA(k, i, name.data(), &n, nullptr, &type, data.data(), &size) == ERROR_SUCCESS)
            ++values;
    }
    for (DWORD i = 0; i < nSub; ++i) {
        DWORD n = static_cast<DWORD>(name.size());
        if (RegEnumKeyExA(k, i, name.data(), &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        HKEY sub;
        if (RegOpenKeyExA(k, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &sub) == ERROR_SUCCESS) {
            walk(sub, keys, values);
            RegCloseKey(sub);
        }
    }
}

// Loading hives needs SeRestorePrivilege enabled, as on Windows.
void enableRestorePrivilege()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token))
        return;
    TOKEN_PRIVILEGES tp{};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, SE_RESTORE_NAME, &tp.Privileges[0].Luid))
        AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
    CloseHandle(token);
}

void BM_MountAndWalkSystemHive(benchmark::State &state)
{
    ensureSystem();
    enableRestorePrivilege();
    const std::string copy = gRoot + "/SYSTEM_WIN_10_1709";
    fs::copy_file(systemHive(), copy, fs::copy_options::overwrite_existing);
    size_t keys = 0, values = 0;
    for (auto _ : state) {
        keys = values = 0;
        if (RegLoadKeyA(HKEY_LOCAL_MACHINE, "BenchSystem", copy.c_str()) != ERROR_SUCCESS) {
            state.SkipWithError("load failed");
            break;
        }
        HKEY k;
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BenchSystem", 0, KEY_READ, &k);
        walk(k, keys, values);
        RegCloseKey(k);
        RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "BenchSystem");
    }
    state.counters["keys"] = static_cast<double>(keys);
    state.counters["values"] = static_cast<double>(values);
}
BENCHMARK(BM_MountAndWalkSystemHive)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same hive walked in full by hivex, for comparison.
void BM_HivexExportSystemHive(benchmark::State &state)
{
    const std::string cmd = "hivexregedit --export '" + systemHive() + "' '\\' > /dev/null 2>&1";
    for (auto _ : state) {
        if (std::system(cmd.c_str()) != 0)
            state.SkipWithError("hivexregedit failed");
    }
}
BENCHMARK(BM_HivexExportSystemHive)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

BENCHMARK_MAIN();
