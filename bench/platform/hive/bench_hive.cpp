// Mounting a hive reads and walks it whole; unloading writes it whole.
// Reference: the 15.5 MB Windows 10 SYSTEM hive (43,211 keys, 90,307 values).
// Run: bench_hive --benchmark_min_time=0.5
#include "platform/hive/Regf.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

using namespace vt::hive;

namespace
{

std::string referenceHive()
{
    const char *env = std::getenv("VT_TESTDATA");
    return std::string(env && *env ? env : VT_TESTDATA_DIR) + "/hives/real/regipy/SYSTEM_WIN_10_1709";
}

const std::vector<uint8_t> &referenceBytes()
{
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream in(referenceHive(), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

size_t walk(const Key &k)
{
    size_t n = 1 + k.values.size();
    for (const Value &v : k.values)
        n += v.data.size() & 1;
    for (const auto &c : k.subkeys)
        n += walk(*c);
    return n;
}

void readAndWalkReferenceHive(benchmark::State &state)
{
    const auto &bytes = referenceBytes();
    if (bytes.empty()) {
        state.SkipWithError("reference hive not found");
        return;
    }
    for (auto _ : state) {
        Hive hive;
        if (readHive(bytes, hive) != ERROR_SUCCESS) {
            state.SkipWithError("reference hive refused");
            return;
        }
        benchmark::DoNotOptimize(walk(*hive.root));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(readAndWalkReferenceHive)->Unit(benchmark::kMillisecond);

void loadReferenceHiveFile(benchmark::State &state)
{
    for (auto _ : state) {
        Hive hive;
        if (loadHiveFile(referenceHive(), hive) != ERROR_SUCCESS) {
            state.SkipWithError("reference hive refused");
            return;
        }
        benchmark::DoNotOptimize(hive.root.get());
    }
}
BENCHMARK(loadReferenceHiveFile)->Unit(benchmark::kMillisecond);

void writeReferenceHive(benchmark::State &state)
{
    Hive hive;
    if (readHive(referenceBytes(), hive) != ERROR_SUCCESS) {
        state.SkipWithError("reference hive refused");
        return;
    }
    size_t size = 0;
    for (auto _ : state) {
        auto image = writeHive(hive);
        size = image.size();
        benchmark::DoNotOptimize(image.data());
    }
    state.counters["bytes"] = static_cast<double>(size);
}
BENCHMARK(writeReferenceHive)->Unit(benchmark::kMillisecond);

// One key with N subkeys: writing must stay linear in N.
void writeWideKey(benchmark::State &state)
{
    Hive hive;
    hive.root = std::make_unique<Key>();
    hive.root->name = "ROOT";
    const auto n = static_cast<size_t>(state.range(0));
    for (size_t i = 0; i < n; ++i) {
        auto k = std::make_unique<Key>();
        k->name = "Subkey" + std::to_string(1000000 + i);
        k->upperName = upperName(k->name);
        k->parent = hive.root.get();
        hive.root->subkeys.push_back(std::move(k));
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(writeHive(hive).size());
    state.SetComplexityN(state.range(0));
}
BENCHMARK(writeWideKey)->RangeMultiplier(4)->Range(1 << 12, 1 << 18)->Complexity()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
