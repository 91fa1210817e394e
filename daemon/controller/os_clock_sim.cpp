#include "daemon/controller/os_clock.h"
#include "sim/fault_plan.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qx::os {

// The virtual notebook boots on 2026-03-02 08:00:00 UTC; its wall clock is
// that date plus the virtual time, in whole milliseconds as on Windows.
constexpr uint64_t kBootFileTime = 134169120000000000ull;

bool SystemTimeAsFileTime(uint64_t* filetime, uint16_t* milliseconds) {
    if (qxsim::InjectFault(qxsim::FaultKind::kClock)) return false;
    const uint64_t ms = static_cast<uint64_t>(qxsim::Notebook::Current().Kernel().Now());
    *filetime = kBootFileTime + ms * 10000;
    *milliseconds = static_cast<uint16_t>(*filetime / 10000 % 1000);
    return true;
}

}  // namespace qx::os
