// The virtual notebook's power broadcasts and the daemon's hidden window:
// a window exists once the window thread created it, and WM_POWERBROADCAST
// messages are queued to it at virtual times.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>

#include "sim/vkernel.h"

namespace qxsim {

constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmPowerBroadcast = 0x0218;

struct WindowMessage {
    uint32_t message;
    uintptr_t wparam;
};

class PowerModel {
public:
    static PowerModel& Instance();

    // Window thread side.
    void SetWindowCreateFails(bool fails);
    bool CreateHiddenWindow();   // CreateWindowExW of "QXEVENTMON"
    void DestroyHiddenWindow();
    bool WindowExists();
    // GetMessageW: waits for the next message; false once WM_QUIT was taken.
    bool GetMessage(WindowMessage* out);
    void PostMessage(uint32_t message, uintptr_t wparam);

    // Scenario side: a power broadcast to every top-level window (dropped when
    // the hidden window does not exist).
    void Broadcast(uintptr_t pbt_code);
    void BroadcastAt(VTime when, uintptr_t pbt_code);
    int BroadcastsDelivered();

private:
    std::mutex m_;
    bool create_fails_ = false;
    bool window_ = false;
    int delivered_ = 0;
    std::deque<WindowMessage> queue_;
    Event pending_{false, false};
};

}  // namespace qxsim
