// Building and closing one link-report frame: the per-cycle cost of the codec.
// Goal: at most 300 instructions per frame, held by ctest's bench entry
// (tests/bench/callgrind_per_call.sh). The iterations are fixed so that the
// calls are known: the collected instructions divided by them are the cost.
#include <benchmark/benchmark.h>

#include "daemon/controller/commands.h"

namespace {

void BM_LinkReportFrame(benchmark::State& state) {
    qx::FrameBuffer wr_buf;
    qx::LinkReportEntry entry = {};
    entry.NewBssid = 1;
    entry.Traffic = 300;
    entry.Rssi0 = 0xC8;
    entry.Rssi1 = 0xA0;
    uint64_t ts = 1765100000000ull;
    for (auto _ : state) {
        int32_t len = qx::LinkReport(wr_buf, ts, entry);
        benchmark::DoNotOptimize(len);
        benchmark::DoNotOptimize(wr_buf);
        ts += 250;
    }
}
BENCHMARK(BM_LinkReportFrame)->Iterations(100000);

// Every escapable byte present: time stamp, traffic and RSSI of 7D/7E/81.
void BM_LinkReportFrameEscaped(benchmark::State& state) {
    qx::FrameBuffer wr_buf;
    qx::LinkReportEntry entry = {};
    entry.Traffic = 0x7D7E;
    entry.Rssi0 = 0x81;
    entry.Rssi1 = 0x7E;
    for (auto _ : state) {
        int32_t len = qx::LinkReport(wr_buf, 0x817E7D7Eull, entry);
        benchmark::DoNotOptimize(len);
        benchmark::DoNotOptimize(wr_buf);
    }
}
BENCHMARK(BM_LinkReportFrameEscaped)->Iterations(100000);

}  // namespace

BENCHMARK_MAIN();
