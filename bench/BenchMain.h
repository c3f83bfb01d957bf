// The main() of the benchmarks that need a Qt application object (event loops, child processes):
// runs the selected benchmarks, then `atEnd` while the application object still exists, so that
// fixtures holding Qt objects end before it.
#pragma once

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <functional>

inline int RunBenchmarksWithApplication(int argc, char** argv, const std::function<void()>& atEnd = {})
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (atEnd)
        atEnd();
    return 0;
}
