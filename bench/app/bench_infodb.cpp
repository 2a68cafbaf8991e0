// The info database at 1,000, 10,000 and 100,000 items: loading the file,
// the key lookup, saving, and ShowKeyInfo as a key selection runs it in the
// main window. Targets at 100,000 items: load under 300 ms, ShowKeyInfo
// under 1 ms, save under 500 ms; the cost per item should stay flat.

#include "app/FormUnitMain.h"
#include "app/kltConfig.h"
#include "bench/support/BenchGuiMain.h"
#include "knowledge/RegistryInfo.h"
#include "platform/vtPlatform.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

using vt::knowledge::TRegistryInfo;

namespace
{

std::string keyOf(int i)
{
    char name[96];
    std::snprintf(name, sizeof name, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor%06d\\Product\\Settings", i);
    return name;
}

// A collection as users grow one: key items with two lines of text, every
// tenth with an umlaut (tag 0x14), every twentieth a value item.
void fill(TRegistryInfo &info, int count)
{
    for (int i = 0; i < count; ++i) {
        auto &item = info.Add(keyOf(i), i % 20 == 19 ? "Value" : "");
        item.Info = {"What this key holds, in a line of ordinary length.",
                     i % 10 == 0 ? "Gr\xc3\xbc\xc3\x9f from the vendor" : "Second line"};
    }
}

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<vt::app::TformMain> window;
    std::string file(int count) const { return dir.path().toStdString() + "/items" + std::to_string(count) + ".rdb"; }

    Fixture()
    {
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        if (vt::platform::openSystem(options) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot open a system in %s\n", options.root.c_str());
            std::exit(1);
        }
        for (int count : {1000, 10000, 100000}) {
            TRegistryInfo info;
            fill(info, count);
            info.SaveToFile(file(count));
        }
        // The window loads the largest file when it is made.
        QDir().mkpath(QString::fromStdString(vt::app::ProgramFolder()));
        QFile::copy(QString::fromStdString(file(100000)), QString::fromStdString(vt::app::ProgramFile("Vantrel.rdb")));
        window = std::make_unique<vt::app::TformMain>();
        window->show();
    }
};

std::unique_ptr<Fixture> fixture;

void BM_Load(benchmark::State &state)
{
    const std::string file = fixture->file(int(state.range(0)));
    for (auto _ : state) {
        TRegistryInfo info;
        info.LoadFromFile(file);
        benchmark::DoNotOptimize(info.Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Load)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_Save(benchmark::State &state)
{
    TRegistryInfo info;
    fill(info, int(state.range(0)));
    const std::string file = fixture->file(int(state.range(0))) + ".saved";
    for (auto _ : state)
        info.SaveToFile(file);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Save)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_FindKeyItem(benchmark::State &state)
{
    TRegistryInfo info;
    info.LoadFromFile(fixture->file(int(state.range(0))));
    int i = 0;
    for (auto _ : state) {
        // Letter case differs from the stored key, as a typed path may.
        std::string key = keyOf((i++ * 7919) % int(state.range(0)));
        key[20] = 'o';
        benchmark::DoNotOptimize(info.FindKeyItem(key));
    }
}
BENCHMARK(BM_FindKeyItem)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// What every key selection adds: the lookup and the memos filled.
void BM_ShowKeyInfo(benchmark::State &state)
{
    int i = 0;
    for (auto _ : state) {
        fixture->window->ShowKeyInfo(QString::fromStdString(keyOf((i++ * 7919) % 100000)));
        benchmark::DoNotOptimize(fixture->window->mInfoDBKey->document()->characterCount());
    }
}
BENCHMARK(BM_ShowKeyInfo)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    return vt::bench::runGuiBenchmarks(argc, argv, fixture);
}
