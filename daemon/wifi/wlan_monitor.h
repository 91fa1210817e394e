// The daemon's view of the Wi-Fi link: adapter binding, WLAN client and
// notifications, and the per-cycle station sample.
#pragma once

namespace qx {

// Brings up the link-statistics provider, the WLAN client and, when asked,
// the telemetry endpoint. 0 on success; -2 no provider or WLAN client,
// -3 interface not found, -7 telemetry endpoint failed.
int InitWlan(const char* driver_interface);

}  // namespace qx
