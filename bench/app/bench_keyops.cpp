// Key commands of the main window on big keys, the way a user runs them:
// deleting a key through the command with its recording (undo export and
// history record), copying and moving it by a drop onto another key, and
// renaming it. Each key has N subkeys with two values each (N = 1,000,
// 10,000, 50,000: at 50,000 that is 100,000 values); the time per item
// should stay flat. Targets at 50,000: delete under 5 s, copy and move under
// 2 s, rename under 100 ms. "peak_MB" is the process's peak resident memory.
//
//   cmake --build build --target bench_keyops && build/bench/app/bench_keyops

#include "app/FormUnitMain.h"
#include "bench/support/BenchGuiMain.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "i18n/gui/zoMessageDialogs.h"
#include "platform/vtPlatform.h"

#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace {

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
        window = std::make_unique<vt::app::TformMain>();
        window->resize(900, 700);
        window->show();
    }
    ~Fixture()
    {
        window.reset();
        vt::platform::closeSystem();
    }
};

std::unique_ptr<Fixture> theFixture;

double peakMegabytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

// N subkeys below path, each with a string and a number.
void fill(const std::string &path, int keys)
{
    vt::platform::Transaction tx;
    TMyRegistry reg;
    reg.SetRootKey(HKEY_CURRENT_USER);
    for (int i = 0; i < keys; ++i) {
        const std::string name = "K" + std::to_string(i);
        reg.OpenKey(path + '\\' + name, true);
        reg.WriteString("text", "some text of key " + name);
        reg.WriteInteger("number", i);
    }
    reg.CloseKey();
}

QTreeWidgetItem *select(vt::app::TformMain &w, const QString &key)
{
    w.GoToKey(key);
    QApplication::processEvents(); // lays the tree out, so drops find their node
    return w.tvKeys->currentItem();
}

void dropKeyOn(vt::app::TformMain &w, QTreeWidgetItem *target, bool copy)
{
    std::unique_ptr<QMimeData> mime(w.CreateDragData(w.tvKeys));
    w.tvKeys->scrollToItem(target);
    const QPoint at = w.tvKeys->visualItemRect(target).center();
    const Qt::KeyboardModifiers mods = copy ? Qt::ControlModifier : Qt::NoModifier;
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
    // As a drag arrives: entering, moving over the node, dropping.
    QDragEnterEvent enter(at, actions, mime.get(), Qt::LeftButton, mods);
    QApplication::sendEvent(w.tvKeys->viewport(), &enter);
    QDragMoveEvent move(at, actions, mime.get(), Qt::LeftButton, mods);
    QApplication::sendEvent(w.tvKeys->viewport(), &move);
    QDropEvent drop(at, actions, mime.get(), Qt::LeftButton, mods);
    QApplication::sendEvent(w.tvKeys->viewport(), &drop);
}

void setCounters(benchmark::State &state)
{
    const int keys = int(state.range(0));
    state.counters["items"] = 3.0 * keys; // keys and their two values
    state.counters["per_item"] =
        benchmark::Counter(double(state.iterations()) * 3.0 * keys, benchmark::Counter::kIsRate |
                                                                         benchmark::Counter::kInvert);
    state.counters["peak_MB"] = peakMegabytes();
}

void BM_DeleteKeyByCommand(benchmark::State &state)
{
    vt::app::TformMain &w = *theFixture->window;
    const int keys = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        fill("\\Software\\VtBenchDel", keys);
        select(w, QStringLiteral("HKEY_CURRENT_USER\\Software\\VtBenchDel"));
        vt::i18n::setNextAnswer(vt::i18n::mrYes);
        w.UpdateActionStates();
        state.ResumeTiming();
        w.aKeyDelete->trigger();
        state.PauseTiming();
        if (KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtBenchDel")) {
            state.SkipWithError("the key is still there");
            break;
        }
        state.ResumeTiming();
    }
    setCounters(state);
}
BENCHMARK(BM_DeleteKeyByCommand)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(2);

void dropBenchmark(benchmark::State &state, bool copy)
{
    vt::app::TformMain &w = *theFixture->window;
    const int keys = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtBenchDrop");
        fill("\\Software\\VtBenchDrop\\From\\Big", keys);
        CreateKeyAt(HKEY_CURRENT_USER, "\\Software\\VtBenchDrop\\To");
        QTreeWidgetItem *target = select(w, QStringLiteral("HKEY_CURRENT_USER\\Software\\VtBenchDrop\\To"));
        select(w, QStringLiteral("HKEY_CURRENT_USER\\Software\\VtBenchDrop\\From\\Big"));
        state.ResumeTiming();
        dropKeyOn(w, target, copy);
        state.PauseTiming();
        if (!KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtBenchDrop\\To\\Big\\K0") ||
            KeyExistsAt(HKEY_CURRENT_USER, "\\Software\\VtBenchDrop\\From\\Big") == !copy) {
            state.SkipWithError("the drop did not arrive");
            break;
        }
        state.ResumeTiming();
    }
    setCounters(state);
}

void BM_CopyKeyByDrop(benchmark::State &state) { dropBenchmark(state, true); }
void BM_MoveKeyByDrop(benchmark::State &state) { dropBenchmark(state, false); }
BENCHMARK(BM_CopyKeyByDrop)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_MoveKeyByDrop)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_RenameKeyByCommand(benchmark::State &state)
{
    vt::app::TformMain &w = *theFixture->window;
    const int keys = int(state.range(0));
    DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtBenchRen");
    fill("\\Software\\VtBenchRen\\Name0", keys);
    select(w, QStringLiteral("HKEY_CURRENT_USER\\Software\\VtBenchRen\\Name0"));
    int n = 0;
    for (auto _ : state) {
        vt::i18n::setNextPromptAnswer(QStringLiteral("Name%1").arg(++n));
        w.UpdateActionStates();
        w.aKeyRename->trigger();
        if (w.tvKeys->currentItem()->text(0) != QStringLiteral("Name%1").arg(n)) {
            state.SkipWithError("not renamed");
            break;
        }
    }
    setCounters(state);
}
// The rename alone, without the command's two exports of the whole key into
// the change logs.
void BM_RenameKeyNative(benchmark::State &state)
{
    const int keys = int(state.range(0));
    DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtBenchRenN");
    fill("\\Software\\VtBenchRenN\\Name0", keys);
    int n = 0;
    for (auto _ : state) {
        TMyRegistry reg;
        reg.SetRootKey(HKEY_CURRENT_USER);
        if (!reg.RenameKey("\\Software\\VtBenchRenN\\Name" + std::to_string(n), "Name" + std::to_string(n + 1))) {
            state.SkipWithError("not renamed");
            break;
        }
        ++n;
    }
    setCounters(state);
}
BENCHMARK(BM_RenameKeyNative)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMicrosecond);

// What the command adds to the rename: the recorder's export of the whole
// key before and after it into the two change-log panes.
void BM_RecordKeyRename(benchmark::State &state)
{
    vt::app::TformMain &w = *theFixture->window;
    const int keys = int(state.range(0));
    DeleteKeyAt(HKEY_CURRENT_USER, "\\Software\\VtBenchRec");
    fill("\\Software\\VtBenchRec\\Key", keys);
    for (auto _ : state) {
        w.LogKeyRename(HKEY_CURRENT_USER, "\\Software\\VtBenchRec\\Key", vt::app::TformMain::TRenamePhase::Before,
                       "\\Software\\VtBenchRec\\Other");
        w.LogKeyRename(HKEY_CURRENT_USER, "\\Software\\VtBenchRec\\Other", vt::app::TformMain::TRenamePhase::After,
                       "\\Software\\VtBenchRec\\Key");
    }
    setCounters(state);
}
BENCHMARK(BM_RecordKeyRename)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(3);

BENCHMARK(BM_RenameKeyByCommand)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char **argv)
{
    return vt::bench::runGuiBenchmarks(argc, argv, theFixture);
}
