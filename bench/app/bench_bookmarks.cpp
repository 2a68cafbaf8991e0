// Reading the bookmarks file into the Bookmarks menu, as the window does at
// start: N bookmarks in one level (1,000 to 100,000) and N folders nested in
// one another (1,000 and 5,000). Time per item should stay flat; targets:
// 20,000 bookmarks under 0.5 s and 50 MB, 5,000 nested folders the same.
// "rss_MB" is the resident memory the loaded menu holds (measured after the
// load, the file's text freed).
//
//   cmake --build build --target bench_bookmarks && build/bench/app/bench_bookmarks

#include "app/FormUnitBookmarks.h"
#include "bench/support/BenchGuiMain.h"

#include <QFile>
#include <QMenu>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <string>

namespace
{

struct Fixture {
    QTemporaryDir dir;
};
std::unique_ptr<Fixture> theFixture;

double residentMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

QString writeFile(const QString &name, int items, bool nested)
{
    const QString path = theFixture->dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        std::abort();
    QByteArray text;
    for (int i = 0; i < items; ++i) {
        if (nested)
            text += "FOLDER_OPEN,\"Folder " + QByteArray::number(i) + "\"\r\n";
        else
            text += "ITEM,\"Bookmark " + QByteArray::number(i) + "\",HKEY_CURRENT_USER\\Software\\Vendor" +
                    QByteArray::number(i % 97) + "\\Product\\Settings\r\n";
    }
    if (nested) {
        text += "ITEM,leaf,HKEY_USERS\r\n";
        for (int i = 0; i < items; ++i)
            text += "FOLDER_CLOSE\r\n";
    }
    f.write(text);
    return path;
}

void load(benchmark::State &state, bool nested)
{
    const int items = int(state.range(0));
    const QString file = writeFile(QStringLiteral("b%1%2.txt").arg(items).arg(nested), items, nested);
    double rss = 0;
    for (auto _ : state) {
        state.PauseTiming();
        vt::app::TformBookmarks form;
        auto menu = std::make_unique<QMenu>();
        const double before = residentMegabytes();
        state.ResumeTiming();
        const vt::app::TBookmarkFileResult result = form.LoadBookmarks(file, menu.get());
        state.PauseTiming();
        if (!result.ok)
            state.SkipWithError(result.problem.toStdString().c_str());
        rss = residentMegabytes() - before;
        menu.reset();
        state.ResumeTiming();
    }
    state.counters["per_item"] = benchmark::Counter(double(state.iterations()) * items,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["rss_MB"] = rss;
}

void BM_LoadFlatBookmarks(benchmark::State &state)
{
    load(state, false);
}
void BM_LoadNestedFolders(benchmark::State &state)
{
    load(state, true);
}

BENCHMARK(BM_LoadFlatBookmarks)->Arg(1000)->Arg(10000)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadNestedFolders)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return vt::bench::runGuiBenchmarks(argc, argv, theFixture);
}
