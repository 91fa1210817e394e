// Drives the daemon's WLAN layer (the real code of quellix.exe, linked from
// the same library) against the stand-ins: InitWlan, the per-cycle refresh and
// sample, and notifications fired through our wlanapi.dll. Prints one line per
// observation for the Wine test to compare.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "daemon/controller/peer_table.h"
#include "daemon/base/daemon_state.h"
#include "daemon/wifi/wlan_monitor.h"

namespace {

using qx::PeerRecord;

int32_t PrintSample(PeerRecord* r) {
    const qx::StationSample& s = r->Stats;
    char peer[32];
    qx::FormatMac(r->PeerMac, peer);
    std::printf(
        "sample peer=%s state=%u rx=%u/%u/%u/%u/%u tx=%u/%u/%u/%u/%u rssi=%d,%d alt=%d,%d "
        "pk=%u,%u delta=%llu,%llu tag=%u air=%u,%u ok=%u\n",
        peer, s.LinkState, s.RxRateMbps, s.RxMcs, s.RxNss, s.RxBandwidthMHz, s.RxShortGi,
        s.TxRateMbps, s.TxMcs, s.TxNss, s.TxBandwidthMHz, s.TxShortGi, s.Rssi[0], s.Rssi[1],
        s.RssiAlt[0], s.RssiAlt[1], s.RxPackets, s.TxPackets,
        static_cast<unsigned long long>(s.RxBytesDelta),
        static_cast<unsigned long long>(s.TxBytesDelta), s.RxDeltaTag, s.RxAirtime, s.TxAirtime,
        s.ProviderOk);
    return 0;
}

void Put(uint8_t* p, uint64_t v, int size) {
    for (int i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The Intel stand-in's statistics result for the next calls.
void SetBss(uint32_t state, uint64_t rx_bytes, uint64_t tx_bytes, uint16_t rx_rate, uint8_t rx_mcs,
            uint8_t rx_bw, uint8_t rx_gi) {
    uint8_t b[73] = {};
    const uint8_t bssid[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3};
    Put(b + 4, state, 4);
    std::memcpy(b + 8, bssid, 6);
    Put(b + 14, tx_bytes, 8);
    Put(b + 22, 300, 8);
    Put(b + 30, 390, 2);
    b[32] = 8;
    b[33] = 1;
    b[34] = 2;
    b[36] = 1;
    Put(b + 37, rx_bytes, 8);
    Put(b + 45, 1000, 8);
    Put(b + 53, static_cast<uint32_t>(-50), 4);
    Put(b + 57, static_cast<uint32_t>(-60), 4);
    Put(b + 61, static_cast<uint32_t>(-100), 4);
    Put(b + 65, rx_rate, 2);
    b[67] = rx_mcs;
    b[68] = 1;
    b[69] = rx_bw;
    b[71] = rx_gi;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QuellixTest\\Murocapi", 0, nullptr, 0,
                        KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        std::printf("registry write failed\n");
        return;
    }
    RegSetValueExW(key, L"Bss", 0, REG_BINARY, b, sizeof b);
    RegCloseKey(key);
}

bool HasExport(const wchar_t* module, const char* name) {
    HMODULE m = GetModuleHandleW(module);
    return m != nullptr && GetProcAddress(m, name) != nullptr;
}

using FireFn = DWORD(WINAPI*)(DWORD source, DWORD code, DWORD which);

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    qx::DaemonSettings.Verbosity.store(1);
    qx::DaemonSettings.UpdateRateMs = 100;
    std::strcpy(qx::SteeringContext.InterfaceName, "win32");

    qx::WlanMonitor wlan;
    int rc = qx::InitWlan(wlan, "I2C");
    std::printf("init %d\n", rc);
    std::printf("standins wlanapi=%d iphlpapi=%d\n", HasExport(L"wlanapi.dll", "QxWlanStandIn"),
                HasExport(L"iphlpapi.dll", "QxIphlpStandIn"));
    if (rc != 0) return 1;
    std::printf("interface %s period %d\n", qx::SteeringContext.InterfaceName,
                qx::Get(qx::SteeringContext.UpdatePeriodMs));

    // The stand-in's default statistics, then two chosen ones.
    std::printf("refresh %d\n", qx::RefreshInterface(wlan));
    std::printf("step %d\n", qx::RunLinkStep(wlan, PrintSample));
    SetBss(1, 1250000 + 3000, 250000 + 1000, 65535, 7, 0, 1);
    std::printf("step %d\n", qx::RunLinkStep(wlan, PrintSample));
    SetBss(3, 1250000 + 3000, 250000 + 1000, 65535, 7, 0, 1);
    std::printf("step %d\n", qx::RunLinkStep(wlan, PrintSample));

    auto fire = reinterpret_cast<FireFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"wlanapi.dll"), "QxWlanFire")));
    if (fire != nullptr) {
        const struct {
            DWORD source, code, which;
        } notes[] = {{8, 21, 0}, {8, 10, 1}, {16, 8, 0}, {8, 14, 1},
                     {8, 8, 0},  {8, 11, 0}, {8, 13, 0}};
        for (const auto& n : notes) {
            DWORD delivered = fire(n.source, n.code, n.which);
            std::printf("notify %lu/%lu %s delivered=%lu period %d\n", n.source, n.code,
                        n.which == 0 ? "ours" : "other", delivered,
                        qx::Get(qx::SteeringContext.UpdatePeriodMs));
        }
    }
    qx::CloseWlanSource(wlan);
    std::printf("closed\n");
    return 0;
}
