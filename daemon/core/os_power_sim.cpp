#include "daemon/core/os_power.h"
#include "sim/notebook.h"
#include "sim/power_model.h"

namespace qx::os {

bool ModernStandbySupported() {
    return qxsim::Notebook::Current().Power().ModernStandby();
}

bool FollowConsoleDisplay(DisplayStateHandler handler) {
    auto& power = qxsim::Notebook::Current().Power();
    // The process's one registration, kept for its life: a second is refused,
    // as the Windows half refuses it, rather than doubling every change.
    if (power.DisplayRecipients() > 0) return false;
    return power.RegisterDisplayState([handler](uint32_t state) { handler(state); });
}

}  // namespace qx::os
