// The WLAN client seam's contract (daemon/wifi/os_wlan.h) as the daemon's
// WLAN monitor builds on it, run against each half through a rig that lays
// out the WLAN service's interfaces and delivers its notifications: the
// notebook's WLAN service model (_sim) and, under Wine, our wlanapi.dll
// stand-in beside the test (_win32; Wine's own lists no interface and
// registers no notification). StringFromGUID2 is Wine's own ole32.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qxtest {

class WlanRig {
  public:
    virtual ~WlanRig() = default;
    // Runs body with no client open and the interfaces listed as
    // ListInterfaces(2) lists them; returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // 0: none; 1: the notebook's interface; 2: another one, then the notebook's.
    virtual void ListInterfaces(int count) = 0;
    // The WLAN service sends a notification about the notebook's interface
    // (or, !ours, the other one) to whoever registered for its source.
    virtual void Fire(uint32_t source, uint32_t code, bool ours) = 0;
};

// The half linked into this test.
WlanRig& Rig();

}  // namespace qxtest
