#include "daemon/core/power_events.h"

#include <atomic>

#include "daemon/core/logging.h"
#include "daemon/core/os_console.h"
#include "daemon/core/os_process.h"
#include "daemon/core/steering_context.h"
#include "daemon/core/worker.h"

namespace qx {

namespace {
// Written by main before the window thread starts, only read afterwards.
SessionEndHandler g_session_end = nullptr;
// Main's worker state, which the handlers wake and shut down; written by main
// before any handler is installed.
std::atomic<WorkerState*> g_handler_state{nullptr};

WorkerState* HandlerState() {
    return g_handler_state.load(std::memory_order_relaxed);
}
}  // namespace

void AttachEventHandlers(WorkerState* state) {
    g_handler_state.store(state, std::memory_order_relaxed);
}

int32_t PowerCodeForBroadcast(uintptr_t wparam) {
    switch (wparam) {
        case 4:
            return kPowerSuspend;
        case 7:
        case 18:
            return kPowerResume;
        default:
            return 0;
    }
}

int32_t OnPowerEvent(int32_t event) {
    if (event == kPowerSuspend) {
        Put(SteeringContext.Running, 0);
        Put(SteeringContext.Suspended, 1);
        // A worker asleep in a long period (20 s with the link down) would
        // otherwise hold the controller past the resume.
        if (HandlerState() != nullptr) WakeSteeringWorker(*HandlerState());
        LogMessage(0, "QUELLIX: Suspending.\n");
    } else if (event == 7 || event == kPowerResume) {
        Put(SteeringContext.Running, 0);
        Put(SteeringContext.Suspended, 0);
        if (HandlerState() != nullptr) WakeSteeringWorker(*HandlerState());
        LogMessage(0, "QUELLIX: Waking up.\n");
    }
    return 1;
}

int ConsoleControlHandler(uint32_t ctrl_type) {
    switch (ctrl_type) {
        case os::kCtrlC:
        case os::kCtrlBreak:
        case os::kCtrlShutdown:
            // Without main's state (nothing to shut down) the next handler
            // ends the process.
            if (HandlerState() == nullptr) return 0;
            Put(SteeringContext.ShutdownRequested, 1);
            ExitDaemon(*HandlerState());
        default:
            return 0;
    }
}

void SetSessionEndHandler(SessionEndHandler handler) {
    g_session_end = handler;
}

bool AnswerQueryEndSession() {
    return true;
}

void OnEndSessionMessage(bool ending) {
    if (ending && g_session_end != nullptr) g_session_end();
}

void OnSessionEnd() {
    // The same way out as a console shutdown event, which Windows does not
    // deliver to a process that has loaded user32.
    Put(SteeringContext.ShutdownRequested, 1);
    WorkerState* state = HandlerState();
    if (state == nullptr) os::ExitProcess(0);  // nothing of ours to shut down
    ExitDaemon(*state);
}

}  // namespace qx
