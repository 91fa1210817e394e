// The virtual notebook's power broadcasts and the daemon's hidden window:
// a window exists once the window thread created it, and WM_POWERBROADCAST
// messages are queued to it at virtual times.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "sim/vkernel.h"

namespace qxsim {

constexpr uint32_t kWmDestroy = 0x0002;
constexpr uint32_t kWmClose = 0x0010;
constexpr uint32_t kWmQueryEndSession = 0x0011;
constexpr uint32_t kWmQuit = 0x0012;
constexpr uint32_t kWmEndSession = 0x0016;
constexpr uint32_t kWmPowerBroadcast = 0x0218;

struct WindowMessage {
    uint32_t message;
    uintptr_t wparam;
};

class PowerModel {
  public:
    friend class Notebook;  // builds the one instance

    // Window thread side.
    void SetWindowCreateFails(bool fails);
    bool CreateHiddenWindow();  // CreateWindowExW of "QXEVENTMON"
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

    // The end of the session as Windows tells a user32 process: WM_QUERYENDSESSION
    // to the window, and once it has answered, WM_ENDSESSION with wParam TRUE
    // when `ends` and the window agreed, FALSE when the session goes on.
    // Dropped when the hidden window does not exist.
    void EndSession(bool ends);
    // Window thread side: the answer to WM_QUERYENDSESSION.
    void ReplyQueryEndSession(bool agree);
    // Answers given so far (1 = TRUE), for tests.
    std::vector<int> QueryEndSessionAnswers();

  private:
    std::mutex m_;
    bool create_fails_ = false;
    bool window_ = false;
    int delivered_ = 0;
    bool session_ends_ = false;
    std::vector<int> query_answers_;
    std::deque<WindowMessage> queue_;
    Event pending_{false, false};
};

}  // namespace qxsim
