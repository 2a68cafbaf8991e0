// Replace in a value's text and a regular expression over long data: the
// cost per byte should stay flat from 16 KB to 16 MB (the largest value the
// replace takes). A value of 1.6 MB with an occurrence every 8 bytes took
// 33 s when each replacement moved the rest of the text.
//
//   cmake --build build --target bench_replace && build/bench/search/bench_replace

#include "search/CompareRules.h"
#include "search/SearchResults.h"

#include <benchmark/benchmark.h>

#include <string>

namespace
{

std::string textOf(size_t bytes)
{
    std::string text;
    text.reserve(bytes);
    while (text.size() < bytes)
        text += "abcRunX ";
    text.resize(bytes);
    return text;
}

void BM_ReplaceInText(benchmark::State &state)
{
    const std::string text = textOf(size_t(state.range(0)));
    int count = 0;
    for (auto _ : state) {
        bool gaveUp = false;
        benchmark::DoNotOptimize(vt::search::ReplaceInText(text, "run", "Start", true, count, gaveUp));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// A pattern that backtracks over the whole text: the engine's stack grows
// with the data rather than giving up.
void BM_RegExprLongData(benchmark::State &state)
{
    std::string text;
    for (int64_t i = 0; i < state.range(0); ++i)
        text += i % 2 ? 'b' : 'a';
    text += 'c';
    vt::search::TPattern pattern("^(a|b)*c$", vt::search::csRegExpr, false);
    for (auto _ : state)
        if (!pattern.Match(text))
            state.SkipWithError("no match");
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

BENCHMARK(BM_ReplaceInText)
    ->Arg(16 << 10)
    ->Arg(160 << 10)
    ->Arg(1600 << 10)
    ->Arg(16 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RegExprLongData)->Arg(2 << 10)->Arg(64 << 10)->Arg(1 << 20)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
