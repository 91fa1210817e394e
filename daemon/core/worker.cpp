#include "daemon/core/worker.h"

#include <atomic>

#include "daemon/core/logging.h"
#include "daemon/core/os_process.h"
#include "daemon/core/os_thread.h"
#include "daemon/core/settings.h"
#include "daemon/core/steering_context.h"

namespace qx {

namespace {
std::atomic<bool> g_worker_started{false};
std::atomic<bool> g_exiting{false};
}  // namespace

bool WorkerEverStarted() { return g_worker_started.load(std::memory_order_relaxed); }

// The steering cycle arrives with the controller protocol and the WLAN layer;
// until then a run counts as a failed controller initialisation, so that
// supervision ends after the fourth.
uint32_t SteeringThreadMain(void* start_block) {
    auto* block = static_cast<WorkerStartBlock*>(start_block);
    SteeringContext.InitFailures.fetch_add(1, std::memory_order_relaxed);
    block->Result = -1;
    return static_cast<uint32_t>(-1);
}

void ShutdownController() {
    Put(SteeringContext.Running, 0);
    // No worker ever opened the controller in this process: opening it here
    // would only cut the bus connection of a daemon that owns it (closing any
    // handle closes the bus for all), so the controller is left alone.
    LogAlways("QUELLIX: Veltrane Exited.");
}

void ExitDaemon() {
    if (g_exiting.exchange(true)) {
        for (;;) os::SleepMs(os::kWaitForever);
    }
    ShutdownController();
    os::HeapFreeBlock(DaemonSettings.InterfaceName);
    DaemonSettings.InterfaceName = nullptr;
    os::ExitProcess(0);
}

}  // namespace qx
