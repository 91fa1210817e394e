// One steady-state RunLinkStep on the virtual notebook, through the real
// provider selection and the Intel provider on the notebook's library model.
// Instructions per call:
//   valgrind --tool=callgrind --toggle-collect='qx::RunLinkStep*' linkstats_run_link_step_bench
// and divide the collected instructions by the 1000 iterations.
#include <benchmark/benchmark.h>

#include <cstring>

#include "daemon/controller/peer_table.h"
#include "daemon/base/daemon_state.h"
#include "daemon/wifi/wlan_monitor.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/vkernel.h"

namespace {

void BM_RunLinkStep(benchmark::State& state) {
    qxsim::Notebook::Current().Console().SetEcho(false);
    std::strcpy(qx::SteeringContext.InterfaceName, "win32");
    qx::WlanMonitor wlan;
    if (qx::InitWlan(wlan, "I2C") != 0) {
        state.SkipWithError("no provider on the notebook");
        return;
    }
    qx::RunLinkStep(wlan, qx::OnPeerStats);
    for (auto _ : state) {
        qxsim::Notebook::Current().Kernel().Sleep(100);  // the traffic counters move on
        int32_t rc = qx::RunLinkStep(wlan, qx::OnPeerStats);
        benchmark::DoNotOptimize(rc);
    }
    qx::CloseWlanSource(wlan);
}
BENCHMARK(BM_RunLinkStep)->Iterations(1000);

}  // namespace

BENCHMARK_MAIN();
