// The hex view on big values: selecting a REG_BINARY of 1, 16 and 64 MB in
// the main window until the hex view has painted, then scrolling it to the
// end; and the hex view's own first paint and heap use at those sizes. The
// cost of the view must not grow with the data: only visible rows are
// formatted, and no row text is kept.
//
//   bench_editors --benchmark_counters_tabular=true

#include "app/FormUnitMain.h"
#include "bench/support/BenchGuiMain.h"
#include "core/kltRegistry.h"
#include "editors/gui/vzoHexView.h"
#include "platform/vtPlatform.h"

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace
{

const char *const KeyPath = "\\Software\\VtBenchHex";

std::string valueName(int megabytes) { return "Binary" + std::to_string(megabytes) + "MB"; }

struct Fixture {
    QTemporaryDir dir;
    std::unique_ptr<vt::app::TformMain> window;

    Fixture()
    {
        vt::platform::SystemOptions options;
        options.root = dir.path().toStdString() + "/system";
        if (vt::platform::openSystem(options) != ERROR_SUCCESS) {
            std::fprintf(stderr, "cannot open a system in %s\n", options.root.c_str());
            std::exit(1);
        }
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        reg.OpenKey(KeyPath, true);
        for (int mb : {1, 16, 64}) {
            std::vector<unsigned char> bytes(std::size_t(mb) << 20);
            for (std::size_t i = 0; i < bytes.size(); ++i)
                bytes[i] = static_cast<unsigned char>(i * 7);
            reg.WriteBinaryData(valueName(mb), bytes.data(), std::int32_t(bytes.size()));
        }
        reg.CloseKey();
        window = std::make_unique<vt::app::TformMain>();
        window->resize(1000, 700);
        window->show();
        window->GoToKey(QStringLiteral("HKEY_CURRENT_USER") + QString::fromLatin1(KeyPath));
    }
    ~Fixture()
    {
        window.reset();
        vt::platform::closeSystem();
    }
};

std::unique_ptr<Fixture> theFixture;

QTreeWidgetItem *rowOf(vt::app::TformMain &w, const std::string &name)
{
    for (int i = 0; i < w.lvData->topLevelItemCount(); ++i)
        if (w.lvData->topLevelItem(i)->text(0) == QString::fromStdString(name))
            return w.lvData->topLevelItem(i);
    return nullptr;
}

void scrollToEnd(vt::editors::THexView &view)
{
    QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::NoModifier);
    QApplication::sendEvent(&view, &end);
    view.viewport()->repaint();
}

// Selecting the value (its bytes read from the registry into the window's
// buffer), the hex view's first paint, and the scroll to its end.
void BM_SelectBinaryValueAndScrollToEnd(benchmark::State &state)
{
    vt::app::TformMain &w = *theFixture->window;
    const int mb = int(state.range(0));
    QTreeWidgetItem *row = rowOf(w, valueName(mb));
    QTreeWidgetItem *other = rowOf(w, "(Default)");
    if (!row || !other) {
        state.SkipWithError("row not found");
        return;
    }
    double firstPaint = 0, scroll = 0;
    for (auto _ : state) {
        state.PauseTiming();
        w.lvData->setCurrentItem(other);
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        w.lvData->setCurrentItem(row);
        w.lvHexDump->viewport()->repaint();
        const auto t1 = std::chrono::steady_clock::now();
        scrollToEnd(*w.lvHexDump);
        const auto t2 = std::chrono::steady_clock::now();
        firstPaint += std::chrono::duration<double, std::milli>(t1 - t0).count();
        scroll += std::chrono::duration<double, std::milli>(t2 - t1).count();
        if (w.lvHexDump->CurrentRow() != w.lvHexDump->RowCount() - 1) {
            state.SkipWithError("not at the end");
            break;
        }
    }
    state.counters["select_paint_ms"] = firstPaint / double(state.iterations());
    state.counters["scroll_end_ms"] = scroll / double(state.iterations());
    state.counters["rows"] = double(w.lvHexDump->RowCount());
}
BENCHMARK(BM_SelectBinaryValueAndScrollToEnd)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

// The view alone over a buffer it does not own: its first paint after the
// size is set and the heap it holds meanwhile, whatever the size.
void BM_HexViewFirstPaintAndMemory(benchmark::State &state)
{
    const std::int64_t size = state.range(0) << 20;
    std::vector<unsigned char> data(std::size_t(size), 0x5A);
    long heap = 0;
    std::int64_t formatted = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::size_t before = mallinfo2().uordblks;
        auto view = std::make_unique<vt::editors::THexView>();
        view->OnGetBinaryData = [&](std::int64_t first, std::int64_t count, std::uint8_t *out) {
            std::copy_n(data.data() + first, count, out);
        };
        view->resize(800, 300);
        view->show();
        QApplication::processEvents();
        state.ResumeTiming();
        view->SetDataSize(size);
        view->viewport()->repaint();
        scrollToEnd(*view);
        state.PauseTiming();
        heap = long(mallinfo2().uordblks) - long(before);
        formatted = view->RowsFormatted();
        view.reset();
        state.ResumeTiming();
    }
    state.counters["view_heap_KB"] = double(heap) / 1024.0;
    state.counters["rows_formatted"] = double(formatted);
}
BENCHMARK(BM_HexViewFirstPaintAndMemory)->Arg(1)->Arg(16)->Arg(64)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    return vt::bench::runGuiBenchmarks(argc, argv, theFixture);
}
