// The contract's rig under Wine (os_power_window_win32.cpp): the real hidden
// window, found by its class and title as any program would find it, and sent
// the messages Windows sends it. SendMessageW returns once the window's
// thread has handled the message, so each call ends with its handler run.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "tests/unit/daemon/core/power_window_contract.h"

namespace qxtest {
namespace {

// The window thread creates its window after the start returns: up to a
// second for it to appear.
HWND FindPowerWindow() {
    for (int i = 0; i < 100; ++i) {
        HWND window = FindWindowW(L"QXEVENTMON", L"QXEVENTMON");
        if (window != nullptr) return window;
        Sleep(10);
    }
    return nullptr;
}

class Win32Rig : public PowerWindowRig {
  public:
    std::string Run(const std::function<std::string()>& body) override { return body(); }
    void Broadcast(uintptr_t pbt_code) override {
        HWND window = FindPowerWindow();
        if (window != nullptr) SendMessageW(window, WM_POWERBROADCAST, pbt_code, 0);
    }
    bool EndSession(bool ends, bool logoff) override {
        HWND window = FindPowerWindow();
        if (window == nullptr) return false;
        const LPARAM lparam = logoff ? static_cast<LPARAM>(ENDSESSION_LOGOFF) : 0;
        const bool agreed = SendMessageW(window, WM_QUERYENDSESSION, 0, lparam) != FALSE;
        SendMessageW(window, WM_ENDSESSION, ends && agreed ? TRUE : FALSE, lparam);
        return agreed;
    }
};

}  // namespace

PowerWindowRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
