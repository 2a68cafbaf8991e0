// Export of the largest real hive (mounted) to a version 5 file and import of
// that file into an empty key, against hivexregedit --export and reglookup of
// the same hive in the same run. The last benchmark reports the ratios; every
// benchmark reports its peak resident memory (peak_MB).
#include "bench/support/BenchHive.h"
#include "bench/support/BenchMemory.h"
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "platform/vtPlatform.h"
#include "regfile/RegFileReader.h"
#include "regfile/RegFileText.h"
#include "regfile/RegFileWriter.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace
{

const char *const kHiveName = "VtBenchHive";
const std::string kImportKey = "\\Software\\VtBenchImport";

fs::path gDir;
std::string gHive;                      // the copy that is mounted
std::string gPeerHive;                  // an untouched copy for the peers
std::map<std::string, double> gSeconds; // mean seconds per benchmark, for the ratios

void cleanup()
{
    RegUnLoadKeyA(HKEY_LOCAL_MACHINE, kHiveName);
    vt::platform::closeSystem();
    std::error_code ec;
    fs::remove_all(gDir, ec);
}

bool ensureSystem()
{
    if (!gDir.empty())
        return true;
    gDir = vt::bench::makeBenchDir("vt-bench-regfile");
    gPeerHive = (gDir / "peer.hive").string();
    fs::copy_file(vt::bench::referenceHive(), gPeerHive);
    return vt::bench::openSystemWithReferenceHive(gDir, kHiveName, &gHive);
}

using vt::bench::growthMB;
using vt::bench::peakMB;
using vt::bench::resetPeak;

std::string exportFile()
{
    return (gDir / "export.reg").string();
}

// The export with its key lines moved below an empty key of the current user.
std::string importFile()
{
    const std::string name = (gDir / "import.reg").string();
    if (fs::exists(name))
        return name;
    if (!fs::exists(exportFile()))
        ExportKeyToFile(HKEY_LOCAL_MACHINE, std::string("\\") + kHiveName, exportFile(), true, false, true);
    std::vector<std::string> lines;
    TMyRegistryReader::ReadUtf16File(exportFile(), lines);
    const std::string from = std::string("[HKEY_LOCAL_MACHINE\\") + kHiveName;
    const std::string to = "[HKEY_CURRENT_USER" + kImportKey;
    std::string out = "\xFF\xFE";
    for (std::string &line : lines) {
        if (line.rfind(from, 0) == 0)
            line = to + line.substr(from.size());
        AppendUtf16le(line + "\r\n", out);
    }
    std::ofstream(name, std::ios::binary) << out;
    return name;
}

void record(benchmark::State &state, const char *name, double seconds, double peak, double growth = -1)
{
    gSeconds[name] = seconds / double(state.iterations());
    state.counters["peak_MB"] = peak;
    if (growth >= 0)
        state.counters["growth_MB"] = growth;
}

void BM_ExportHiveV5(benchmark::State &state)
{
    if (!ensureSystem()) {
        state.SkipWithError("cannot mount the hive");
        return;
    }
    double total = 0, peak = 0, growth = 0;
    for (auto _ : state) {
        resetPeak();
        auto t0 = std::chrono::steady_clock::now();
        ExportKeyToFile(HKEY_LOCAL_MACHINE, std::string("\\") + kHiveName, exportFile(), true, false, true);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        peak = std::max(peak, peakMB());
        growth = std::max(growth, growthMB());
    }
    state.counters["file_MB"] = double(fs::file_size(exportFile())) / (1024.0 * 1024.0);
    record(state, "export", total, peak, growth);
}

void BM_ImportFileV5(benchmark::State &state)
{
    if (!ensureSystem()) {
        state.SkipWithError("cannot mount the hive");
        return;
    }
    const std::string file = importFile();
    double total = 0, peak = 0, growth = 0;
    size_t keys = 0, values = 0;
    for (auto _ : state) {
        state.PauseTiming();
        DeleteKeyAt(HKEY_CURRENT_USER, kImportKey);
        state.ResumeTiming();
        resetPeak();
        auto t0 = std::chrono::steady_clock::now();
        TMyRegistryReader reader;
        reader.WriteToRegistry = true;
        reader.LoadFromFile(file);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        peak = std::max(peak, peakMB());
        growth = std::max(growth, growthMB());
        keys = reader.KeysApplied();
        values = reader.ValuesApplied();
    }
    state.counters["keys"] = double(keys);
    state.counters["values"] = double(values);
    record(state, "import", total, peak, growth);
}

// The reader alone: the same file parsed without writing, to tell its own
// cost from the registry engine's.
void BM_ParseFileV5(benchmark::State &state)
{
    if (!ensureSystem()) {
        state.SkipWithError("cannot mount the hive");
        return;
    }
    const std::string file = importFile();
    double total = 0, peak = 0, growth = 0;
    for (auto _ : state) {
        resetPeak();
        auto t0 = std::chrono::steady_clock::now();
        TMyRegistryReader reader;
        reader.LoadFromFile(file);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        peak = std::max(peak, peakMB());
        growth = std::max(growth, growthMB());
    }
    record(state, "parse", total, peak, growth);
}

// Runs a peer under /usr/bin/time for its peak memory.
void runPeer(benchmark::State &state, const char *name, const std::string &command)
{
    if (!ensureSystem()) {
        state.SkipWithError("no system");
        return;
    }
    const std::string memFile = (gDir / (std::string(name) + ".mem")).string();
    const std::string cmd = "/usr/bin/time -f %M -o '" + memFile + "' " + command + " > /dev/null 2>&1";
    double total = 0, peak = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError((std::string(name) + " failed").c_str());
            return;
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        std::ifstream mem(memFile);
        double kb = 0;
        mem >> kb;
        peak = std::max(peak, kb / 1024.0);
    }
    record(state, name, total, peak);
}

void BM_ReglookupDump(benchmark::State &state)
{
    runPeer(state, "reglookup", "reglookup '" + gPeerHive + "'");
}

void BM_HivexregeditExport(benchmark::State &state)
{
    runPeer(state, "hivex", "hivexregedit --export '" + gPeerHive + "' '\\\\'");
}

// Ratios below 1 mean ours is faster.
void BM_Ratios(benchmark::State &state)
{
    for (auto _ : state) {
    }
    auto ratio = [](const char *a, const char *b) {
        return gSeconds.count(a) && gSeconds.count(b) && gSeconds[b] > 0 ? gSeconds[a] / gSeconds[b] : 0.0;
    };
    state.counters["export_vs_reglookup"] = ratio("export", "reglookup");
    state.counters["export_vs_hivex"] = ratio("export", "hivex");
    state.counters["import_vs_hivex_export"] = ratio("import", "hivex");
}

} // namespace

BENCHMARK(BM_ExportHiveV5)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ParseFileV5)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_ImportFileV5)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_ReglookupDump)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_HivexregeditExport)->Unit(benchmark::kMillisecond)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Ratios)->Iterations(1);

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (!gDir.empty())
        cleanup(); // while the registry engine is still alive
    return 0;
}
