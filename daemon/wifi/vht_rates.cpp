#include "daemon/wifi/vht_rates.h"

#include <array>

namespace qx {

namespace {

// Per MCS: coded bits per subcarrier and the coding rate.
constexpr int32_t kBitsPerSubcarrier[10] = {1, 2, 2, 4, 4, 6, 6, 6, 8, 8};
constexpr int32_t kRateNum[10] = {1, 1, 3, 1, 3, 2, 3, 5, 3, 5};
constexpr int32_t kRateDen[10] = {2, 2, 4, 2, 4, 3, 4, 6, 4, 6};
constexpr int32_t kWidthMHz[3] = {20, 40, 80};
constexpr int32_t kDataSubcarriers[3] = {52, 108, 234};

// One row: data bits per symbol over the symbol time (4.0 us, or 3.6 us with
// the short guard interval), in 0.1 Mbit/s rounded half up, then kbit/s. A
// combination is not allowed when the data bits per symbol are not a whole
// number, or do not split evenly over the BCC encoders (one per 600 Mbit/s
// of the short-GI rate).
constexpr int32_t RateKbps(int32_t nss, int32_t mcs, int width, int32_t short_gi) {
    const int32_t coded = kDataSubcarriers[width] * kBitsPerSubcarrier[mcs] * nss;
    if (coded * kRateNum[mcs] % kRateDen[mcs] != 0) return -1000;
    const int32_t data_bits = coded * kRateNum[mcs] / kRateDen[mcs];
    // Short-GI rate in kbit/s, rounded up, tells the encoder count.
    const int32_t sgi_kbps = (data_bits * 10000 + 35) / 36;
    const int32_t encoders = (sgi_kbps + 599999) / 600000;
    if (data_bits % encoders != 0) return -1000;
    const int32_t symbol_tenths_us = short_gi != 0 ? 36 : 40;
    const int32_t tenths_mbps = (data_bits * 200 + symbol_tenths_us) / (2 * symbol_tenths_us);
    return tenths_mbps * 100;
}

constexpr std::array<VhtRateRow, kVhtRateRows + 1> BuildTable() {
    std::array<VhtRateRow, kVhtRateRows + 1> t{};
    int i = 0;
    for (int32_t nss = 1; nss <= 4; ++nss) {
        for (int32_t mcs = 0; mcs <= 9; ++mcs) {
            for (int w = 0; w < 3; ++w) {
                for (int32_t gi = 0; gi <= 1; ++gi) {
                    t[i].Key =
                        VhtRateKey(static_cast<uint32_t>(nss), static_cast<uint32_t>(mcs),
                                   static_cast<uint32_t>(kWidthMHz[w]), static_cast<uint32_t>(gi));
                    t[i].RateKbps = RateKbps(nss, mcs, w, gi);
                    ++i;
                }
            }
        }
    }
    t[i] = VhtRateRow{0, 0};
    return t;
}

constexpr std::array<VhtRateRow, kVhtRateRows + 1> kTable = BuildTable();
static_assert(kTable[kVhtRateRows].Key == 0, "the table ends with key 0");

}  // namespace

const VhtRateRow* const VhtRateTable = kTable.data();

const uint8_t BandwidthTable[4] = {20, 40, 80, 160};

uint8_t BandwidthMHz(uint8_t index) {
    return index < 4 ? BandwidthTable[index] : 20;
}

}  // namespace qx
