// The link-statistics provider: one record type that every vendor source
// delivers, the provider abstraction, and the four exported C functions
// through which the daemon (and any other program) uses it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "daemon/base/export.h"

namespace qx {

// The provider's link-statistics record; its layout crosses the exported
// interface and is fixed.
struct CsiRecord {
    uint32_t Status;           // vendor status word; 0 = valid
    uint32_t ConnectionState;  // 1 and 2: usable link; 0 and 3: none
    uint8_t PeerMac[6];
    uint8_t Reserved0[2];
    uint64_t TxBytes;
    uint64_t TxPackets;
    uint16_t TxRate;  // Mbit/s; 0 or 65535: unknown
    uint8_t TxMcs;
    uint8_t TxNss;
    uint8_t TxBandwidth;  // 0 = 20, 1 = 40, 2 = 80, 3 = 160 MHz
    uint8_t TxShortGi;
    uint8_t Reserved1[2];
    uint64_t RxBytes;
    uint64_t RxPackets;
    int32_t Rssi[4];         // dBm per chain
    int32_t RssiAverage[4];  // dBm per chain; 0 = not provided
    uint16_t RxRate;
    uint8_t RxMcs;
    uint8_t RxNss;
    uint8_t RxBandwidth;
    uint8_t RxShortGi;
    uint8_t Reserved2[2];
};
static_assert(sizeof(CsiRecord) == 96, "CsiRecord is 96 bytes");
static_assert(offsetof(CsiRecord, PeerMac) == 8, "");
static_assert(offsetof(CsiRecord, TxBytes) == 16, "");
static_assert(offsetof(CsiRecord, TxPackets) == 24, "");
static_assert(offsetof(CsiRecord, TxRate) == 32, "");
static_assert(offsetof(CsiRecord, TxShortGi) == 37, "");
static_assert(offsetof(CsiRecord, RxBytes) == 40, "");
static_assert(offsetof(CsiRecord, RxPackets) == 48, "");
static_assert(offsetof(CsiRecord, Rssi) == 56, "");
static_assert(offsetof(CsiRecord, RssiAverage) == 72, "");
static_assert(offsetof(CsiRecord, RxRate) == 88, "");
static_assert(offsetof(CsiRecord, RxShortGi) == 93, "");

// A vendor source of link statistics. Slot order is part of the contract.
class CqxWifiCSI {
  public:
    virtual ~CqxWifiCSI() = default;
    // Nonzero when the provider can serve this machine's adapter.
    virtual int32_t Open() = 0;
    // Releases what Open acquired; returns 1.
    virtual int32_t Close() = 0;
    // A new record (malloc'ed, freed with qx_wifi_releaseCSI), or null.
    virtual CsiRecord* GetCsi(void* unused) = 0;
    // Writes the provider's adapter MAC and returns 1, or returns 0 and writes nothing.
    virtual int32_t GetMac(uint8_t mac[6]) = 0;
};

// Makes sure a provider is held: Intel first, then Qualcomm Atheros, each
// created, opened and destroyed again when its Open fails. 1 when a provider
// is held afterwards, else 0.
int32_t SelectProvider();

}  // namespace qx

QX_EXPORT int qx_wifi_initCSI(uint8_t* mac);
QX_EXPORT qx::CsiRecord* qx_wifi_getCSI(void* unused);
QX_EXPORT int qx_wifi_releaseCSI(qx::CsiRecord* record);
QX_EXPORT int qx_wifi_cleanCSI(void);
