// The steering worker, its supervision by main, and the end-of-process shutdown.
#pragma once

#include <cstdint>

#include "daemon/core/steering_context.h"

namespace qx {

// The thread parameter of one worker run, allocated zero-filled by main for
// each start and freed by main after the thread has ended.
struct WorkerStartBlock {
    int32_t Result;
    // 1 when the run ended for a failure before the controller was set up;
    // main then backs off instead of resetting the node every half second.
    int32_t FailedEarly;
};

// The worker thread's entry: device-node power cycle, then the steering run.
// Its result is the thread's exit code.
uint32_t SteeringThreadMain(void* start_block);

// Opens the channel and sets the controller up: 0, -5 (the channel failed to
// open) or -6 (set-up failed and -f is off).
int32_t InitController();

// One steering run: initialisation, the cycle, the end step. Returns -1.
int32_t RunSteeringWorker(SteeringContextT& context);

// Shuts the controller down and closes the daemon's channels.
void ShutdownController();

// ShutdownController, free the interface-name buffer, end the process with
// code 0. Runs once: a second caller (main's exit path racing the console
// handler) waits here until the first has ended the process.
[[noreturn]] void ExitDaemon();

// Creates what the workers and the shutdown share; main calls it once, before
// it installs the console handler.
void PrepareWorkerStart();

// InitWlan, holding off a shutdown from closing what InitWlan opens until it
// has returned (the shutdown waits for it at most kShutdownWaitMs).
int InitWlanGuarded(const char* driver_interface);

// Ends the worker's current sleep early (the link is back, a power event
// ended the run, the process is ending). Harmless when no worker runs.
void WakeSteeringWorker();

// Whether the last run ended for a failure before its controller was set up.
bool LastRunFailedEarly();

// True once a worker run has taken the controller in this process.
bool WorkerEverStarted();

// Sleep of the idle cycle: UpdatePeriodMs x IdleLatencyMultiplier, without
// overflow and always below INFINITE.
uint32_t IdlePeriodMs(int32_t update_period_ms);

// How long the shutdown waits for a running worker to leave the controller
// before it gives up the re-initialisation.
constexpr uint32_t kShutdownWaitMs = 5000;

}  // namespace qx
