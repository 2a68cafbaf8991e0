// The change history at scale: recording the deletion of a key tree (undo
// export into the pane plus one history operation), loading every record,
// and opening the history window until its first paint. Each as a curve
// over the item count; the cost per item should stay flat.
//
// Targets: a key with 10,000 subkeys and 20,000 values recorded in under a
// second; the window on 200,000 records painted in under a second.

#include "app/FormUnitMain.h"
#include "core/kltRegistry.h"
#include "history/RegistryChangeHistory.h"
#include "history/gui/FormUnitHistory.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <set>
#include <string>

using vt::history::TRegistryChangeHistory;

namespace
{

QTemporaryDir *g_dir = nullptr;

// Resident set size in MiB, from the process's own statistics.
double residentMiB()
{
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word)
        if (word == "VmRSS:") {
            double kib = 0;
            status >> kib;
            return kib / 1024.0;
        }
    return 0;
}

std::string treePath(int64_t subkeys)
{
    return "\\Software\\VtBenchTree" + std::to_string(subkeys);
}

// subkeys keys below the tree, two values in each: 1 : 2 as in the target.
void fillTree(int64_t subkeys)
{
    TMyRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    const std::string root = treePath(subkeys);
    if (reg.KeyExists(root + "\\Done"))
        return;
    vt::platform::DeferredSync group;
    for (int64_t i = 0; i < subkeys; ++i) {
        reg.OpenKey(root + "\\Key" + std::to_string(i), true);
        reg.WriteString("Text", "Some text of moderate length " + std::to_string(i));
        reg.WriteInteger("Number", int32_t(i));
    }
    reg.CreateKey(root + "\\Done");
}

std::string databaseFile(const char *name, int64_t records)
{
    return g_dir->path().toStdString() + "/" + name + std::to_string(records) + ".sqlite";
}

// A history database holding `records` records of mixed kinds.
void fillHistory(const std::string &file, int64_t records)
{
    // A benchmark function runs several times; fill each file once.
    static std::set<std::string> filled;
    if (!filled.insert(file).second)
        return;
    TRegistryChangeHistory h(file);
    TMemoryStream data;
    const uint8_t bytes[12] = {'C', ':', '\\', 'd', 'a', 't', 'a', '\\', 'x', '.', 'd', 0};
    data.write(bytes, sizeof bytes);
    TRegistryChangeHistory::TOperation op(h);
    for (int64_t i = 0; i < records; ++i) {
        const std::string key = "\\Software\\Vendor\\Product" + std::to_string(i % 500) + "\\";
        if (i % 3 == 0)
            h.AddRecord(vt::history::htKey, vt::history::haDelete, HKEY_CURRENT_USER, key, "", rdNone, nullptr,
                        nullptr);
        else
            h.AddRecord(vt::history::htValue, vt::history::haChange, HKEY_LOCAL_MACHINE, key,
                        "Value" + std::to_string(i), rdString, &data, &data);
    }
    op.Commit();
}

void BM_RecordKeyTreeDeletion(benchmark::State &state)
{
    const int64_t subkeys = state.range(0);
    fillTree(subkeys);
    vt::app::TformMain window;
    if (!window.History()) {
        state.SkipWithError("no history store");
        return;
    }
    for (auto _ : state)
        window.LogKeyDelete(HKEY_CURRENT_USER, treePath(subkeys));
    state.SetItemsProcessed(state.iterations() * (subkeys * 3 + 1));
    state.counters["keys"] = double(subkeys + 1);
    state.counters["values"] = double(subkeys * 2);
}
BENCHMARK(BM_RecordKeyTreeDeletion)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_LoadAll(benchmark::State &state)
{
    const std::string file = databaseFile("load", state.range(0));
    fillHistory(file, state.range(0));
    TRegistryChangeHistory h(file);
    for (auto _ : state) {
        h.Clear();
        h.LoadAll();
        benchmark::DoNotOptimize(h.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_LoadAll)->Arg(1000)->Arg(10000)->Arg(100000)->Arg(200000)->Unit(benchmark::kMillisecond);

// Showing the window reloads everything; measured to the first paint of the list.
void BM_OpenHistoryWindow(benchmark::State &state)
{
    const std::string file = databaseFile("window", state.range(0));
    fillHistory(file, state.range(0));
    TRegistryChangeHistory h(file);
    const double before = residentMiB();
    vt::history::TformHistory form;
    form.SetHistory(&h);
    for (auto _ : state) {
        form.show();
        form.lvHistory->viewport()->repaint();
        state.PauseTiming();
        form.hide();
        QApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.counters["rows"] = double(form.model->rowCount());
    state.counters["MiB_held"] = residentMiB() - before;
}
BENCHMARK(BM_OpenHistoryWindow)->Arg(2000)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    // Filling the registry takes a while; VT_BENCH_SYSTEM names a system
    // folder to fill once and reuse.
    vt::platform::SystemOptions options;
    options.root = qEnvironmentVariableIsEmpty("VT_BENCH_SYSTEM")
                       ? dir.path().toStdString() + "/system"
                       : qEnvironmentVariable("VT_BENCH_SYSTEM").toStdString();
    if (vt::platform::openSystem(options) != ERROR_SUCCESS) {
        std::fprintf(stderr, "cannot open a system in %s\n", options.root.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    vt::platform::closeSystem();
    return 0;
}
