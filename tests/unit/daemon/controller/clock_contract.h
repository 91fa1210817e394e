// The wall clock's contract (daemon/controller/os_clock.h) as the link
// reports' time stamps build on it, run against each half: the notebook's
// virtual clock (_sim) and, under Wine, the machine's clock (_win32). Each rig
// is one file beside the contract.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qxtest {

class ClockRig {
  public:
    virtual ~ClockRig() = default;
    // Runs body; what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // Lets the clock move on by ms.
    virtual void Pause(uint32_t ms) = 0;
};

// The half linked into this test.
ClockRig& Rig();

}  // namespace qxtest
