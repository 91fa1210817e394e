// 802.11ac (VHT) data rates and the bandwidth index of the vendor sources.
#pragma once

#include <cstdint>

namespace qx {

// Key: NSS x 10000 + MCS x 1000 + bandwidth in MHz x 10 + GI (1 = 400 ns).
struct VhtRateRow {
    int32_t Key;
    int32_t RateKbps;  // -1000: the combination is not allowed
};

constexpr int kVhtRateRows = 240;
// 1-4 streams, MCS 0-9, 20/40/80 MHz, both guard intervals; then a row with key 0.
extern const VhtRateRow* const VhtRateTable;

constexpr int32_t VhtRateKey(uint32_t nss, uint32_t mcs, uint32_t bandwidth_mhz,
                             uint32_t short_gi) {
    return static_cast<int32_t>(nss * 10000 + mcs * 1000 + bandwidth_mhz * 10 + short_gi);
}

// Index 0, 1, 2, 3 → 20, 40, 80, 160 MHz.
extern const uint8_t BandwidthTable[4];
// BandwidthTable, with 20 MHz for any other index.
uint8_t BandwidthMHz(uint8_t index);

}  // namespace qx
