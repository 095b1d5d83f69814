// The main of every benchmark program: a QApplication for the widgets some of the measured
// code needs (headless unless a platform was chosen), then Google Benchmark.
#pragma once

#include <QApplication>

#include <benchmark/benchmark.h>

namespace quelmark::bench {

inline int RunBenchmarks(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace quelmark::bench
