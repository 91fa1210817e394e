#include "daemon/wifi/wlan_monitor.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "daemon/base/logging.h"
#include "daemon/base/os_process.h"
#include "daemon/base/os_thread.h"
#include "daemon/base/daemon_state.h"
#include "daemon/base/telemetry.h"
#include "daemon/wifi/csi_provider.h"
#include "daemon/wifi/os_iphlp.h"
#include "daemon/wifi/vht_rates.h"

namespace qx {

namespace {

constexpr int kProviderAttempts = 3;
constexpr uint32_t kProviderRetryMs = 5000;
constexpr uint32_t kWlanClientVersion = 2;

// WLAN notification codes the update period follows.
constexpr uint32_t kAcmConnectionStart = 9;
constexpr uint32_t kAcmConnectionComplete = 10;
constexpr uint32_t kAcmConnectionAttemptFail = 11;
constexpr uint32_t kAcmInterfaceArrival = 13;
constexpr uint32_t kAcmInterfaceRemoval = 14;
constexpr uint32_t kAcmDisconnected = 21;
constexpr uint32_t kMsmSignalQualityChange = 8;

// The notification's new base period. The link coming back (from the
// link-down period to the update rate) also ends the worker's long sleep, so
// that steering resumes within a period instead of up to 20 s later.
void SetUpdatePeriod(WlanMonitor& monitor, int32_t ms) {
    const int32_t before = SteeringContext.UpdatePeriodMs.exchange(ms, std::memory_order_relaxed);
    if (before == kLinkDownPeriodMs && ms != kLinkDownPeriodMs && monitor.WakeWorker != nullptr) {
        monitor.WakeWorker(monitor.WakeContext);
    }
}

bool GuidTextEquals(const WlanMonitor& monitor, const char16_t* text) {
    for (int i = 0; i < kGuidTextUnits; ++i) {
        const char16_t stored = monitor.InterfaceGuid[i].load(std::memory_order_relaxed);
        if (stored != text[i]) return false;
        if (stored == 0) return true;
    }
    return true;
}

void StoreGuidText(WlanMonitor& monitor, const char16_t* text) {
    bool ended = false;
    for (int i = 0; i < kGuidTextUnits; ++i) {
        const char16_t unit = ended ? 0 : text[i];
        if (unit == 0) ended = true;
        monitor.InterfaceGuid[i].store(unit, std::memory_order_relaxed);
    }
}

// The C run-time's "C" locale conversion: each byte becomes one unit. Fails
// when the text is not terminated within the room.
bool WidenName(const char* name, char16_t* out, int units) {
    for (int i = 0; i < units; ++i) {
        out[i] = static_cast<unsigned char>(name[i]);
        if (name[i] == '\0') return true;
    }
    return false;
}

bool ParseMacText(const char* text, uint8_t mac[6]) {
    unsigned int b[6];
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) < 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(b[i] & 0xFF);
    return true;
}

// The table's rate for a key, in Mbit/s, when the row is usable; else the
// delivered rate stays.
uint32_t CompleteRate(uint32_t delivered, uint8_t nss, uint8_t mcs, uint8_t bandwidth_mhz,
                      uint8_t short_gi) {
    if (delivered != 0 && delivered != 65535) return delivered;
    const int32_t key = VhtRateKey(nss, mcs, bandwidth_mhz, short_gi);
    for (const VhtRateRow* row = VhtRateTable; row->Key != 0; ++row) {
        if (row->Key != key) continue;
        if (row->RateKbps > 0) return static_cast<uint32_t>(row->RateKbps / 1000);
        break;
    }
    return delivered;
}

uint64_t ByteDelta(uint64_t now, uint64_t previous) {
    if (previous == 0) return 0;
    // A counter that went backwards (a 32-bit source wrapping, a driver
    // reset) gives no delta for this cycle.
    const int64_t d = static_cast<int64_t>(now - previous);
    return d < 1 ? 0 : static_cast<uint64_t>(d);
}

uint32_t Airtime(uint64_t byte_delta, uint32_t rate_mbps) {
    if (rate_mbps == 0) return 0;
    return static_cast<uint32_t>(byte_delta) * 8u / rate_mbps;
}

}  // namespace

void* OpenWlanSource(WlanMonitor& monitor) {
    uint8_t thisMac[6] = {};
    bool found = false;
    for (int attempt = 0; attempt < kProviderAttempts && !found; ++attempt) {
        if (qx_wifi_initCSI(thisMac) != 0) {
            found = true;
        } else {
            os::SleepMs(kProviderRetryMs);
        }
    }
    if (found) {
        std::memcpy(SteeringContext.AdapterMac, thisMac, 6);
        char text[32];
        FormatMac(thisMac, text);
        std::snprintf(SteeringContext.InterfaceName, sizeof SteeringContext.InterfaceName, "%s",
                      text);
        if (os::WlanOpen(kWlanClientVersion, &monitor.Handle) == 0) {
            if (os::WlanRegister(monitor.Handle, os::kWlanSourceAcm | os::kWlanSourceMsm, true,
                                 OnWlanNotification, &monitor) == 0) {
                return monitor.Handle;
            }
            LogAlways("Unable to register Veltrane for notifications\n");
            os::WlanClose(monitor.Handle);
            monitor.Handle = nullptr;
        }
    }
    LogAlways(
        "QUELLIX: Failed to initialize the wifi driver. \n Please verify that the installed wifi "
        "driver is Veltrane capable.\n");
    return nullptr;
}

int InitWlan(WlanMonitor& monitor, const char* /*driver_interface*/) {
    SteeringContextT& ctx = SteeringContext;
    LogMessage(-1, "QUELLIX: Initializing wlan for Veltrane\n");
    ResetPeerTable();
    Put(ctx.UpdatePeriodMs, DaemonSettings.UpdateRateMs);
    ctx.WlanClient = OpenWlanSource(monitor);
    if (ctx.WlanClient == nullptr) {
        LogMessage(0, "QUELLIX: Error initializing %s\n", ctx.InterfaceName);
        return -2;
    }
    if (RefreshInterface(monitor) != 0) {
        LogMessage(0, "QUELLIX: Unable to determine interface configuration for %s.\n",
                   ctx.InterfaceName);
        return -3;
    }
    if (DaemonSettings.RemoteUdpAddress != 0 &&
        OpenTelemetry(DaemonSettings.RemoteUdpAddress, TelemetryPort) < 0) {
        return -7;
    }
    Put(ctx.WlanReady, 1);
    if (Get(ctx.StartCount) == 0 || Verbosity() > 0) {
        char eabuf[32];
        FormatMac(ctx.AdapterMac, eabuf);
        LogAlways("QUELLIX: Veltrane Interface %s.\n", eabuf);
    }
    return 0;
}

int32_t FindAdapterByMac(const char* mac_text, char adapter_name[kAdapterNameSize],
                         uint8_t mac[6]) {
    uint32_t size = sizeof(os::AdapterInfoRecord);
    void* buffer = os::HeapAllocZeroed(size);
    if (buffer == nullptr) return -1;
    uint32_t rc = os::GetAdaptersInfo(buffer, &size);
    if (rc == os::kErrorBufferOverflow) {
        os::HeapFreeBlock(buffer);
        buffer = os::HeapAllocZeroed(size);
        if (buffer == nullptr) return -1;
        rc = os::GetAdaptersInfo(buffer, &size);
    }
    int32_t result = -1;
    if (rc == 0 && ParseMacText(mac_text, mac)) {
        for (auto* a = static_cast<const os::AdapterInfoRecord*>(buffer); a != nullptr;
             a = a->Next) {
            if (std::memcmp(a->Address, mac, 6) != 0) continue;
            // Cut to the room and always terminated: the name is widened next.
            const size_t n = strnlen(a->AdapterName, kAdapterNameSize - 1);
            std::memcpy(adapter_name, a->AdapterName, n);
            adapter_name[n] = '\0';
            result = 1;
            break;
        }
    }
    os::HeapFreeBlock(buffer);
    return result;
}

int32_t RefreshInterface(WlanMonitor& monitor) {
    SteeringContextT& context = SteeringContext;
    char guidchar[kAdapterNameSize] = {};
    uint8_t mac[6] = {};
    if (FindAdapterByMac(context.InterfaceName, guidchar, mac) != 1) return -1;
    char16_t wide[kGuidTextUnits];
    if (!WidenName(guidchar, wide, kGuidTextUnits)) return -1;
    os::WlanInterfaceList* list = nullptr;
    if (os::WlanEnumInterfaces(monitor.Handle, &list) != 0) return -1;
    int32_t result = -1;
    const uint32_t count = os::WlanInterfaceCount(list);
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t guid[16];
        char16_t text[kGuidTextUnits];
        os::WlanInterfaceGuid(list, i, guid);
        if (os::FormatGuid(guid, text, kGuidTextUnits) == 0) continue;
        bool equal = true;
        for (int u = 0; u < kGuidTextUnits; ++u) {
            if (text[u] != wide[u]) {
                equal = false;
                break;
            }
            if (text[u] == 0) break;
        }
        if (!equal) continue;
        std::memcpy(context.AdapterMac, mac, 6);
        std::memcpy(monitor.AdapterMac, mac, 6);
        StoreGuidText(monitor, text);
        result = 0;
        break;
    }
    os::WlanFreeList(list);
    return result;
}

void OnWlanNotification(const os::WlanNotice* notice, void* context) {
    if (context == nullptr) return;
    WlanMonitor& monitor = *static_cast<WlanMonitor*>(context);
    char16_t text[kGuidTextUnits];
    if (os::FormatGuid(notice->InterfaceGuid, text, kGuidTextUnits) == 0) return;
    if (!GuidTextEquals(monitor, text)) return;
    const int32_t up = DaemonSettings.UpdateRateMs;
    // The source first: ACM and MSM reuse code numbers (8 is "signal quality
    // change" only from MSM).
    if (notice->Source == os::kWlanSourceAcm) {
        switch (notice->Code) {
            case kAcmConnectionStart:
            case kAcmConnectionComplete:
            case kAcmInterfaceArrival:
                SetUpdatePeriod(monitor, up);
                break;
            case kAcmConnectionAttemptFail:
            case kAcmInterfaceRemoval:
            case kAcmDisconnected:
                SetUpdatePeriod(monitor, kLinkDownPeriodMs);
                break;
            default:
                break;
        }
    } else if (notice->Source == os::kWlanSourceMsm) {
        if (notice->Code == kMsmSignalQualityChange) SetUpdatePeriod(monitor, up);
    }
}

int32_t CollectStationSample(WlanMonitor& monitor, StationSample* sta) {
    uint8_t mac[6];
    std::memcpy(mac, monitor.AdapterMac, 6);
    CsiRecord* rec = qx_wifi_getCSI(mac);
    if (rec == nullptr) return -1;

    sta->ProviderOk = rec->Status == 0 ? 1 : 0;
    std::memcpy(sta->PeerMac, rec->PeerMac, 6);

    sta->RxBytesDelta = ByteDelta(rec->RxBytes, monitor.PrevRxBytes);
    sta->TxBytesDelta = ByteDelta(rec->TxBytes, monitor.PrevTxBytes);
    monitor.PrevRxBytes = rec->RxBytes;
    monitor.PrevTxBytes = rec->TxBytes;

    sta->RxPackets = static_cast<uint32_t>(rec->RxPackets);
    sta->TxPackets = static_cast<uint32_t>(rec->TxPackets);
    sta->RxDeltaTag = static_cast<uint16_t>(sta->RxBytesDelta);

    sta->RxRateMbps = rec->RxRate;
    sta->RxBandwidthMHz = BandwidthMHz(rec->RxBandwidth);
    sta->RxMcs = rec->RxMcs;
    sta->RxNss = rec->RxNss;
    sta->RxShortGi = rec->RxShortGi;
    sta->TxRateMbps = rec->TxRate;
    sta->TxBandwidthMHz = BandwidthMHz(rec->TxBandwidth);
    sta->TxMcs = rec->TxMcs;
    sta->TxNss = rec->TxNss;
    sta->TxShortGi = rec->TxShortGi;

    sta->RxRateMbps =
        CompleteRate(sta->RxRateMbps, sta->RxNss, sta->RxMcs, sta->RxBandwidthMHz, sta->RxShortGi);
    sta->TxRateMbps =
        CompleteRate(sta->TxRateMbps, sta->TxNss, sta->TxMcs, sta->TxBandwidthMHz, sta->TxShortGi);

    const bool use_average = DaemonSettings.UseAverageCsi != 0;
    for (int c = 0; c < 2; ++c) {
        sta->Rssi[c] = static_cast<int8_t>(use_average ? rec->RssiAverage[c] : rec->Rssi[c]);
        sta->RssiAlt[c] =
            static_cast<int8_t>(rec->RssiAverage[c] != 0 ? rec->RssiAverage[c] : rec->Rssi[c]);
    }

    sta->RxAirtime = Airtime(sta->RxBytesDelta, sta->RxRateMbps);
    sta->TxAirtime = Airtime(sta->TxBytesDelta, sta->TxRateMbps);

    sta->LinkState = (rec->ConnectionState == 0 || rec->ConnectionState == 3)
                         ? 0
                         : static_cast<uint8_t>(rec->ConnectionState);

    qx_wifi_releaseCSI(rec);
    return 0;
}

int32_t RunLinkStep(WlanMonitor& monitor, int32_t (*callback)(PeerRecord*)) {
    const SteeringContextT& context = SteeringContext;
    if (Get(context.WlanReady) == 0) return -1;
    PeerRecord mycsi;
    std::memset(&mycsi, 0, sizeof mycsi);
    StationSample sta;
    std::memset(&sta, 0, sizeof sta);
    if (CollectStationSample(monitor, &sta) != 0) {
        PurgePeers(true);
        return -1;
    }
    if (sta.LinkState == 0) {
        MarkPeerStale(sta.PeerMac);
        return -2;
    }
    if (DaemonSettings.FillTxRateFromRx != 0) {
        sta.TxRateMbps = sta.RxRateMbps;
        sta.TxMcs = sta.RxMcs;
        sta.TxNss = sta.RxNss;
        sta.TxBandwidthMHz = sta.RxBandwidthMHz;
        sta.TxShortGi = sta.RxShortGi;
    }
    std::memcpy(mycsi.PeerMac, sta.PeerMac, 6);
    std::memcpy(mycsi.AdapterMac, context.AdapterMac, 6);
    mycsi.Stats = sta;
    // After a roam without a lost sample the old access point's record would
    // stay the interface's oldest, and with its traffic frozen no report would
    // go out again; marked stale, it leaves at the next purge.
    MarkOtherPeersStale(context.AdapterMac, sta.PeerMac);
    return callback(&mycsi);
}

void CloseWlanSource(WlanMonitor& monitor) {
    SteeringContextT& context = SteeringContext;
    if (context.WlanClient != nullptr) {
        os::WlanClose(monitor.Handle);
        monitor.Handle = nullptr;
        context.WlanClient = nullptr;
    }
    qx_wifi_cleanCSI();
}

}  // namespace qx
