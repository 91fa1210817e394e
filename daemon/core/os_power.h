// OS seam: what the power manager tells about modern standby. On such a
// notebook (S0 low-power idle, no S3) the machine goes to sleep by turning
// the console display off: no suspend broadcast comes, and programs in
// session 0 keep running, throttled.
//
// On Windows these are CallNtPowerInformation and
// PowerSettingRegisterNotification of powrprof.dll, found at run time (Wine
// has no such registration); on the virtual notebook the power model.
#pragma once

#include <cstdint>

namespace qx::os {

// MONITOR_DISPLAY_STATE, as GUID_CONSOLE_DISPLAY_STATE reports it.
constexpr uint32_t kDisplayOff = 0;
constexpr uint32_t kDisplayOn = 1;
constexpr uint32_t kDisplayDimmed = 2;

// CallNtPowerInformation(SystemPowerCapabilities): the AoAc member. False
// when the capabilities cannot be had.
bool ModernStandbySupported();

using DisplayStateHandler = void (*)(uint32_t state);

// PowerSettingRegisterNotification(GUID_CONSOLE_DISPLAY_STATE,
// DEVICE_NOTIFY_CALLBACK) for the life of the process: the handler runs on a
// thread of the power manager's, first with the current state, then at
// every change. A callback needs neither a window nor a service handle, so
// it reaches a daemon run by hand and the service's child in session 0
// alike. False where the registration does not exist or was refused.
bool FollowConsoleDisplay(DisplayStateHandler handler);

}  // namespace qx::os
