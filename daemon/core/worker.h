// The steering worker, its supervision by main, and the end-of-process shutdown.
#pragma once

#include <atomic>
#include <cstdint>

#include "daemon/base/os_thread.h"
#include "daemon/base/daemon_state.h"

namespace qx {

struct WlanMonitor;

// What the steering worker, main's supervision, the event handlers and the
// end-of-process shutdown share. Main owns the one instance for the life of
// the process and hands it to whom needs it; a test owns its own.
struct WorkerState {
    // The controller, its channel, the peer table and the provider belong to
    // one thread at a time: the worker for its whole run, or the shutdown at
    // the end. The ownership is a binary semaphore (an auto-reset event that
    // is set while nobody holds it), so that the shutdown can wait for it
    // with a time-out.
    os::UniqueEvent ControllerFree{false, true};
    // Ends the worker's sleep early: set by the shutdown, by a power event
    // that ends the run, and by the link coming back. Auto-reset: one wake
    // per cause.
    os::UniqueEvent Wake{false, false};
    // Set by every power event that stands the daemon aside or wakes it, so
    // that main, waiting while the machine sleeps, looks at the flags again.
    // Auto-reset: main resets it before it looks.
    os::UniqueEvent PowerChanged{false, false};
    // Held by main while InitWlan runs, so that a shutdown never closes the
    // WLAN client or the provider under it (same binary-semaphore form).
    os::UniqueEvent WlanFree{false, true};
    std::atomic<bool> Started{false};
    std::atomic<bool> Exiting{false};
    // Set by a run that ended for a failure before it had the controller set
    // up (no memory for its cycle record, a failed set-up); main backs off then.
    std::atomic<bool> RunFailedEarly{false};
    // The WLAN side the worker samples and the shutdown closes (see
    // ConnectWorker).
    WlanMonitor* Wlan = nullptr;
};

// Hands state the WLAN monitor and lets the monitor wake the worker when the
// link comes back.
void ConnectWorker(WorkerState& state, WlanMonitor& wlan);

// The thread parameter of one worker run, allocated zero-filled by main for
// each start and freed by main after the thread has ended.
struct WorkerStartBlock {
    int32_t Result;
    // 1 when the run ended for a failure before the controller was set up;
    // main then backs off instead of resetting the node every half second.
    int32_t FailedEarly;
};

// The worker thread's parameter: its start block and what it shares with main
// and the shutdown. Main keeps it until the thread has ended.
struct WorkerLaunch {
    WorkerStartBlock* Block;
    WorkerState* State;
};

// The worker thread's entry, given a WorkerLaunch: device-node power cycle,
// then the steering run. Its result is the thread's exit code.
uint32_t SteeringThreadMain(void* launch);

// Opens the channel and sets the controller up: 0, -5 (the channel failed to
// open) or -6 (set-up failed and -f is off). With the worker's state, an open
// that finds no device (it is still starting after the node's enable) is
// tried again for a while, until the run is stopped.
int32_t InitController(WorkerState* waits_for_device = nullptr);

// One steering run on state's WLAN monitor (state.Wlan must be set):
// initialisation, the cycle, the end step, following the flags of the
// process's SteeringContext. Returns -1.
int32_t RunSteeringWorker(WorkerState& state);

// Shuts the controller down and closes the daemon's channels.
void ShutdownController(WorkerState& state);

// ShutdownController, free the interface-name buffer, end the process with
// code 0. Runs once: a second caller (main's exit path racing the console
// handler) waits here until the first has ended the process.
[[noreturn]] void ExitDaemon(WorkerState& state);

// InitWlan on state's WLAN monitor, holding off a shutdown from closing what
// InitWlan opens until it has returned (the shutdown waits for it at most
// kShutdownWaitMs).
int InitWlanGuarded(WorkerState& state, const char* driver_interface);

// Ends the worker's current sleep early (the link is back, a power event
// ended the run, the process is ending). Harmless when no worker runs.
void WakeSteeringWorker(WorkerState& state);

// Whether the last run ended for a failure before its controller was set up.
bool LastRunFailedEarly(const WorkerState& state);

// True once a worker run has taken the controller in this process.
bool WorkerEverStarted(const WorkerState& state);

// Sleep of the idle cycle: UpdatePeriodMs x IdleLatencyMultiplier, without
// overflow and always below INFINITE.
uint32_t IdlePeriodMs(int32_t update_period_ms);

// How long the shutdown waits for a running worker to leave the controller
// before it gives up the re-initialisation.
constexpr uint32_t kShutdownWaitMs = 5000;

}  // namespace qx
