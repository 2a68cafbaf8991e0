// The security tab and the report of a key with a large access list: 100,
// 1,000 and about 1,800 ACEs (the last a descriptor of some 64 KB, the most a
// key holds). Each should stay under 100 ms; the cost per ACE should be flat.
//
//   build/bench/security/bench_security_info --benchmark_counters_tabular=true
#include "bench/support/BenchGuiMain.h"
#include "platform/security/SecurityDescriptor.h"
#include "platform/vtPlatform.h"
#include "security/gui/FormUnitSecurityTree.h"
#include "security/zoSecurity.h"

#include <QTemporaryDir>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

namespace
{

struct Fixture {
    QTemporaryDir dir;
    QTreeWidget tree;

    Fixture()
    {
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        if (vt::platform::openSystem(options) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot open a system in %s\n", options.root.c_str());
            std::exit(1);
        }
        for (int aces : {100, 1000, 1800})
            makeKey(aces);
        tree.resize(600, 800);
        tree.show();
    }
    ~Fixture() { vt::platform::closeSystem(); }

    static std::string path(int aces) { return "SYSTEM\\VtBenchAcl" + std::to_string(aces); }

    // A mix as real lists have: well-known accounts, the user, and domain
    // SIDs no account answers for, with flags and rights in letters and hex.
    static void makeKey(int aces)
    {
        std::string sddl = "O:BAG:SYD:PAI";
        const char *fixed[] = {"SY", "BA", "BU", "WD", "AU", "CO"};
        for (int i = 0; i < aces; ++i) {
            std::string sid = "S-1-5-21-3623811015-3361044348-30300820-" + std::to_string(2000 + i);
            if (i % 20 == 0)
                sid = fixed[(i / 20) % 6];
            else if (i % 20 == 10)
                sid = vt::platform::currentUserSid();
            sddl += i % 2 || i % 10 == 0 ? "(A;CI;KR;;;" + sid + ")" : "(D;OICIIO;0x1f0019;;;" + sid + ")";
        }
        auto sd = vt::security::descriptorFromSddl(sddl);
        HKEY key = nullptr;
        if (!sd ||
            RegCreateKeyExA(HKEY_LOCAL_MACHINE, path(aces).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) != ERROR_SUCCESS ||
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, sd->data()) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot make the key of %d ACEs (%zu bytes)\n", aces, sd ? sd->size() : 0);
            std::exit(1);
        }
        RegCloseKey(key);
        std::fprintf(stderr, "key of %d ACEs: descriptor of %zu bytes\n", aces, sd->size());
    }
};

std::unique_ptr<Fixture> theFixture;

void BM_FillSecurityTree(benchmark::State &state)
{
    const int aces = int(state.range(0));
    const std::string path = "\\" + Fixture::path(aces);
    QTreeWidget &tree = theFixture->tree;
    for (auto _ : state) {
        vt::security_info::FillSecurityTree(HKEY_LOCAL_MACHINE, path, &tree, 0);
        tree.viewport()->repaint();
    }
    if (tree.topLevelItemCount() != aces)
        state.SkipWithError("the tree does not show every ACE");
    state.counters["per_ACE"] =
        benchmark::Counter(double(aces), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_FillSecurityTree)->Arg(100)->Arg(1000)->Arg(1800)->Unit(benchmark::kMillisecond);

void BM_SecurityReport(benchmark::State &state)
{
    const int aces = int(state.range(0));
    const std::string path = "\\" + Fixture::path(aces);
    std::size_t bytes = 0;
    for (auto _ : state) {
        const std::string text =
            vt::security_info::ReportText(vt::security_info::SecurityReport(HKEY_LOCAL_MACHINE, path, 0));
        bytes = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    state.counters["report_KB"] = double(bytes) / 1024.0;
    state.counters["per_ACE"] =
        benchmark::Counter(double(aces), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_SecurityReport)->Arg(100)->Arg(1000)->Arg(1800)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return vt::bench::runGuiBenchmarks(argc, argv, theFixture);
}
