// The daemon's view of the Wi-Fi link: adapter binding, WLAN client and
// notifications, and the per-cycle station sample.
#pragma once

#include <atomic>
#include <cstdint>

#include "daemon/base/daemon_state.h"
#include "daemon/controller/peer_table.h"
#include "daemon/wifi/os_wlan.h"

namespace qx {

// The adapter name (a braced GUID text) and its terminator.
constexpr int kAdapterNameSize = 39;
constexpr int32_t kLinkDownPeriodMs = 5000;
// A braced GUID text and its terminator, in UTF-16 units.
constexpr int kGuidTextUnits = 39;

// The daemon's WLAN side: the client handle, the steered interface and the
// previous sample's counters. Main owns the one instance; the worker samples
// through it and the WLAN service's notification thread reads the interface.
struct WlanMonitor {
    os::WlanHandle Handle = nullptr;
    // Written by the worker, read by the notification thread: unit by unit
    // atomics, so a reader sees each unit whole (the text changes only when
    // the adapter's interface does).
    std::atomic<char16_t> InterfaceGuid[kGuidTextUnits] = {};
    // The MAC parsed from InterfaceName at the last refresh; the providers
    // are handed a copy.
    uint8_t AdapterMac[6] = {};
    // Cumulative byte counters of the previous sample; 0 = none yet.
    uint64_t PrevRxBytes = 0;
    uint64_t PrevTxBytes = 0;
    // Called (on the notification thread) when the link comes back, so that
    // the steering worker's long sleep ends: its owner's wake and what to
    // hand it. None in a monitor of its own.
    void (*WakeWorker)(void* context) = nullptr;
    void* WakeContext = nullptr;
};

// Brings up the link-statistics provider, the WLAN client and, when asked,
// the telemetry endpoint. 0 on success; -2 no provider or WLAN client,
// -3 interface not found, -7 telemetry endpoint failed.
int InitWlan(WlanMonitor& monitor, const char* driver_interface);

// Binds the provider's adapter and opens the WLAN client with notifications:
// the client reference, or null.
void* OpenWlanSource(WlanMonitor& monitor);

// Finds the adapter again by the MAC text of InterfaceName and its WLAN
// interface by GUID: 0, or -1.
int32_t RefreshInterface(WlanMonitor& monitor);

// Looks the "%x:%x:%x:%x:%x:%x" MAC text up in IP Helper's adapter list:
// 1 with the adapter's name (terminated, cut to 38 characters) and the parsed
// MAC, else -1.
int32_t FindAdapterByMac(const char* mac_text, char adapter_name[kAdapterNameSize], uint8_t mac[6]);

// The WLAN notification callback: follows whether the steered interface's
// link is up by switching the update period. context is the WlanMonitor.
void OnWlanNotification(const os::WlanNotice* notice, void* context);

// One provider record as a station sample: 0, or -1 when there was none.
int32_t CollectStationSample(WlanMonitor& monitor, StationSample* sta);

// One cycle's sample handed to callback: -1 not ready or no record, -2 no
// usable link, else the callback's result.
int32_t RunLinkStep(WlanMonitor& monitor, int32_t (*callback)(PeerRecord*));

// Closes the WLAN client and the provider.
void CloseWlanSource(WlanMonitor& monitor);

}  // namespace qx
