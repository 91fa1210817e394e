// Power broadcasts (a hidden window on a thread of its own) and the console
// control handler.
#pragma once

#include <cstdint>

#include "daemon/base/export.h"

namespace qx {

// Event codes handed to the power callback.
constexpr int32_t kPowerSuspend = 4;  // PBT_APMSUSPEND
constexpr int32_t kPowerResume = 18;  // PBT_APMRESUMEAUTOMATIC, also for PBT_APMRESUMESUSPEND

using PowerCallbackFn = int32_t (*)(int32_t event);

struct WorkerState;

// The OS calls the power callback, the console handler and the session end
// without a context of ours, so main hands them its worker state here once,
// before it installs any of them (null lets go of it again).
void AttachEventHandlers(WorkerState* state);

// The daemon's power callback: stops the worker on suspend and on resume.
// While the machine is in modern standby it stood aside already: a suspend
// or resume broadcast then changes nothing (the display coming on is the
// resume).
int32_t OnPowerEvent(int32_t event);

// On a modern-standby notebook (no S3: the display going off is how it goes
// to sleep), follows the console display state. Where the machine has S3,
// or the registration does not exist (Wine), the suspend broadcasts alone
// tell the daemon. True when the display state is followed.
bool FollowModernStandby();
// The display-state handler: display off stands aside exactly as a suspend
// broadcast does, display on (or dimmed, which is on) wakes as a resume does.
// Only a change counts.
void OnDisplayState(uint32_t state);
// True while the display is off on a modern-standby notebook: the machine
// runs, so main waits for the display without polling.
bool InModernStandby();

// The console control handler: Ctrl+C, Ctrl+Break and shutdown end the daemon;
// other events go to the next handler.
int ConsoleControlHandler(uint32_t ctrl_type);

// The end of the Windows session (log-off, shutdown). Windows tells a process
// that has loaded user32 through its windows, never through the console
// handler: WM_QUERYENDSESSION, then WM_ENDSESSION.
using SessionEndHandler = void (*)();
// Set by main before qx_winevent_init; the window thread only reads it.
void SetSessionEndHandler(SessionEndHandler handler);
// The hidden window's answer to WM_QUERYENDSESSION: the daemon never holds
// the session up.
bool AnswerQueryEndSession();
// WM_ENDSESSION: with wParam TRUE (the session ends) runs the handler; with
// FALSE (someone vetoed, the session goes on) nothing happens. A log-off
// (ENDSESSION_LOGOFF in lParam) is left to the default handling, as a console
// log-off event is: only the end of the whole session runs the shutdown.
void OnEndSessionMessage(bool ending, bool logoff = false);
// The daemon's handler: the end-of-process shutdown of a console shutdown
// event (same messages, exit code 0, once only).
[[noreturn]] void OnSessionEnd();

// What the hidden window does with a WM_POWERBROADCAST: the code to hand to
// the callback, or 0 for none. wparam 4 gives 4; 7 and 18 give 18.
int32_t PowerCodeForBroadcast(uintptr_t wparam);

}  // namespace qx

// Starts the power-event window thread with the callback; 1 when the monitor
// was created, 0 when it could not be allocated.
QX_EXPORT int qx_winevent_init(qx::PowerCallbackFn callback);
// Closes the window, waits for its thread, frees the monitor; returns 1.
QX_EXPORT int qx_winevent_cleanup(void);
