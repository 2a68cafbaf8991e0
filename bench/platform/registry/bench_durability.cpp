// What durability costs: one durable change, ten thousand changes one by one
// and in one group commit, and mounting the largest test hive (time and peak
// memory) against reglookup and hivex reading the same file. Memory is the
// peak RSS of a fresh process (this program re-run as a child), so the
// benchmark's own heap does not count.
#include "platform/vtPlatform.h"
#include "platform/win32.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace
{

std::string gSelf;

std::string largestHive()
{
    const char *env = std::getenv("VT_TESTDATA");
    return std::string(env ? env : VT_TESTDATA_DIR) + "/hives/real/regipy/SYSTEM_WIN_10_1709";
}

std::string tempDir()
{
    std::string pattern = (fs::temp_directory_path() / "vt-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        std::abort();
    return pattern;
}

double ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A fresh system in a temporary folder for one benchmark.
// The changes go to 100 keys of 100 values each, the shape of a typical
// import, so the cost measured is the journal's, not a long value list's.
struct BenchSystem {
    std::string root = tempDir();
    std::vector<HKEY> keys;
    BenchSystem()
    {
        vt::platform::SystemOptions o;
        o.root = root;
        if (vt::platform::openSystem(o) != ERROR_SUCCESS)
            std::abort();
        for (int i = 0; i < 100; ++i) {
            HKEY k;
            const std::string path = "Software\\BenchDurable\\K" + std::to_string(i);
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) !=
                ERROR_SUCCESS)
                std::abort();
            keys.push_back(k);
        }
    }
    ~BenchSystem()
    {
        for (HKEY k : keys)
            RegCloseKey(k);
        vt::platform::closeSystem();
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    bool set(uint32_t i)
    {
        static const char text[] = "C:\\Program Files\\Bench\\value.exe";
        const std::string name = "v" + std::to_string(i / 100 % 100);
        return RegSetValueExA(keys[i % 100], name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                              sizeof text) == ERROR_SUCCESS;
    }
};

// One durable RegSetValueExA: the median and the 99th percentile of single calls.
void BM_DurableSetValue(benchmark::State &state)
{
    BenchSystem sys;
    std::vector<double> us;
    uint32_t i = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        if (!sys.set(i++))
            state.SkipWithError("set failed");
        const auto d = Clock::now() - t0;
        state.SetIterationTime(std::chrono::duration<double>(d).count());
        us.push_back(ms(d) * 1000);
    }
    std::sort(us.begin(), us.end());
    state.counters["median_us"] = us[us.size() / 2];
    state.counters["p99_us"] = us[us.size() * 99 / 100];
}
BENCHMARK(BM_DurableSetValue)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

// 10,000 changes: one by one (each flushed), or inside one DeferredSync
// (argument 1), the time including the flush at the scope's end.
void BM_TenThousandChanges(benchmark::State &state)
{
    const bool grouped = state.range(0) != 0;
    double seconds = 0;
    for (auto _ : state) {
        BenchSystem sys;
        const auto t0 = Clock::now();
        {
            std::unique_ptr<vt::platform::DeferredSync> batch;
            if (grouped)
                batch = std::make_unique<vt::platform::DeferredSync>();
            for (uint32_t i = 0; i < 10000; ++i)
                if (!sys.set(i))
                    state.SkipWithError("set failed");
        }
        seconds = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(seconds);
    }
    state.counters["changes_per_s"] = 10000.0 / seconds;
}
BENCHMARK(BM_TenThousandChanges)->Arg(0)->Arg(1)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

struct ChildResult {
    bool ok = false;
    double wallMs = 0;
    double peakMb = 0;
    std::string out;
};

// Runs a program with its output captured and measures its wall time and peak RSS.
ChildResult runChild(const std::vector<std::string> &argv, bool keepOutput)
{
    ChildResult r;
    int pipefd[2];
    if (::pipe(pipefd) != 0)
        return r;
    const auto t0 = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipefd[1], 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2); // the peers warn about every odd value

        ::close(pipefd[0]);
        ::close(pipefd[1]);
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    ::close(pipefd[1]);
    char buf[65536];
    ssize_t n;
    while ((n = ::read(pipefd[0], buf, sizeof buf)) > 0)
        if (keepOutput)
            r.out.append(buf, static_cast<size_t>(n));
    ::close(pipefd[0]);
    int status = 0;
    struct rusage ru {
    };
    ::wait4(pid, &status, 0, &ru);
    r.wallMs = ms(Clock::now() - t0);
    r.peakMb = static_cast<double>(ru.ru_maxrss) / 1024.0;
    r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
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

// This program as a child: opens a fresh system, mounts the hive (unless
// `mount` is 0) and walks every key and value; prints the mount and walk times.
int mountChild(const std::string &hive, bool mount)
{
    const std::string root = tempDir();
    vt::platform::SystemOptions o;
    o.root = root;
    if (vt::platform::openSystem(o) != ERROR_SUCCESS)
        return 2;
    double mountMs = 0, walkMs = 0;
    size_t keys = 0, values = 0;
    if (mount) {
        enableRestorePrivilege();
        const std::string copy = root + "/hive";
        fs::copy_file(hive, copy);
        auto t0 = Clock::now();
        if (RegLoadKeyA(HKEY_LOCAL_MACHINE, "BenchHive", copy.c_str()) != ERROR_SUCCESS)
            return 3;
        mountMs = ms(Clock::now() - t0);
        t0 = Clock::now();
        struct Walker {
            size_t &keys, &values;
            void operator()(HKEY k)
            {
                ++keys;
                DWORD nSub = 0, maxSub = 0, nVal = 0, maxName = 0, maxData = 0;
                if (RegQueryInfoKeyA(k, nullptr, nullptr, nullptr, &nSub, &maxSub, nullptr, &nVal, &maxName, &maxData,
                                     nullptr, nullptr) != ERROR_SUCCESS)
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
                    HKEY sub;
                    if (RegEnumKeyExA(k, i, name.data(), &n, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                        RegOpenKeyExA(k, name.c_str(), REG_OPTION_OPEN_LINK, KEY_READ, &sub) == ERROR_SUCCESS) {
                        (*this)(sub);
                        RegCloseKey(sub);
                    }
                }
            }
        } walker{keys, values};
        HKEY k;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BenchHive", 0, KEY_READ, &k) != ERROR_SUCCESS)
            return 4;
        walker(k);
        RegCloseKey(k);
        walkMs = ms(Clock::now() - t0);
        RegUnLoadKeyA(HKEY_LOCAL_MACHINE, "BenchHive");
    }
    vt::platform::closeSystem();
    std::error_code ec;
    fs::remove_all(root, ec);
    std::printf("%f %f %zu %zu\n", mountMs, walkMs, keys, values);
    return 0;
}

// Mounting and walking the hive here (0), the system alone without the hive
// (1: the baseline of the RSS), reglookup (2) and hivexregedit --export (3)
// reading every key and value of the same file.
void BM_LargestHive(benchmark::State &state)
{
    const std::string hive = largestHive();
    static const char *names[] = {"vantrel", "vantrel_no_hive", "reglookup", "hivexregedit"};
    state.SetLabel(names[state.range(0)]);
    ChildResult r;
    for (auto _ : state) {
        switch (state.range(0)) {
        case 0:
        case 1:
            r = runChild({gSelf, "--mount-child", hive, state.range(0) == 0 ? "1" : "0"}, true);
            break;
        case 2:
            r = runChild({"reglookup", hive}, false);
            break;
        default:
            r = runChild({"hivexregedit", "--export", hive, "\\"}, false);
            break;
        }
        if (!r.ok) {
            state.SkipWithError("child failed");
            break;
        }
        state.SetIterationTime(r.wallMs / 1000);
    }
    state.counters["peak_rss_MB"] = r.peakMb;
    double mountMs = 0, walkMs = 0;
    size_t keys = 0, values = 0;
    if (std::sscanf(r.out.c_str(), "%lf %lf %zu %zu", &mountMs, &walkMs, &keys, &values) == 4 && keys) {
        state.counters["mount_ms"] = mountMs;
        state.counters["walk_ms"] = walkMs;
        state.counters["keys"] = static_cast<double>(keys);
        state.counters["values"] = static_cast<double>(values);
    }
}
BENCHMARK(BM_LargestHive)->DenseRange(0, 3)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--mount-child") == 0)
        return mountChild(argv[2], std::strcmp(argv[3], "0") != 0);
    gSelf = fs::canonical("/proc/self/exe").string();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
