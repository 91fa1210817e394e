// OS seam: the hidden top-level window "QXEVENTMON", on a thread of its own,
// that receives the system's power broadcasts and the end of the session.
// Windows delivers both to top-level windows only. The halves translate the
// messages; what they mean to the daemon is decided by the handlers.
//
// On Windows a window class, CreateWindowExW and a message loop on a thread
// of _beginthreadex; on the virtual notebook the power model's message queue.
// The display state of modern standby comes another way: os_power.h.
#pragma once

#include <cstdint>

namespace qx::os {

// Called on the window thread.
struct PowerWindowHandlers {
    // WM_POWERBROADCAST, with its wParam.
    void (*power_broadcast)(uintptr_t wparam);
    // WM_QUERYENDSESSION: true lets the session end.
    bool (*query_end_session)();
    // WM_ENDSESSION: wParam TRUE as ending, ENDSESSION_LOGOFF in lParam as logoff.
    void (*end_session)(bool ending, bool logoff);
};

// Allocates the monitor and starts the window thread, which then creates the
// window (when that fails the thread only waits for its quit). Loading the
// window machinery makes this a user32 process: from then on Windows tells it
// of the session end through its windows only. False when the monitor could
// not be allocated; the handlers must be set before.
bool StartPowerWindow(const PowerWindowHandlers& handlers);
// Waits for the thread's window attempt, closes the window (or ends the
// thread when there is none), waits for the thread and frees the monitor.
// Nothing when no window thread is running.
void StopPowerWindow();

}  // namespace qx::os
