#include "daemon/core/power_events.h"

#include <atomic>

#include "daemon/base/logging.h"
#include "daemon/base/os_console.h"
#include "daemon/core/os_power.h"
#include "daemon/core/os_power_window.h"
#include "daemon/base/os_process.h"
#include "daemon/base/daemon_state.h"
#include "daemon/core/worker.h"

namespace qx {

namespace {
// Written by main before the window thread starts, only read afterwards.
SessionEndHandler g_session_end = nullptr;
// Written by qx_winevent_init before the window thread starts, read on it.
PowerCallbackFn g_power_callback = nullptr;
// Main's worker state, which the handlers wake and shut down; written by main
// before any handler is installed.
std::atomic<WorkerState*> g_handler_state{nullptr};

WorkerState* HandlerState() {
    return g_handler_state.load(std::memory_order_relaxed);
}

// Why the daemon stands aside: the display off in modern standby, a suspend
// broadcast not yet followed by its resume, or both. The broadcast thread
// and the power manager's thread each change their own bit; the one that
// finds the other bit clear acts.
constexpr uint8_t kDisplayOffCause = 1;
constexpr uint8_t kBroadcastCause = 2;
std::atomic<uint8_t> g_sleep_causes{0};

// Running cleared, Suspended set, the message, then the worker's wake: the
// message comes before the worker's own "Ended" however threads are scheduled.
// Main, waiting while the machine sleeps, is told to look again.
void StandAside() {
    Put(SteeringContext.Running, 0);
    Put(SteeringContext.Suspended, 1);
    LogMessage(0, "QUELLIX: Suspending.\n");
    // A worker asleep in a long period (20 s with the link down) would
    // otherwise hold the controller past the resume.
    if (WorkerState* state = HandlerState()) {
        WakeSteeringWorker(*state);
        state->PowerChanged.Set();
    }
}

void WakeUp() {
    Put(SteeringContext.Running, 0);
    Put(SteeringContext.Suspended, 0);
    LogMessage(0, "QUELLIX: Waking up.\n");
    if (WorkerState* state = HandlerState()) {
        WakeSteeringWorker(*state);
        state->PowerChanged.Set();
    }
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
        const uint8_t before = g_sleep_causes.fetch_or(kBroadcastCause, std::memory_order_acq_rel);
        if ((before & kDisplayOffCause) == 0) StandAside();
    } else if (event == 7 || event == kPowerResume) {
        const uint8_t before = g_sleep_causes.fetch_and(static_cast<uint8_t>(~kBroadcastCause),
                                                        std::memory_order_acq_rel);
        if ((before & kDisplayOffCause) == 0) WakeUp();
    }
    return 1;
}

void OnDisplayState(uint32_t state) {
    if (state == os::kDisplayOff) {
        const uint8_t before = g_sleep_causes.fetch_or(kDisplayOffCause, std::memory_order_acq_rel);
        if (before == 0) StandAside();
    } else if (state == os::kDisplayOn || state == os::kDisplayDimmed) {
        const uint8_t before = g_sleep_causes.fetch_and(static_cast<uint8_t>(~kDisplayOffCause),
                                                        std::memory_order_acq_rel);
        if (before == kDisplayOffCause) {
            WakeUp();
        } else if ((before & kDisplayOffCause) != 0 && HandlerState() != nullptr) {
            // Still asleep for a suspend broadcast: main goes back to its steps.
            HandlerState()->PowerChanged.Set();
        }
    }
}

bool InModernStandby() {
    return (g_sleep_causes.load(std::memory_order_acquire) & kDisplayOffCause) != 0;
}

bool FollowModernStandby() {
    return os::ModernStandbySupported() && os::FollowConsoleDisplay(OnDisplayState);
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

void OnEndSessionMessage(bool ending, bool logoff) {
    if (ending && !logoff && g_session_end != nullptr) g_session_end();
}

namespace {
void OnPowerBroadcast(uintptr_t wparam) {
    int32_t code = PowerCodeForBroadcast(wparam);
    if (code != 0 && g_power_callback != nullptr) g_power_callback(code);
}
}  // namespace

void OnSessionEnd() {
    // The same way out as a console shutdown event, which Windows does not
    // deliver to a process that has loaded user32.
    Put(SteeringContext.ShutdownRequested, 1);
    WorkerState* state = HandlerState();
    if (state == nullptr) os::ExitProcess(0);  // nothing of ours to shut down
    ExitDaemon(*state);
}

}  // namespace qx

int qx_winevent_init(qx::PowerCallbackFn callback) {
    qx::g_power_callback = callback;
    const qx::os::PowerWindowHandlers handlers = {qx::OnPowerBroadcast, qx::AnswerQueryEndSession,
                                                  qx::OnEndSessionMessage};
    return qx::os::StartPowerWindow(handlers) ? 1 : 0;
}

int qx_winevent_cleanup(void) {
    qx::os::StopPowerWindow();
    return 1;
}
