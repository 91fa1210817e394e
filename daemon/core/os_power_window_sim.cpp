// The hidden power window on the virtual notebook: the same monitor life
// cycle as on Windows, with the notebook's message queue.
#include <memory>

#include "daemon/core/os_power_window.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/power_model.h"
#include "sim/vkernel.h"

namespace {

struct PowerEventMonitor {
    bool window = false;
    qxsim::Event ready{true, false};
    std::shared_ptr<qxsim::ThreadHandle> thread;
};

// Written before the window thread starts, only read on it.
qx::os::PowerWindowHandlers g_handlers = {};
PowerEventMonitor* g_monitor = nullptr;

uint32_t PowerWindowThread(PowerEventMonitor* monitor) {
    auto& power = qxsim::Notebook::Current().Power();
    monitor->window = power.CreateHiddenWindow();
    monitor->ready.Set();
    qxsim::WindowMessage msg;
    while (power.GetMessage(&msg)) {
        if (msg.message == qxsim::kWmQueryEndSession) {
            power.ReplyQueryEndSession(g_handlers.query_end_session());
        } else if (msg.message == qxsim::kWmEndSession) {
            g_handlers.end_session(msg.wparam != 0, (msg.lparam & qxsim::kEndSessionLogoff) != 0);
        } else if (msg.message == qxsim::kWmPowerBroadcast) {
            g_handlers.power_broadcast(msg.wparam);
        } else if (msg.message == qxsim::kWmClose) {
            // DefWindowProc destroys the window; WM_DESTROY posts the quit.
            power.DestroyHiddenWindow();
            power.PostMessage(qxsim::kWmQuit, 0);
        }
    }
    return 0;
}

}  // namespace

namespace qx::os {

bool StartPowerWindow(const PowerWindowHandlers& handlers) {
    qxsim::Notebook::Current().Console().SetUser32Loaded(true);
    auto* monitor = new PowerEventMonitor;
    g_handlers = handlers;
    g_monitor = monitor;
    monitor->thread = qxsim::Notebook::Current().Kernel().Spawn(
        "power-window", [monitor] { return PowerWindowThread(monitor); });
    return true;
}

void StopPowerWindow() {
    PowerEventMonitor* monitor = g_monitor;
    if (monitor == nullptr) return;
    g_monitor = nullptr;
    auto& kernel = qxsim::Notebook::Current().Kernel();
    kernel.Wait(monitor->ready, qxsim::kInfinite);
    auto& power = qxsim::Notebook::Current().Power();
    power.PostMessage(monitor->window ? qxsim::kWmClose : qxsim::kWmQuit, 0);
    kernel.Wait(*monitor->thread, qxsim::kInfinite);
    delete monitor;
}

}  // namespace qx::os
