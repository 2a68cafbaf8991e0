// Text forms of large values and the accessor's walk over a key tree, the
// two costs a search over the whole registry pays per value.
#include "core/kltRegTools.h"
#include "core/kltRegistry.h"
#include "core/zoStrings.h"
#include "platform/vtPlatform.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

namespace
{

void BM_FormatHexBytes(benchmark::State &state)
{
    const TRegByteArray data(size_t(state.range(0)), 0xA5);
    for (auto _ : state)
        benchmark::DoNotOptimize(FormatHexBytes(data));
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_FormatHexBytes)->Range(64, 1 << 20);

void BM_SearchableMultiString(benchmark::State &state)
{
    std::string raw;
    while (raw.size() < size_t(state.range(0)))
        raw += std::string("C:\\Windows\\System32\\driver.sys\0", 31);
    const auto *p = reinterpret_cast<const uint8_t *>(raw.data());
    for (auto _ : state) {
        bool ok;
        benchmark::DoNotOptimize(ValueDisplayText(rdMultiString, p, raw.size(), ok));
        benchmark::DoNotOptimize(SearchableDataText(rdMultiString, p, raw.size()));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(raw.size()));
}
BENCHMARK(BM_SearchableMultiString)->Range(1 << 10, 1 << 20);

void BM_ParseAndFormatNumbers(benchmark::State &state)
{
    uint32_t v = 1;
    for (auto _ : state) {
        v = v * 1664525u + 1013904223u;
        benchmark::DoNotOptimize(ParseNumberText32(FormatDWordText(v)));
        benchmark::DoNotOptimize(ParseNumberText(FormatQWordText(int64_t(v) << 20)));
    }
}
BENCHMARK(BM_ParseAndFormatNumbers);

// A tree of 500 keys with 10 values each, walked the way a search walks it:
// names, then every value's data as searchable text.
class Walk : public benchmark::Fixture
{
public:
    void SetUp(benchmark::State &) override
    {
        std::random_device rd;
        m_dir = std::filesystem::temp_directory_path() / ("vt-bench-core-" + std::to_string(rd()));
        vt::platform::SystemOptions options;
        options.root = m_dir.string();
        vt::platform::openSystem(options);
        TMyRegistry reg;
        for (int k = 0; k < 500; ++k) {
            reg.OpenKey("\\Software\\VtBench\\Key" + std::to_string(k), true);
            for (int v = 0; v < 10; ++v) {
                const std::string name = "Value" + std::to_string(v);
                if (v % 3 == 0)
                    reg.WriteString(name, "some text for value " + std::to_string(v));
                else if (v % 3 == 1)
                    reg.WriteInteger(name, v * k);
                else {
                    const TRegByteArray data(64, uint8_t(v));
                    reg.WriteBinaryData(name, data.data(), int32_t(data.size()));
                }
            }
        }
    }
    void TearDown(benchmark::State &) override
    {
        vt::platform::closeSystem();
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

private:
    std::filesystem::path m_dir;
};

BENCHMARK_F(Walk, KeysValuesAndData)(benchmark::State &state)
{
    int64_t values = 0;
    for (auto _ : state) {
        TMyRegistry top;
        top.OpenKeyReadOnly("\\Software\\VtBench");
        std::vector<std::string> keys, names;
        top.GetKeyNames(keys);
        for (const std::string &key : keys) {
            TMyRegistry reg;
            if (!reg.OpenKeyReadOnly("\\Software\\VtBench\\" + key))
                continue;
            reg.GetValueNames(names);
            for (const std::string &name : names) {
                benchmark::DoNotOptimize(reg.ReadDataAsText(name));
                ++values;
            }
        }
    }
    state.SetItemsProcessed(values);
}

} // namespace

BENCHMARK_MAIN();
