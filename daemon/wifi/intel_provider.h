// The link-statistics provider for Intel adapters: Intel's Wi-Fi management
// library, loaded at run time from its fixed install path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "daemon/wifi/csi_provider.h"

namespace qx {

namespace os {
struct VendorLibrary;
}

// Request header passed by address to both library calls.
struct IntelRequestHeader {
    uint32_t Version;  // always 156
    uint32_t Size;     // size of the result the caller has room for
    uint8_t Zero[8];
};
static_assert(sizeof(IntelRequestHeader) == 16, "the library's request header is 16 bytes");
static_assert(offsetof(IntelRequestHeader, Size) == 4, "");

constexpr uint32_t kIntelHeaderVersion = 156;
constexpr uint32_t kIntelMaxAdapters = 20;
constexpr uint32_t kIntelAdapterEntrySize = 2472;
constexpr uint32_t kIntelAdapterListSize = 4 + kIntelMaxAdapters * kIntelAdapterEntrySize;  // 49444
constexpr uint32_t kIntelAdapterIdOffset = 0;
constexpr uint32_t kIntelAdapterMacOffset = 4;
constexpr uint32_t kIntelAdapterFlagOffset = 2444;
constexpr uint32_t kIntelBssSize = 73;
static_assert(kIntelAdapterListSize == 49444, "");

// The library's exports, as called. Status 0 = success.
using WifiGetAdapterListFn = uint32_t (*)(IntelRequestHeader* header, void** list);
using WifiGetBSSConfigurationStatisticsFn = uint32_t (*)(uint32_t adapter_id,
                                                         IntelRequestHeader* header, void* bss);

// The entry of the last adapter in the list whose query flag is set, or -1.
// Only the entries the request made room for are looked at, whatever count
// the library wrote; a missing list has no entries.
int32_t LastFlaggedIntelAdapter(const uint8_t* list);

// Fills the record from a 73-byte statistics result. The record's reserved
// bytes are left as they are.
void DecodeIntelBss(const uint8_t* bss, CsiRecord* record);

class CqxwificsiINTC final : public CqxWifiCSI {
  public:
    CqxwificsiINTC() = default;
    ~CqxwificsiINTC() override;
    CqxwificsiINTC(const CqxwificsiINTC&) = delete;
    CqxwificsiINTC& operator=(const CqxwificsiINTC&) = delete;

    int32_t Open() override;
    int32_t Close() override;
    CsiRecord* GetCsi(void* unused) override;
    int32_t GetMac(uint8_t mac[6]) override;

  private:
    bool SelectFlaggedAdapter();

    uint8_t adapter_[kIntelAdapterEntrySize] = {};
    // The library's memory: it is read, never freed by us.
    uint8_t* list_ = nullptr;
    os::VendorLibrary* module_ = nullptr;
    WifiGetAdapterListFn get_adapter_list_ = nullptr;
    WifiGetBSSConfigurationStatisticsFn get_bss_statistics_ = nullptr;
};

}  // namespace qx
