// The contract's rig under Wine (os_clock_win32.cpp): the machine's own
// clock, which the rig cannot set; the contract asks only what holds on any.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "tests/unit/daemon/controller/clock_contract.h"

namespace qxtest {
namespace {

class Win32Rig : public ClockRig {
  public:
    std::string Run(const std::function<std::string()>& body) override { return body(); }
    void Pause(uint32_t ms) override { Sleep(ms); }
};

}  // namespace

ClockRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
