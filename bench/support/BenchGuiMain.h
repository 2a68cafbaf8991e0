// The main of a benchmark program that needs a QApplication: offscreen
// unless the environment names a platform; the fixture is made before the
// first benchmark and freed after the last, while the application lives.
#pragma once

#include <QApplication>
#include <benchmark/benchmark.h>

#include <memory>

namespace vt::bench
{

template <class Fixture> int runGuiBenchmarks(int argc, char **argv, std::unique_ptr<Fixture> &fixture)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    fixture = std::make_unique<Fixture>();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fixture.reset();
    return 0;
}

} // namespace vt::bench
