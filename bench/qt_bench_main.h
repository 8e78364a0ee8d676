// main() for benchmark programs that need a QApplication (widgets, fonts,
// timers); it runs on the offscreen platform unless the caller chose one.
#pragma once
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cstdlib>

#define KORVANE_QT_BENCHMARK_MAIN()                                                  \
  int main(int argc, char** argv) {                                                  \
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1); \
    QApplication app(argc, argv);                                                    \
    benchmark::Initialize(&argc, argv);                                              \
    benchmark::RunSpecifiedBenchmarks();                                             \
    benchmark::Shutdown();                                                           \
    return 0;                                                                        \
  }
