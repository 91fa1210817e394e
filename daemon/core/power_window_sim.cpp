// The hidden power window on the virtual notebook: the same monitor life
// cycle as on Windows, with the notebook's message queue.
#include <memory>

#include "daemon/core/power_events.h"
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

qx::PowerCallbackFn g_power_callback = nullptr;
PowerEventMonitor* g_monitor = nullptr;

uint32_t PowerWindowThread(PowerEventMonitor* monitor) {
    auto& power = qxsim::Notebook::Current().Power();
    monitor->window = power.CreateHiddenWindow();
    monitor->ready.Set();
    qxsim::WindowMessage msg;
    while (power.GetMessage(&msg)) {
        if (msg.message == qxsim::kWmQueryEndSession) {
            power.ReplyQueryEndSession(qx::AnswerQueryEndSession());
        } else if (msg.message == qxsim::kWmEndSession) {
            qx::OnEndSessionMessage(msg.wparam != 0, (msg.lparam & qxsim::kEndSessionLogoff) != 0);
        } else if (msg.message == qxsim::kWmPowerBroadcast) {
            int32_t code = qx::PowerCodeForBroadcast(msg.wparam);
            if (code != 0 && g_power_callback != nullptr) g_power_callback(code);
        } else if (msg.message == qxsim::kWmClose) {
            // DefWindowProc destroys the window; WM_DESTROY posts the quit.
            power.DestroyHiddenWindow();
            power.PostMessage(qxsim::kWmQuit, 0);
        }
    }
    return 0;
}

}  // namespace

int qx_winevent_init(qx::PowerCallbackFn callback) {
    // The window makes this a user32 process: from now on Windows tells it of
    // the session end through its windows only.
    qxsim::Notebook::Current().Console().SetUser32Loaded(true);
    auto* monitor = new PowerEventMonitor;
    g_power_callback = callback;
    g_monitor = monitor;
    monitor->thread = qxsim::Notebook::Current().Kernel().Spawn(
        "power-window", [monitor] { return PowerWindowThread(monitor); });
    return 1;
}

int qx_winevent_cleanup(void) {
    PowerEventMonitor* monitor = g_monitor;
    if (monitor == nullptr) return 1;
    g_monitor = nullptr;
    auto& kernel = qxsim::Notebook::Current().Kernel();
    kernel.Wait(monitor->ready, qxsim::kInfinite);
    auto& power = qxsim::Notebook::Current().Power();
    power.PostMessage(monitor->window ? qxsim::kWmClose : qxsim::kWmQuit, 0);
    kernel.Wait(*monitor->thread, qxsim::kInfinite);
    delete monitor;
    return 1;
}
