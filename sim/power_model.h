// The virtual notebook's power broadcasts and the daemon's hidden window:
// a window exists once the window thread created it, and WM_POWERBROADCAST
// messages are queued to it at virtual times. And modern standby: a notebook
// of today has no S3 sleep; it sleeps by turning the console display off,
// without a broadcast, and tells the display state only to whoever
// registered for it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
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
// WM_ENDSESSION's lParam for a log-off (the session itself goes on).
constexpr uintptr_t kEndSessionLogoff = 0x80000000u;

struct WindowMessage {
    uint32_t message;
    uintptr_t wparam;
    uintptr_t lparam = 0;
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
    void PostMessage(uint32_t message, uintptr_t wparam, uintptr_t lparam = 0);

    // Scenario side: a power broadcast to every top-level window (dropped when
    // the hidden window does not exist).
    void Broadcast(uintptr_t pbt_code);
    void BroadcastAt(VTime when, uintptr_t pbt_code);
    int BroadcastsDelivered();

    // The end of the session as Windows tells a user32 process: WM_QUERYENDSESSION
    // to the window, and once it has answered, WM_ENDSESSION with wParam TRUE
    // when `ends` and the window agreed, FALSE when the session goes on; a
    // log-off carries ENDSESSION_LOGOFF in lParam of both. Dropped when the
    // hidden window does not exist.
    void EndSession(bool ends, bool logoff = false);
    // Window thread side: the answer to WM_QUERYENDSESSION.
    void ReplyQueryEndSession(bool agree);
    // Answers given so far (1 = TRUE), for tests.
    std::vector<int> QueryEndSessionAnswers();

    // ---- Modern standby ----
    // SystemPowerCapabilities' AoAc: default true, a notebook of today.
    void SetModernStandby(bool aoac);
    bool ModernStandby();
    // Whether PowerSettingRegisterNotification exists (default true).
    void SetDisplayRegistrationExists(bool exists);
    // The registration of GUID_CONSOLE_DISPLAY_STATE with a callback: the
    // recipient gets the current state at once, then every change, each on
    // a thread of its own as the power manager calls it. False when the
    // registration does not exist.
    bool RegisterDisplayState(std::function<void(uint32_t)> recipient);
    int DisplayRecipients();
    // Scenario side: the console display turns off (0), on (1) or dims (2).
    // No broadcast: only registered recipients hear of it, and only of a change.
    void SetDisplayState(uint32_t state);
    uint32_t DisplayState();

  private:
    void DeliverDisplayState(const std::function<void(uint32_t)>& recipient, uint32_t state);
    std::mutex m_;
    bool create_fails_ = false;
    bool window_ = false;
    int delivered_ = 0;
    bool session_ends_ = false;
    bool session_logoff_ = false;
    bool aoac_ = true;
    bool display_registration_ = true;
    uint32_t display_state_ = 1;
    std::vector<std::function<void(uint32_t)>> display_recipients_;
    std::vector<int> query_answers_;
    std::deque<WindowMessage> queue_;
    Event pending_{false, false};
};

}  // namespace qxsim
