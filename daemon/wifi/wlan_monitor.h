// The daemon's view of the Wi-Fi link: adapter binding, WLAN client and
// notifications, and the per-cycle station sample.
#pragma once

#include <cstdint>

#include "daemon/controller/peer_table.h"
#include "daemon/core/steering_context.h"
#include "daemon/wifi/os_wlan.h"

namespace qx {

// The adapter name (a braced GUID text) and its terminator.
constexpr int kAdapterNameSize = 39;
constexpr int32_t kLinkDownPeriodMs = 5000;

// Brings up the link-statistics provider, the WLAN client and, when asked,
// the telemetry endpoint. 0 on success; -2 no provider or WLAN client,
// -3 interface not found, -7 telemetry endpoint failed.
int InitWlan(const char* driver_interface);

// Binds the provider's adapter and opens the WLAN client with notifications:
// the client reference, or null.
void* OpenWlanSource();

// Finds the adapter again by the MAC text of InterfaceName and its WLAN
// interface by GUID: 0, or -1.
int32_t RefreshInterface(SteeringContextT& context);

// Looks the "%x:%x:%x:%x:%x:%x" MAC text up in IP Helper's adapter list:
// 1 with the adapter's name (terminated, cut to 38 characters) and the parsed
// MAC, else -1.
int32_t FindAdapterByMac(const char* mac_text, char adapter_name[kAdapterNameSize], uint8_t mac[6]);

// The WLAN notification callback: follows whether the steered interface's
// link is up by switching the update period.
void OnWlanNotification(const os::WlanNotice* notice, void* context);

// One provider record as a station sample: 0, or -1 when there was none.
int32_t CollectStationSample(StationSample* sta);

// One cycle's sample handed to callback: -1 not ready or no record, -2 no
// usable link, else the callback's result.
int32_t RunLinkStep(SteeringContextT& context, int32_t (*callback)(PeerRecord*));

// Closes the WLAN client and the provider.
void CloseWlanSource(SteeringContextT& context);

}  // namespace qx
