// The steering worker, its supervision by main, and the end-of-process shutdown.
#pragma once

#include <cstdint>

namespace qx {

// The thread parameter of one worker run, allocated zero-filled by main for
// each start and freed by main after the thread has ended.
struct WorkerStartBlock {
    int32_t Result;
};

// The worker thread's entry; its result is the thread's exit code.
uint32_t SteeringThreadMain(void* start_block);

// Shuts the controller down and closes the daemon's channels; no result.
void ShutdownController();

// ShutdownController, free the interface-name buffer, end the process with
// code 0. Runs once: a second caller (main's exit path racing the console
// handler) waits here until the first has ended the process.
[[noreturn]] void ExitDaemon();

// True once a worker run has started in this process.
bool WorkerEverStarted();

}  // namespace qx
