#include "daemon/core/worker.h"

#include <atomic>
#include <cstring>

#include "daemon/controller/commands.h"
#include "daemon/controller/peer_table.h"
#include "daemon/base/logging.h"
#include "daemon/base/os_process.h"
#include "daemon/base/os_thread.h"
#include "daemon/base/daemon_state.h"
#include "daemon/core/settings.h"
#include "daemon/base/telemetry.h"
#include "daemon/core/version.h"
#include "daemon/transport/transport.h"
#include "daemon/wifi/wlan_monitor.h"

namespace qx {

namespace {

bool TakeController(WorkerState& state, uint32_t ms) {
    return state.ControllerFree.Wait(ms);
}

void ReleaseController(WorkerState& state) {
    // Without its event (none could be created at start-up) there is no
    // ownership to hand back: the owner's Set does nothing then.
    state.ControllerFree.Set();
}

// A suspend or a shutdown arrived: the run must not go on into steering.
bool StopRequested() {
    return Get(SteeringContext.ShutdownRequested) != 0 || Get(SteeringContext.Suspended) != 0;
}

// The end of the process is under way (console event, session end, main's exit path).
bool ExitUnderway(const WorkerState& state) {
    return state.Exiting.load(std::memory_order_relaxed) ||
           Get(SteeringContext.ShutdownRequested) != 0;
}

// The run is over: a shutdown, or a power event cleared Running.
bool RunOver(const WorkerState& state) {
    return ExitUnderway(state) || StopRequested() || Get(SteeringContext.Running) == 0;
}

// A stop of the run that is no fault of the controller: the end of the
// process, a suspend or the machine going to standby.
bool RunStopped(const WorkerState& state) {
    return ExitUnderway(state) || StopRequested();
}

// Plug and Play starts the driver's device a while after the node's enable,
// and a slow start takes longer than the node reset's pause. An open that
// finds no device yet is tried again this often, until this long after the
// first attempt (10 s: far beyond a healthy start, short enough that a
// device that never comes still ends supervision in a minute).
constexpr uint32_t kDeviceStartPollMs = 100;
constexpr uint32_t kDeviceStartWaitMs = 10000;

// The cycle's sleep: ends early at any wake (shutdown, suspend or resume,
// link back). The next cycle then looks at the flags again.
void WorkerSleep(WorkerState& state, uint32_t ms) {
    if (ms == 0 || ExitUnderway(state)) {
        os::SleepMs(0);  // a zero period still lets the other threads run
    } else if (state.Wake) {
        state.Wake.Wait(ms);
    } else {
        os::SleepMs(ms);
    }
}

// A pause that only `ends` may cut short (the node reset's pauses end only
// for the shutdown, the pause after a failed report also for a suspend). A
// wake for another cause (the link back) is handed on to the cycle's sleep
// when `hand_on`; before the first cycle it is of no use.
void WorkerPause(WorkerState& state, uint32_t ms, bool (*ends)(const WorkerState&), bool hand_on) {
    const uint64_t deadline = os::TickMs() + ms;
    bool handed_on = false;
    for (;;) {
        if (ends(state)) break;
        const uint64_t now = os::TickMs();
        if (now >= deadline) break;
        const auto left = static_cast<uint32_t>(deadline - now);
        if (!state.Wake) {
            os::SleepMs(left);
            break;
        }
        if (!state.Wake.Wait(left)) break;
        handed_on = true;
    }
    if (handed_on && hand_on) state.Wake.Set();
}

}  // namespace

void WakeSteeringWorker(WorkerState& state) {
    state.Wake.Set();
}

void ConnectWorker(WorkerState& state, WlanMonitor& wlan) {
    state.Wlan = &wlan;
    wlan.WakeWorker = [](void* context) {
        WakeSteeringWorker(*static_cast<WorkerState*>(context));
    };
    wlan.WakeContext = &state;
}

bool LastRunFailedEarly(const WorkerState& state) {
    return state.RunFailedEarly.load(std::memory_order_relaxed);
}

bool WorkerEverStarted(const WorkerState& state) {
    return state.Started.load(std::memory_order_relaxed);
}

uint32_t IdlePeriodMs(int32_t update_period_ms) {
    if (update_period_ms <= 0) return 0;
    const uint64_t idle = static_cast<uint64_t>(update_period_ms) * IdleLatencyMultiplier;
    return idle >= os::kWaitForever ? os::kWaitForever - 1 : static_cast<uint32_t>(idle);
}

int32_t InitController(WorkerState* waits_for_device) {
    const ControllerConfig config{ControllerMode,
                                  DaemonSettings.SteeringMode,
                                  DaemonSettings.WLimit,
                                  DaemonSettings.SLimit,
                                  1,
                                  DaemonSettings.AntennaChainConfig,
                                  DaemonSettings.MSwitch};
    TransportClose();
    bool absent = false;
    int opened = TransportOpen(&absent);
    if (opened < 0 && waits_for_device != nullptr) {
        WorkerState& state = *waits_for_device;
        const uint64_t deadline = os::TickMs() + kDeviceStartWaitMs;
        while (opened < 0 && absent && !RunStopped(state) && os::TickMs() < deadline) {
            WorkerPause(state, kDeviceStartPollMs, RunStopped, false);
            if (RunStopped(state)) break;
            opened = TransportOpen(&absent);
        }
    }
    if (opened < 0) {
        LogMessage(0, "QUELLIX: Unable to open driver/hardware interface.\n");
        return -5;
    }
    uint8_t fwrev[3] = {0, 0, 0};
    if (SetupController(config, fwrev) < 0) {
        LogMessage(0, "QUELLIX: Unable to init Veltrane hardware.\n");
        if (DaemonSettings.ForceLoad == 0) return -6;
    }
    if (Get(SteeringContext.StartCount) == 0 || Verbosity() > 0) {
        LogAlways("QUELLIX: Veltrane Controller (%d.%d.%d).\n", fwrev[0], fwrev[1], fwrev[2]);
    }
    return 0;
}

int32_t RunSteeringWorker(WorkerState& state) {
    SteeringContextT& ctx = SteeringContext;
    WlanMonitor& wlan = *state.Wlan;
    state.RunFailedEarly.store(true, std::memory_order_relaxed);
    auto* cycle = static_cast<PeerRecord*>(os::HeapAllocZeroed(sizeof(PeerRecord)));
    if (cycle != nullptr) {
        bool ready = true;
        if (Get(ctx.StartCount) == 0 || Get(ctx.Running) == 0) {
            if (StopRequested()) {
                ready = false;
                state.RunFailedEarly.store(false, std::memory_order_relaxed);
            } else if (InitController(&state) < 0) {
                ready = false;
                if (RunStopped(state)) {
                    // Stopped while it waited for the device: no failure of the controller.
                    state.RunFailedEarly.store(false, std::memory_order_relaxed);
                } else {
                    LogMessage(0, "QUELLIX: Unable to initialize the Veltrane controller.\n");
                    ctx.InitFailures.fetch_add(1, std::memory_order_relaxed);
                }
            } else {
                // Only failures in a row end supervision: a controller that
                // was set up again cures what went before (a silent spell
                // during one resume must not count against the next day's).
                Put(ctx.InitFailures, 0);
                state.RunFailedEarly.store(false, std::memory_order_relaxed);
                if (StopRequested()) {
                    // The set-up took long enough for a suspend or shutdown to arrive.
                    ready = false;
                } else {
                    Put(ctx.Running, 1);
                }
            }
        } else {
            state.RunFailedEarly.store(false, std::memory_order_relaxed);
        }
        if (ready) {
            uint16_t last_tag = 0;
            // The access point of the last report: a roam is news for the
            // controller even when the byte delta happens to repeat.
            uint8_t last_peer[6] = {};
            bool reported = false;
            bool bus_stuck = false;
            int32_t purge_counter = 0, health_counter = 0, updates_ok = 0, update_errors = 0;
            if (Get(ctx.StartCount) == 0 || Verbosity() > 0) {
                LogAlways("QUELLIX: Veltrane %s Started.\n", QX_DAEMON_VERSION);
            }
            ctx.StartCount.fetch_add(1, std::memory_order_relaxed);
            // Running alone could be set again by a late store; the two
            // request flags close that window.
            while (Get(ctx.Running) != 0 && !StopRequested()) {
                RefreshInterface(wlan);
                uint32_t period_ms;
                if (RunLinkStep(wlan, OnPeerStats) < 0) {
                    period_ms = IdlePeriodMs(5000);
                } else {
                    period_ms = static_cast<uint32_t>(Get(ctx.UpdatePeriodMs));
                }
                if (ControllerMode == 1 && TakeCycleStats(ctx.AdapterMac, cycle) >= 0) {
                    // Only a current access point is news: with every record
                    // stale (the link lost) the one taken may be the old
                    // access point's, frozen since the roam, and reporting it
                    // would tell the controller of a roam back to it.
                    const bool current = cycle->Stale == 0;
                    const bool roamed = reported && std::memcmp(cycle->PeerMac, last_peer, 6) != 0;
                    if (cycle->Updated != 0 && current &&
                        (cycle->Stats.RxDeltaTag != last_tag || roamed)) {
                        last_tag = cycle->Stats.RxDeltaTag;
                        std::memcpy(last_peer, cycle->PeerMac, 6);
                        reported = true;
                        cycle->Updated = 0;
                        UpdateInProgress.store(1, std::memory_order_relaxed);
                        if (SteeringUpdate(cycle, DaemonSettings.DebugMask,
                                           DaemonSettings.TestMode) < 0) {
                            ++update_errors;
                            // The bus kept a cancelled transfer: nothing gets
                            // through any more, so the run ends at once, as
                            // after a failed series, for the next run's node reset.
                            bus_stuck = TransportStuck();
                            if (!bus_stuck) WorkerPause(state, 2000, RunOver, true);
                        } else {
                            ++updates_ok;
                        }
                        UpdateInProgress.store(0, std::memory_order_relaxed);
                    } else {
                        period_ms = IdlePeriodMs(Get(ctx.UpdatePeriodMs));
                    }
                }
                if (purge_counter > 100) {
                    PurgePeers(false);  // the table keeps PeerCount in step itself
                    purge_counter = 0;
                } else {
                    ++purge_counter;
                }
                if (health_counter == 25) {
                    LogMessage(2, "\nQUELLIX: Health Check. Status %d.%d.%d.%d\n", updates_ok,
                               update_errors, Get(ctx.StartCount), static_cast<int32_t>(period_ms));
                    health_counter = 0;
                } else {
                    ++health_counter;
                }
                if (update_errors > 100 || bus_stuck) {
                    LogMessage(2, "\nQUELLIX: Resetting controller due to excessive errors %d\n",
                               update_errors);
                    break;
                }
                WorkerSleep(state, period_ms);
            }
        }
        os::HeapFreeBlock(cycle);
    }
    PurgePeers(true);
    TransportClose();
    LogMessage(0, "QUELLIX: Veltrane Ended.\n");
    Put(ctx.Running, 0);
    return -1;
}

uint32_t SteeringThreadMain(void* launch) {
    WorkerStartBlock* block = static_cast<WorkerLaunch*>(launch)->Block;
    WorkerState& state = *static_cast<WorkerLaunch*>(launch)->State;
    if (!os::StdoutIsValid()) return 1;
    TakeController(state, os::kWaitForever);
    if (Get(SteeringContext.ShutdownRequested) != 0) {
        // The shutdown is on its way; it owns the controller from here.
        ReleaseController(state);
        block->Result = -1;
        return static_cast<uint32_t>(-1);
    }
    state.Started.store(true, std::memory_order_relaxed);
    // Every run starts with a power cycle of the controller's device node;
    // its pauses end early only for the shutdown. A wake left from the
    // previous run (the link back while none ran), or one during the reset,
    // is of no use before the first cycle: the pauses take it and hand it on
    // to nobody, so that it cannot cut this run's first sleep short.
    DisableControllerNode(false);
    WorkerPause(state, 500, ExitUnderway, false);
    EnableControllerNode(false);
    WorkerPause(state, 500, ExitUnderway, false);
    block->Result = RunSteeringWorker(state);
    block->FailedEarly = LastRunFailedEarly(state) ? 1 : 0;
    ReleaseController(state);
    return static_cast<uint32_t>(block->Result);
}

void ShutdownController(WorkerState& state) {
    Put(SteeringContext.Running, 0);
    bool controller_is_ours = true;
    if (WorkerEverStarted(state)) {
        // Wake a sleeping worker and let it leave the controller; a worker
        // stuck in a long set-up is not raced: then nothing of its is touched.
        WakeSteeringWorker(state);
        controller_is_ours = TakeController(state, kShutdownWaitMs);
        if (controller_is_ours) {
            InitController();
            PurgePeers(true);
            TransportClose();
        }
    }
    // Without a worker in this process the controller is left alone: opening
    // it here would only cut the bus connection of a daemon that owns it
    // (closing any handle closes the bus for all).
    // InitWlan opens the telemetry endpoint, the WLAN client and the provider
    // on main's thread; a Ctrl+C during the start-up must not close them under
    // it. If InitWlan does not return in time, they are left to the process end.
    const bool wlan_is_ours = !state.WlanFree || state.WlanFree.Wait(kShutdownWaitMs);
    if (wlan_is_ours) CloseTelemetry();
    if (controller_is_ours && wlan_is_ours && state.Wlan != nullptr) {
        CloseWlanSource(*state.Wlan);
    }
    LogAlways("QUELLIX: Veltrane Exited.");
}

void ExitDaemon(WorkerState& state) {
    if (state.Exiting.exchange(true)) {
        // A second way out (a console event racing the session end or main's
        // exit path) waits here for the first to end the process.
        for (;;) os::SleepMs(os::kWaitForever - 1);
    }
    ShutdownController(state);
    os::HeapFreeBlock(DaemonSettings.InterfaceName);
    DaemonSettings.InterfaceName = nullptr;
    os::ExitProcess(0);
}

int InitWlanGuarded(WorkerState& state, const char* driver_interface) {
    if (state.WlanFree) state.WlanFree.Wait(os::kWaitForever);
    const int rc = InitWlan(*state.Wlan, driver_interface);
    // Handed back only here: the shutdown, once it has it, keeps it.
    state.WlanFree.Set();
    return rc;
}

}  // namespace qx
