// The modern-standby seam's contract (daemon/core/os_power.h) as the power
// handlers build on it, run against each half through a rig that plays the
// power manager: the notebook's power model (_sim) and, under Wine, our
// powrprof.dll stand-in in the prefix's system folder (_win32). Each rig is
// one file beside the contract.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qxtest {

class PowerRig {
  public:
    virtual ~PowerRig() = default;
    // Runs body with AoAc set, the registration granted and the display on;
    // what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    virtual void SetModernStandby(bool aoac) = 0;
    // The display-state registration refused.
    virtual void RefuseRegistration() = 0;
    // The console display: 0 off, 1 on, 2 dimmed.
    virtual void SetDisplay(uint32_t state) = 0;
    // Lets the power manager's threads run for ms.
    virtual void Pause(uint32_t ms) = 0;
};

// The half linked into this test.
PowerRig& Rig();

}  // namespace qxtest
