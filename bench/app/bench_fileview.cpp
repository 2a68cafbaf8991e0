// Opening a registry file as a difference view in the main window: the
// export of the reference hive (mounted, written by vantrel-cli's export),
// about 30 MB, compared with that mounted hive value by value; time until
// the branch is in the tree and how far memory rose (peak_MB: resident
// memory above what the process held before; tree_MB: heap still in use once
// the branch is shown). A curve
// over generated files of 1k, 10k and 100k values shows the cost per value.
//
//   build/bench/app/bench_fileview --benchmark_counters_tabular=true
#include "app/FormUnitMain.h"
#include "bench/support/BenchHive.h"
#include "bench/support/BenchMemory.h"
#include "cli/VerbRegFile.h"
#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileView.h"

#include <QApplication>
#include <QTreeWidget>

#include <benchmark/benchmark.h>

#include <chrono>
#include <malloc.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

const char *const kHiveName = "VtBenchHive";
fs::path gDir;

bool ensureSystem()
{
    if (!gDir.empty())
        return true;
    gDir = vt::bench::makeBenchDir("vt-bench-fileview");
    return vt::bench::openSystemWithReferenceHive(gDir, kHiveName);
}

void cleanup()
{
    if (gDir.empty())
        return;
    RegUnLoadKeyA(HKEY_LOCAL_MACHINE, kHiveName);
    vt::platform::closeSystem();
    std::error_code ec;
    fs::remove_all(gDir, ec);
}

// The hive's export as the command line writes it.
std::string hiveExport()
{
    const std::string file = (gDir / "hive.reg").string();
    if (fs::exists(file))
        return file;
    vt::cli::ExportCommand command;
    std::ostringstream out, err;
    if (command.execute({std::string("HKLM\\") + kHiveName, file, "/y"}, out, err) != 0) {
        std::fprintf(stderr, "export failed: %s\n", err.str().c_str());
        return {};
    }
    return file;
}

// A version 5 file of `values` values, ten per key, of the common types.
std::string generatedFile(int values)
{
    const std::string file = (gDir / ("generated-" + std::to_string(values) + ".reg")).string();
    if (fs::exists(file))
        return file;
    std::string text = std::string(RegFileHeader5) + "\r\n\r\n";
    for (int i = 0; i < values; ++i) {
        if (i % 10 == 0)
            text += "\r\n[HKEY_CURRENT_USER\\Software\\VtCurve\\Key" + std::to_string(i / 10) + "]\r\n";
        switch (i % 4) {
        case 0:
            text += "\"S" + std::to_string(i) + "\"=\"Some text of moderate length\"\r\n";
            break;
        case 1:
            text += "\"D" + std::to_string(i) + "\"=dword:0000002a\r\n";
            break;
        case 2:
            text += "\"B" + std::to_string(i) + "\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f\r\n";
            break;
        default:
            text += "\"M" + std::to_string(i) + "\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n";
            break;
        }
    }
    std::string bytes = "\xFF\xFE";
    AppendUtf16le(text, bytes);
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
}

std::unique_ptr<vt::app::TformMain> gWindow;

vt::app::TformMain &window()
{
    if (!gWindow) {
        gWindow = std::make_unique<vt::app::TformMain>();
        gWindow->show();
    }
    return *gWindow;
}

// Heap bytes in use, in MB: what the branch holds once it is shown.
double heapInUseMB()
{
    return double(mallinfo2().uordblks) / (1024.0 * 1024.0);
}

// Opens the file in the window as a difference view and closes the branch
// again after measuring.
void openInWindow(benchmark::State &state, const std::string &file, double values)
{
    vt::app::TformMain &w = window();
    double seconds = 0, peak = 0, held = 0;
    for (auto _ : state) {
        // Memory freed by the last round goes back to the system, so that the
        // peak of this one is its own.
        malloc_trim(0);
        vt::bench::resetPeak();
        const double before = heapInUseMB();
        const auto t0 = std::chrono::steady_clock::now();
        if (!w.OpenRegistryFileView(QString::fromStdString(file), true)) {
            state.SkipWithError("the file did not open");
            return;
        }
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        peak = std::max(peak, vt::bench::growthMB());
        held = std::max(held, heapInUseMB() - before);
        state.PauseTiming();
        delete w.tvKeys->takeTopLevelItem(w.tvKeys->topLevelItemCount() - 1);
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = peak;
    state.counters["tree_MB"] = held;
    state.counters["us_per_value"] = seconds / double(state.iterations()) / values * 1e6;
    state.counters["file_MB"] = double(fs::file_size(file)) / (1024.0 * 1024.0);
}

void BM_OpenHiveExportAsDifference(benchmark::State &state)
{
    if (!ensureSystem()) {
        state.SkipWithError("cannot mount the hive");
        return;
    }
    const std::string file = hiveExport();
    if (file.empty()) {
        state.SkipWithError("the export failed");
        return;
    }
    // The number of values the file holds, from the view itself.
    static size_t values = 0;
    static size_t keys = 0;
    if (!values) {
        TRegFileView view(false);
        view.LoadFromFile(file);
        values = view.ValueRecords();
        keys = view.KeyLines();
    }
    openInWindow(state, file, double(values));
    state.counters["values"] = double(values);
    state.counters["keys"] = double(keys);
}

// The same file read into the view's tree without the window, to tell the
// reading and comparing from the tree widget's part.
void BM_ReadHiveExportWithoutWindow(benchmark::State &state)
{
    if (!ensureSystem()) {
        state.SkipWithError("cannot mount the hive");
        return;
    }
    const std::string file = hiveExport();
    double peak = 0;
    for (auto _ : state) {
        malloc_trim(0);
        vt::bench::resetPeak();
        TRegFileView view(true);
        if (!view.LoadFromFile(file)) {
            state.SkipWithError(view.Error().c_str());
            return;
        }
        peak = std::max(peak, vt::bench::growthMB());
    }
    state.counters["peak_MB"] = peak;
}

void BM_OpenGeneratedAsDifference(benchmark::State &state)
{
    if (!ensureSystem()) {
        state.SkipWithError("no system");
        return;
    }
    openInWindow(state, generatedFile(int(state.range(0))), double(state.range(0)));
}

} // namespace

BENCHMARK(BM_OpenGeneratedAsDifference)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_ReadHiveExportWithoutWindow)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_OpenHiveExportAsDifference)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gWindow.reset();
    cleanup();
    return 0;
}
