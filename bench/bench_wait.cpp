// CPU used by an idle countdown: a wait that sees no events but its own ticks should sleep
// between them, not spin through the event queue.
#include "base/Wait.h"
#include "bench/BenchMain.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <chrono>
#include <ctime>

namespace {

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Five ticks of 100 ms with nothing else to do; reports CPU time as a share of wall time.
void BM_IdleWaitCpuShare(benchmark::State &state)
{
    quelmark::TWait wait;
    wait.SetInterval(100);
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        wait.SetCaption(QStringLiteral("5"));
        const double cpuStart = ProcessCpuSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        wait.Execute();
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        cpu += ProcessCpuSeconds() - cpuStart;
    }
    state.counters["cpu_share_percent"] = wall > 0 ? 100.0 * cpu / wall : 0;
    state.counters["wall_per_wait_ms"] = 1000.0 * wall / static_cast<double>(state.iterations());
}
BENCHMARK(BM_IdleWaitCpuShare)->Iterations(4)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    return quelmark::bench::RunBenchmarks(argc, argv);
}
