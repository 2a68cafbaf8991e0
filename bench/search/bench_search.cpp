// Searching in the window and listing its results:
// - a case-insensitive substring search of keys, values and data for
//   "usbstor" below the reference hive SYSTEM_WIN_10_1709 mounted as a hive,
//   from pressing Search to the finished status (target: under 100 ms);
// - the same walk without the window (the engine alone);
// - 1k, 10k and 100k result rows arriving in batches in walk order and merged
//   into the sorted list shown by lvResults: the cost per row should stay flat,
//   and the window's event loop is never held longer than one batch.
// The whole-process comparison with reglookup is find_vs_reglookup.sh.

#include "bench/support/BenchGuiMain.h"
#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"
#include "search/SearchEngine.h"
#include "search/gui/FormUnitSearch.h"
#include "search/gui/SearchResultsModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace {

const char *const HiveName = "VtBenchSearch";

std::string hivePath()
{
    const QByteArray env = qgetenv("VT_TESTDATA");
    const std::string base = env.isEmpty() ? std::string(VT_TESTDATA_DIR) : env.toStdString();
    return base + "/hives/real/regipy/SYSTEM_WIN_10_1709";
}

long residentKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

struct Fixture {
    QTemporaryDir dir;
    bool haveHive = false;

    Fixture()
    {
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        options.identity = vt::platform::Identity::LocalSystem; // reads the keys only SYSTEM may open
        if (vt::platform::openSystem(options) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot open a system in %s\n", options.root.c_str());
            std::exit(1);
        }
        const QString copy = dir.filePath(QStringLiteral("hive"));
        if (QFile::copy(QString::fromStdString(hivePath()), copy)) {
            QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
            haveHive = RegLoadKeyA(HKEY_LOCAL_MACHINE, HiveName, copy.toStdString().c_str()) == ERROR_SUCCESS;
        }
    }
    ~Fixture()
    {
        if (haveHive)
            RegUnLoadKeyA(HKEY_LOCAL_MACHINE, HiveName);
        vt::platform::closeSystem();
    }
};

std::unique_ptr<Fixture> theFixture;

void BM_WindowSearchUsbstor(benchmark::State &state)
{
    if (!theFixture->haveHive) {
        state.SkipWithError("the reference hive is absent or did not load");
        return;
    }
    vt::search::TformSearch w;
    w.SetSearchStart(HKEY_LOCAL_MACHINE, std::string("\\") + HiveName, 0);
    w.cbIgnoreCase->setChecked(true);
    w.editSearchTerm->setText(QStringLiteral("usbstor"));
    for (auto _ : state) {
        w.bnSearch->click();
        // Sleeps until the next event, as the window's own loop would (the
        // overload with a time limit would spin and take a core from the walk).
        while (w.Searching())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    state.counters["rows"] = w.Results()->rowCount();
}
BENCHMARK(BM_WindowSearchUsbstor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_EngineSearchUsbstor(benchmark::State &state)
{
    if (!theFixture->haveHive) {
        state.SkipWithError("the reference hive is absent or did not load");
        return;
    }
    vt::search::TSearchOptions o;
    o.Pattern = "usbstor";
    o.IgnoreCase = true;
    size_t rows = 0;
    uint64_t keys = 0;
    for (auto _ : state) {
        vt::search::TSearchWalk walk(o);
        rows = 0;
        walk.OnResult = [&](vt::search::TSearchListItem &&) { ++rows; };
        walk.OnStatus = [](HKEY, const std::string &) {};
        walk.SearchBranch(HKEY_LOCAL_MACHINE, std::string("\\") + HiveName, 0);
        keys = walk.KeysSearched();
    }
    state.counters["rows"] = double(rows);
    state.counters["keys"] = double(keys);
}
BENCHMARK(BM_EngineSearchUsbstor)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Rows as a walk makes them: captions under a few hundred keys, the key
// names arriving in descending order (the walk searches the last subkey
// first), in batches as the window's pump takes them: at least 2,000 rows
// and at least a quarter of the rows listed so far.
std::vector<vt::search::TSearchListItem> makeRows(int count)
{
    std::vector<vt::search::TSearchListItem> rows;
    rows.reserve(size_t(count));
    char buffer[96];
    for (int i = count; i-- > 0;) {
        vt::search::TSearchListItem row;
        std::snprintf(buffer, sizeof buffer, "HKEY_LOCAL_MACHINE\\SYSTEM\\Key%04d\\Sub%06d", i % 500, i);
        row.Caption = buffer;
        row.KeyPath = row.Caption.substr(18);
        row.RootKey = HKEY_LOCAL_MACHINE;
        row.ImageIndex = vt::search::rkKey;
        rows.push_back(std::move(row));
    }
    return rows;
}

void BM_ListResultRows(benchmark::State &state)
{
    const int count = int(state.range(0));
    QTreeView view;
    vt::search::TSearchResultsModel model;
    view.setUniformRowHeights(true);
    view.setModel(&model);
    view.resize(600, 400);
    view.show();
    long kilobytes = 0;
    qint64 longestBatch = 0;
    for (auto _ : state) {
        state.PauseTiming();
        model.clear();
        const long before = residentKilobytes(); // the rows' own memory counts
        std::vector<vt::search::TSearchListItem> rows = makeRows(count);
        state.ResumeTiming();
        for (size_t start = 0, size = 2000; start < rows.size(); start += size) {
            size = std::max<size_t>(2000, size_t(model.rowCount()) / 4);
            QElapsedTimer timer;
            timer.start();
            std::vector<vt::search::TSearchListItem> batch(std::make_move_iterator(rows.begin() + long(start)),
                                                           std::make_move_iterator(rows.begin() +
                                                                                   long(std::min(rows.size(), start + size))));
            model.addRows(std::move(batch));
            QApplication::processEvents(); // the view lays out and paints as the window would
            longestBatch = std::max(longestBatch, timer.elapsed());
        }
        state.PauseTiming();
        kilobytes = std::max(kilobytes, residentKilobytes() - before); // the first pass grows the heap, later ones reuse it
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["rows"] = model.rowCount();
    state.counters["KB"] = double(kilobytes);
    state.counters["longest_batch_ms"] = double(longestBatch);
}
BENCHMARK(BM_ListResultRows)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return vt::bench::runGuiBenchmarks(argc, argv, theFixture);
}
