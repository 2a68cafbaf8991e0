// Cost per item as a key or a batch grows: one key with N values (set, query
// by name, enumerate), N subkeys created in random order. Each is run at 1k,
// 10k and 100k items; the per-item time (and, for subkeys, the cost of the
// last thousand) should stay flat across the three.
#include "core/kltRegTools.h"
#include "platform/vtPlatform.h"
#include "platform/win32.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{

struct BenchSystem {
    std::string root;
    BenchSystem()
    {
        std::string pattern = (fs::temp_directory_path() / "vt-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root = pattern;
        vt::platform::SystemOptions o;
        o.root = root;
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            std::abort();
    }
    ~BenchSystem()
    {
        vt::platform::closeSystem();
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    HKEY create(const char *path)
    {
        HKEY k;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
            ERROR_SUCCESS)
            std::abort();
        return k;
    }
};

double secondsSince(Clock::time_point t0)
{
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

std::vector<std::string> names(size_t n, const char *prefix)
{
    std::vector<std::string> out;
    out.reserve(n);
    for (size_t i = 0; i < n; ++i)
        out.push_back(prefix + std::to_string(i));
    return out;
}

// arg 0: N; arg 1: 0 set (inside one group commit), 1 query by name, 2 enumerate.
void BM_ValuesOnOneKey(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    const auto phase = state.range(1);
    const auto valueNames = names(n, "Value number ");
    for (auto _ : state) {
        BenchSystem sys;
        HKEY k = sys.create("Software\\Wide");
        const DWORD data = 7;
        auto t0 = Clock::now();
        {
            vt::platform::DeferredSync batch;
            for (const auto &name : valueNames)
                RegSetValueExA(k, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), 4);
        }
        double secs = secondsSince(t0);
        if (phase == 1) {
            t0 = Clock::now();
            for (auto it = valueNames.rbegin(); it != valueNames.rend(); ++it) {
                DWORD out = 0, size = 4, type = 0;
                if (RegQueryValueExA(k, it->c_str(), nullptr, &type, reinterpret_cast<BYTE *>(&out), &size) !=
                    ERROR_SUCCESS)
                    state.SkipWithError("query failed");
            }
            secs = secondsSince(t0);
        } else if (phase == 2) {
            t0 = Clock::now();
            char name[64];
            for (DWORD i = 0;; ++i) {
                DWORD cch = sizeof name, out = 0, size = 4, type = 0;
                if (RegEnumValueA(k, i, name, &cch, nullptr, &type, reinterpret_cast<BYTE *>(&out), &size) !=
                    ERROR_SUCCESS)
                    break;
            }
            secs = secondsSince(t0);
        }
        state.SetIterationTime(secs);
        RegCloseKey(k);
    }
    state.SetItemsProcessed(static_cast<int64_t>(n) * state.iterations());
}
BENCHMARK(BM_ValuesOnOneKey)
    ->ArgsProduct({{1000, 10000, 100000}, {0, 1, 2}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// N subkeys of one key created in random order inside one group commit; the
// counter last1k_us is the mean cost of the last thousand creations. Arg 1
// makes the keys volatile: the engine's own cost, without journal and
// checkpoints.
void BM_SubkeysInRandomOrder(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    const DWORD options = state.range(1) ? REG_OPTION_VOLATILE : 0;
    auto keyNames = names(n, "Sub ");
    std::shuffle(keyNames.begin(), keyNames.end(), std::mt19937(3));
    double last = 0, total = 0;
    for (auto _ : state) {
        BenchSystem sys;
        HKEY parent;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Broad", 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &parent,
                            nullptr) != ERROR_SUCCESS)
            std::abort();
        auto t0 = Clock::now();
        Clock::time_point lastStart = t0;
        {
            vt::platform::DeferredSync batch;
            for (size_t i = 0; i < n; ++i) {
                if (i == n - 1000)
                    lastStart = Clock::now();
                HKEY k;
                if (RegCreateKeyExA(parent, keyNames[i].c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &k,
                                    nullptr) != ERROR_SUCCESS)
                    state.SkipWithError("create failed");
                RegCloseKey(k);
            }
            last = secondsSince(lastStart);
        }
        total = secondsSince(t0);
        state.SetIterationTime(total);
        RegCloseKey(parent);
    }
    state.counters["us_per_key"] = total * 1e6 / static_cast<double>(n);
    state.counters["last1k_us"] = last * 1e6 / 1000;
}
BENCHMARK(BM_SubkeysInRandomOrder)
    ->ArgsProduct({{1000, 10000, 100000}, {0, 1}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// A key with N subkeys of two values each, deleted, copied and renamed
// through the accessor (arg 1: 0 delete, 1 copy, 2 rename); each is one
// transaction with one flush.
void BM_TreeOperation(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    const auto op = state.range(1);
    const auto keyNames = names(n, "Sub ");
    for (auto _ : state) {
        BenchSystem sys;
        HKEY tree = sys.create("Software\\Tree");
        {
            vt::platform::DeferredSync batch;
            const DWORD data = 7;
            for (const auto &name : keyNames) {
                HKEY k;
                RegCreateKeyExA(tree, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
                RegSetValueExA(k, "one", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), 4);
                RegSetValueExA(k, "two", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), 4);
                RegCloseKey(k);
            }
        }
        RegCloseKey(tree);
        // The building's checkpoint is paid here, not by the operation timed.
        RegFlushKey(HKEY_CURRENT_USER);
        const auto t0 = Clock::now();
        bool ok = false;
        if (op == 0)
            ok = DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\Tree");
        else if (op == 1)
            ok = CopyKeyAt(HKEY_CURRENT_USER, "\\Software\\Tree", false, "\\Software\\TreeCopy");
        else
            ok = MoveKeyAt(HKEY_CURRENT_USER, "\\Software\\Tree", "\\Software\\TreeRenamed", false);
        state.SetIterationTime(secondsSince(t0));
        if (!ok)
            state.SkipWithError("operation failed");
    }
    state.SetItemsProcessed(static_cast<int64_t>(n) * state.iterations());
}
BENCHMARK(BM_TreeOperation)
    ->ArgsProduct({{1000, 10000, 100000}, {0, 1, 2}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// Bytes this process has had written to storage so far (/proc/self/io).
uint64_t bytesWritten()
{
    std::ifstream in("/proc/self/io");
    std::string key;
    uint64_t value = 0;
    while (in >> key >> value)
        if (key == "write_bytes:")
            return value;
    return 0;
}

// An import of N keys with two values each (1,000 keys per parent) in one
// group commit, then closing the system: CPU per key, and the bytes written
// (journal and hives) against the final size of the hive.
void BM_ImportBytesWritten(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    for (auto _ : state) {
        BenchSystem sys;
        const uint64_t before = bytesWritten();
        const auto t0 = Clock::now();
        const std::clock_t c0 = std::clock();
        {
            vt::platform::DeferredSync batch;
            HKEY parent = nullptr;
            const std::string text = "C:\\Program Files\\Imported\\file.exe";
            for (size_t i = 0; i < n; ++i) {
                if (i % 1000 == 0) {
                    if (parent)
                        RegCloseKey(parent);
                    parent = sys.create(("Software\\Import\\p" + std::to_string(i / 1000)).c_str());
                }
                HKEY k;
                RegCreateKeyExA(parent, ("k" + std::to_string(i)).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                nullptr);
                const DWORD data = static_cast<DWORD>(i);
                RegSetValueExA(k, "Path", 0, REG_SZ, reinterpret_cast<const BYTE *>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1));
                RegSetValueExA(k, "Count", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&data), 4);
                RegCloseKey(k);
            }
            RegCloseKey(parent);
        }
        const std::string hive =
            vt::platform::systemRoot() + "/drive_c/Users/" + vt::platform::currentUserName() + "/NTUSER.DAT";
        vt::platform::closeSystem();
        const double cpu = static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC;
        state.SetIterationTime(secondsSince(t0));
        const double written = static_cast<double>(bytesWritten() - before);
        const double size = static_cast<double>(fs::file_size(hive));
        state.counters["cpu_us_per_key"] = cpu * 1e6 / static_cast<double>(n);
        state.counters["hive_MB"] = size / 1e6;
        state.counters["written_per_hive"] = written / size;
    }
}
BENCHMARK(BM_ImportBytesWritten)
    ->Arg(10000)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
