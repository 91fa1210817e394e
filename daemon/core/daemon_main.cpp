#include "daemon/core/daemon_main.h"

#include <cstring>

#include "daemon/base/logging.h"
#include "daemon/base/os_console.h"
#include "daemon/base/os_process.h"
#include "daemon/base/os_thread.h"
#include "daemon/core/power_events.h"
#include "daemon/base/daemon_state.h"
#include "daemon/core/settings.h"
#include "daemon/core/version.h"
#include "daemon/core/worker.h"
#include "daemon/wifi/wlan_monitor.h"

namespace qx {

namespace {

constexpr uint32_t kQuickRestartPauseMs = 500;
// Runs that keep failing before they reach the controller wait twice as long
// each time, up to this: every run costs the controller a node power cycle.
constexpr uint32_t kMaxBackoffMs = 4000;

// While the machine sleeps (or the process is ending) no worker starts. After
// a suspend broadcast the machine really sleeps, and main looks every 500 ms
// as designed; in modern standby it runs, and every look would be a wake-up
// all night long, so main waits until a power event tells it to look again.
void WaitWhileAside(WorkerState& state) {
    for (;;) {
        // Reset before the flags are read: a change after the read sets it again.
        state.PowerChanged.Reset();
        if (Get(SteeringContext.Suspended) != 1 && Get(SteeringContext.ShutdownRequested) != 1)
            return;
        LogMessage(0, "QUELLIX: Start cancelled. System is entering sleep/suspend/shutdown.\n");
        const bool standby = InModernStandby() && Get(SteeringContext.ShutdownRequested) != 1;
        if (state.PowerChanged) {
            state.PowerChanged.Wait(standby ? os::kWaitForever : 500);
        } else {
            os::SleepMs(500);  // no event: the designed steps, also in standby
        }
    }
}

// Starts one worker after the other until the controller has failed to
// initialise four times in a row (a worker that cannot be started counts as
// such a failure).
void Supervise(WorkerState& state) {
    uint32_t backoff_ms = kQuickRestartPauseMs;
    for (;;) {
        WaitWhileAside(state);
        auto* block = static_cast<WorkerStartBlock*>(os::HeapAllocZeroed(sizeof(WorkerStartBlock)));
        WorkerLaunch launch{block, &state};
        os::UniqueThread worker;
        if (block != nullptr) worker = os::UniqueThread(SteeringThreadMain, &launch);
        if (!worker) {
            // A passing shortage of memory or threads at a restart (a resume,
            // a controller reset) must not end steering for good: a failed
            // start like any other.
            if (block != nullptr) os::HeapFreeBlock(block);
            LogAlways("QUELLIX: Unable to start steering process\n");
            const int32_t failures =
                SteeringContext.InitFailures.fetch_add(1, std::memory_order_relaxed) + 1;
            if (failures > 3) return;
            os::SleepMs(kQuickRestartPauseMs);
            continue;
        }
        const uint64_t started = os::TickMs();
        worker.reset();  // waits for the run to end, then closes the thread
        const bool failed_early = block->FailedEarly != 0;
        os::HeapFreeBlock(block);
        if (Get(SteeringContext.InitFailures) > 3) return;
        if (failed_early) {
            os::SleepMs(backoff_ms);
            backoff_ms = backoff_ms >= kMaxBackoffMs / 2 ? kMaxBackoffMs : backoff_ms * 2;
            continue;
        }
        backoff_ms = kQuickRestartPauseMs;
        // A run that ended at once (a wake-up between two resume broadcasts)
        // is restarted after a short pause, so that a persistent cause cannot
        // turn this loop into a busy one.
        if (os::TickMs() - started < kQuickRestartPauseMs) os::SleepMs(kQuickRestartPauseMs);
    }
}

}  // namespace

void QuellixMain(int argc, char** argv) {
    LogMessage(-1, "QUELLIX: Veltrane Service (%s)\n", QX_DAEMON_VERSION);
    // What the worker, the handlers and the shutdown share. This function
    // never returns, so they live as long as the process; the handlers get
    // them before any of them can run.
    WorkerState state;
    WlanMonitor wlan;
    ConnectWorker(state, wlan);
    AttachEventHandlers(&state);
    if (!os::InstallConsoleHandler(ConsoleControlHandler)) {
        LogMessage(0, "QUELLIX: Unable to initialize signal handler\n");
    }
    if (RegisterEventLogSource() < 0) {
        LogMessage(0, "QUELLIX: Unable to initialize event logging\n");
    }
    SetSessionEndHandler(OnSessionEnd);
    qx_winevent_init(OnPowerEvent);
    FollowModernStandby();
    std::strcpy(DaemonSettings.DriverInterface, "I2C");
    const char* program_name = ProgramNameOf(argc > 0 && argv[0] != nullptr ? argv[0] : "");
    Put(SteeringContext.StartCount, 0);
    Put(SteeringContext.InitFailures, 0);
    Put(SteeringContext.Running, 0);

    DaemonSettings.InterfaceName = static_cast<char*>(os::HeapAllocZeroed(kInterfaceNameSize));
    if (DaemonSettings.InterfaceName == nullptr) {
        // Nothing can be configured without it; leave through the usual exit path.
        DeregisterEventLogSource();
        ExitDaemon(state);
    }
    if (ParseDaemonOptions(argc, argv, DaemonSettings) != ParseOutcome::kRun) {
        PrintUsage(program_name);
    } else {
        std::strcpy(DaemonSettings.InterfaceName, "win32");
        std::memcpy(SteeringContext.InterfaceName, DaemonSettings.InterfaceName,
                    kInterfaceNameSize);
        if (InitWlanGuarded(state, DaemonSettings.DriverInterface) < 0) {
            LogAlways("QUELLIX: Unable to initialize wlan system.\n");
        } else {
            Supervise(state);
        }
    }
    DeregisterEventLogSource();
    ExitDaemon(state);
}

}  // namespace qx
