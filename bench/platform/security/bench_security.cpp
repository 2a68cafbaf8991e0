// The access check runs on every key open; SDDL runs whenever the security
// tab shows a key. Run: bench_security --benchmark_min_time=0.2
#include "platform/security/SecurityDescriptor.h"

#include <benchmark/benchmark.h>

using namespace vt::security;

namespace
{

const Token kUser{"S-1-5-21-1004336348-1177238915-682003330-1001",
                  {"S-1-5-32-545", "S-1-1-0", "S-1-5-4", "S-1-2-1", "S-1-5-11", "S-1-5-15", "S-1-2-0"},
                  false};

// The Windows 10 SYSTEM root: twelve ACEs, the ones a standard user matches near the front.
const Bytes kMachineRoot = defaultMachineHiveDescriptor();

void accessCheckStringToken(benchmark::State &state)
{
    ACCESS_MASK granted = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(accessCheck(kMachineRoot, kUser, KEY_READ, granted));
}
BENCHMARK(accessCheckStringToken);

void accessCheckPreparedToken(benchmark::State &state)
{
    PreparedToken token(kUser);
    ACCESS_MASK granted = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(accessCheck(kMachineRoot, token, KEY_READ, granted));
}
BENCHMARK(accessCheckPreparedToken);

// A refused write walks every ACE.
void accessCheckDeniedWrite(benchmark::State &state)
{
    PreparedToken token(kUser);
    ACCESS_MASK granted = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(accessCheck(kMachineRoot, token, KEY_SET_VALUE, granted));
}
BENCHMARK(accessCheckDeniedWrite);

void accessCheckMaximumAllowed(benchmark::State &state)
{
    PreparedToken token(kUser);
    ACCESS_MASK granted = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(accessCheck(kMachineRoot, token, MAXIMUM_ALLOWED, granted));
}
BENCHMARK(accessCheckMaximumAllowed);

void inheritNewKey(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(inheritForNewKey(kMachineRoot, kUser));
}
BENCHMARK(inheritNewKey);

void toSddl(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(descriptorToSddl(kMachineRoot));
}
BENCHMARK(toSddl);

void fromSddl(benchmark::State &state)
{
    std::string text = descriptorToSddl(kMachineRoot);
    for (auto _ : state)
        benchmark::DoNotOptimize(descriptorFromSddl(text));
}
BENCHMARK(fromSddl);

} // namespace

BENCHMARK_MAIN();
