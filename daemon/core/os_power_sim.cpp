#include "daemon/core/os_power.h"
#include "sim/notebook.h"
#include "sim/power_model.h"

namespace qx::os {

bool ModernStandbySupported() {
    return qxsim::Notebook::Current().Power().ModernStandby();
}

bool FollowConsoleDisplay(DisplayStateHandler handler) {
    return qxsim::Notebook::Current().Power().RegisterDisplayState(
        [handler](uint32_t state) { handler(state); });
}

}  // namespace qx::os
