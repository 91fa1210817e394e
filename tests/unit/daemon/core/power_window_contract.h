// The power window's contract (daemon/core/os_power_window.h) as the power
// handlers build on it, run against each half through a rig that plays the
// system's side: the notebook's power model (_sim) and, under Wine, real
// messages to the real hidden window (_win32). Each rig is one file beside
// the contract.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qxtest {

class PowerWindowRig {
  public:
    virtual ~PowerWindowRig() = default;
    // Runs body on a fresh world; what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // WM_POWERBROADCAST with this code to the hidden window, once its
    // handler has run; nothing when there is no window.
    virtual void Broadcast(uintptr_t pbt_code) = 0;
    // The end of the session as Windows tells it: WM_QUERYENDSESSION, then
    // WM_ENDSESSION with wParam TRUE when `ends` and the window agreed;
    // ENDSESSION_LOGOFF in both lParams for a log-off. The window's answer.
    virtual bool EndSession(bool ends, bool logoff) = 0;
};

// The half linked into this test.
PowerWindowRig& Rig();

}  // namespace qxtest
