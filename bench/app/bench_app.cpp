// Browsing big keys in the main window: expanding a key with 50,000 subkeys
// and listing a key with 10,000 values. Each should stay under half a second.

#include "app/FormUnitMain.h"
#include "bench/support/BenchGuiMain.h"
#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int SubkeyCount = 50000;
constexpr int ValueCount = 10000;
const char *const BigKeyPath = "\\Software\\VtBenchKeys";
const char *const ManyValuesPath = "\\Software\\VtBenchValues";

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<vt::app::TformMain> window;

    Fixture()
    {
        // Filling the keys takes minutes (every change is made durable);
        // VT_BENCH_SYSTEM names a system folder to fill once and reuse.
        vt::platform::SystemOptions options;
        options.root = qEnvironmentVariableIsEmpty("VT_BENCH_SYSTEM")
                           ? dir.path().toStdString() + "/system"
                           : qEnvironmentVariable("VT_BENCH_SYSTEM").toStdString();
        if (vt::platform::openSystem(options) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot open a system in %s\n", options.root.c_str());
            std::exit(1);
        }
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        if (!reg.KeyExists(std::string(ManyValuesPath) + "\\Done"))
            fill(reg);
        window = std::make_unique<vt::app::TformMain>();
        window->show();
    }

    static void fill(TMyRegistry &reg)
    {
        // Every tenth subkey has a child of its own, so the subkey test per
        // child meets both answers.
        char name[32];
        for (int i = 0; i < SubkeyCount; ++i) {
            std::snprintf(name, sizeof name, "\\Key%05d", (i * 7919) % SubkeyCount);
            std::string path = std::string(BigKeyPath) + name;
            if (i % 10 == 0)
                path += "\\Child";
            reg.CreateKey(path);
        }
        reg.OpenKey(ManyValuesPath, true);
        for (int i = 0; i < ValueCount; ++i) {
            std::snprintf(name, sizeof name, "Value%05d", (i * 7919) % ValueCount);
            switch (i % 4) {
            case 0:
                reg.WriteString(name, "Some text of moderate length for value " + std::to_string(i));
                break;
            case 1:
                reg.WriteInteger(name, i);
                break;
            case 2: {
                const unsigned char bytes[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
                reg.WriteBinaryData(name, bytes, sizeof bytes);
                break;
            }
            default:
                reg.WriteMultiString(name, "first\r\nsecond\r\n");
                break;
            }
        }
        reg.CloseKey();
        reg.CreateKey(std::string(ManyValuesPath) + "\\Done");
    }
    ~Fixture()
    {
        window.reset();
        vt::platform::closeSystem();
    }
};

// Made in main and gone before the application object is.
std::unique_ptr<Fixture> theFixture;

Fixture &fixture() { return *theFixture; }

QTreeWidgetItem *bigKeyNode(vt::app::TformMain &w)
{
    w.GoToKey(QStringLiteral("HKEY_CURRENT_USER\\Software"));
    QTreeWidgetItem *software = w.tvKeys->currentItem();
    return w.FindChildNode(software, QStringLiteral("VtBenchKeys"));
}

void BM_ExpandKeyWith50000Subkeys(benchmark::State &state)
{
    vt::app::TformMain &w = *fixture().window;
    QTreeWidgetItem *node = bigKeyNode(w);
    if (!node) {
        state.SkipWithError("key node not found");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        qDeleteAll(node->takeChildren());
        node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        state.ResumeTiming();
        w.tvKeysExpanding(node);
        if (node->childCount() != SubkeyCount) {
            state.SkipWithError("wrong number of children");
            break;
        }
    }
    state.counters["children"] = node->childCount();
}
BENCHMARK(BM_ExpandKeyWith50000Subkeys)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_FillValueListWith10000Values(benchmark::State &state)
{
    vt::app::TformMain &w = *fixture().window;
    for (auto _ : state) {
        w.FillValueList(HKEY_CURRENT_USER, ManyValuesPath, 0);
        if (w.lvData->topLevelItemCount() != ValueCount + 1) {
            state.SkipWithError("wrong number of rows");
            break;
        }
    }
    state.counters["rows"] = w.lvData->topLevelItemCount();
}
BENCHMARK(BM_FillValueListWith10000Values)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Listing a key with one large value, cell painted: the cost per megabyte
// should stay flat (1, 4 and 16 MB) and well under 100 ms per MB.
void BM_ListKeyWithOneLargeValue(benchmark::State &state)
{
    vt::app::TformMain &w = *fixture().window;
    const std::size_t megabytes = std::size_t(state.range(0));
    const std::string path = "\\Software\\VtBenchLarge" + std::to_string(megabytes);
    {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        reg.OpenKey(path, true);
        std::vector<unsigned char> bytes(megabytes << 20);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<unsigned char>(i * 7);
        reg.WriteBinaryData("Large", bytes.data(), std::int32_t(bytes.size()));
        reg.CloseKey();
    }
    w.resize(1000, 600);
    for (auto _ : state) {
        w.FillValueList(HKEY_CURRENT_USER, path, 0);
        w.lvData->viewport()->repaint();
    }
    // Throughput in bytes of value data per second: flat across the sizes
    // means a flat cost per megabyte.
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(megabytes << 20));
}
BENCHMARK(BM_ListKeyWithOneLargeValue)->Arg(1)->Arg(4)->Arg(16)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return vt::bench::runGuiBenchmarks(argc, argv, theFixture);
}
