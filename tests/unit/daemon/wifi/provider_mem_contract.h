// The providers' memory seam's contract (daemon/wifi/os_provider_mem.h), run
// against each half through a rig: the notebook's half with its fault plan
// (_sim) and, under Wine, the C runtime's heap as the Windows build links it
// (_win32), which cannot be made to run out.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

class ProviderMemRig {
  public:
    virtual ~ProviderMemRig() = default;
    virtual bool CanFail() const = 0;
    // Runs body with nothing armed; returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // The next allocation finds no memory (CanFail() only).
    virtual void FailNextAlloc() = 0;
};

// The half linked into this test.
ProviderMemRig& Rig();

}  // namespace qxtest
