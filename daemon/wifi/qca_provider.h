// The link-statistics provider for Qualcomm Atheros adapters: the driver's
// PPDU log, read through its control device, and the interface counters of
// IP Helper.
#pragma once

#include <cstdint>

#include "daemon/wifi/csi_provider.h"

namespace qx {

namespace os {
struct VendorDevice;
}

// CTL_CODE(FILE_DEVICE_UNKNOWN, 0x81, METHOD_NEITHER, FILE_ANY_ACCESS)
constexpr uint32_t kPpduLogControlCode = 0x220207;
constexpr uint32_t kPpduCommandSize = 16;
constexpr uint32_t kPpduRecordSize = 132;
constexpr uint32_t kPpduOwnMacOffset = 33;
constexpr uint32_t kIfTableFirstTry = 864;  // the header and one row

// PPDU types of the record's rate word.
constexpr uint8_t kPpduLegacy = 4;
constexpr uint8_t kPpduHt = 8;
constexpr uint8_t kPpduHtGreenfield = 9;
constexpr uint8_t kPpduVht = 12;
constexpr uint8_t kPpduVhtOther = 13;

// Fills the record from a PPDU log record: status, link state, peer,
// modulation of both directions (rates left 0 for the consumer's rate table),
// per-chain signal strengths. Counters are left 0.
void DecodePpduRecord(const uint8_t* ppdu, CsiRecord* record);

// Fills the four counters from the interface table row whose physical address
// is mac; leaves them 0 when the table cannot be read or has no such row.
void FillInterfaceCounters(const uint8_t mac[6], CsiRecord* record);

class CqxwificsiQCA final : public CqxWifiCSI {
  public:
    CqxwificsiQCA() = default;
    ~CqxwificsiQCA() override = default;
    CqxwificsiQCA(const CqxwificsiQCA&) = delete;
    CqxwificsiQCA& operator=(const CqxwificsiQCA&) = delete;

    int32_t Open() override;
    int32_t Close() override;
    CsiRecord* GetCsi(void* unused) override;
    int32_t GetMac(uint8_t mac[6]) override;

  private:
    // One command of the log; out null sends it without an output buffer.
    bool Command(const char* text, uint8_t* out);

    os::VendorDevice* device_ = nullptr;
    uint8_t mac_[6] = {};
};

}  // namespace qx
