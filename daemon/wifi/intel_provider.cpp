#include "daemon/wifi/intel_provider.h"

#include <cstdlib>
#include <cstring>

#include "daemon/wifi/le_bytes.h"
#include "daemon/wifi/os_provider_mem.h"
#include "daemon/wifi/os_vendor_lib.h"

namespace qx {

namespace {

const wchar_t kIntelLibraryPath[] = L"C:\\Program Files\\Intel\\WiFi\\bin\\murocapi.dll";

IntelRequestHeader MakeHeader(uint32_t size) {
    IntelRequestHeader header{};
    header.Version = kIntelHeaderVersion;
    header.Size = size;
    return header;
}

uint8_t GuardInterval(uint8_t raw) {
    return raw == 1 ? 1 : 0;
}

}  // namespace

int32_t LastFlaggedIntelAdapter(const uint8_t* list) {
    if (list == nullptr) return -1;
    uint32_t count = Le32(list);
    // The count is the library's word; our request only made room for 20.
    if (count > kIntelMaxAdapters) count = kIntelMaxAdapters;
    int32_t found = -1;
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = list + 4 + i * kIntelAdapterEntrySize;
        if (Le32(entry + kIntelAdapterFlagOffset) != 0) found = static_cast<int32_t>(i);
    }
    return found;
}

void DecodeIntelBss(const uint8_t* bss, CsiRecord* record) {
    record->Status = Le32(bss + 0);
    uint32_t state = Le32(bss + 4);
    record->ConnectionState = state <= 2 ? state : 3;
    std::memcpy(record->PeerMac, bss + 8, 6);
    record->TxBytes = Le64(bss + 14);
    record->TxPackets = Le64(bss + 22);
    record->TxRate = Le16(bss + 30);
    record->TxMcs = bss[32];
    record->TxNss = bss[33];
    record->TxBandwidth = bss[34];
    record->TxShortGi = GuardInterval(bss[36]);
    record->RxBytes = Le64(bss + 37);
    record->RxPackets = Le64(bss + 45);
    for (int chain = 0; chain < 3; ++chain) {
        record->Rssi[chain] = static_cast<int32_t>(Le32(bss + 53 + 4 * chain));
    }
    // The library measures three chains and no averages.
    record->Rssi[3] = -100;
    for (int32_t& average : record->RssiAverage) average = 0;
    record->RxRate = Le16(bss + 65);
    record->RxMcs = bss[67];
    record->RxNss = bss[68];
    record->RxBandwidth = bss[69];
    record->RxShortGi = GuardInterval(bss[71]);
}

CqxwificsiINTC::~CqxwificsiINTC() {
    if (module_ != nullptr) Close();
}

int32_t CqxwificsiINTC::Open() {
    module_ = os::VendorLibraryLoad(kIntelLibraryPath);
    if (module_ == nullptr) return 0;
    get_adapter_list_ = reinterpret_cast<WifiGetAdapterListFn>(
        os::VendorLibrarySymbol(module_, "WifiGetAdapterList"));
    get_bss_statistics_ = reinterpret_cast<WifiGetBSSConfigurationStatisticsFn>(
        os::VendorLibrarySymbol(module_, "WifiGetBSSConfigurationStatistics"));

    if (get_adapter_list_ != nullptr) {
        IntelRequestHeader header = MakeHeader(kIntelAdapterListSize);
        void* list = nullptr;
        // A failed call leaves no list we could trust: it counts as empty.
        if (get_adapter_list_(&header, &list) == 0) list_ = static_cast<uint8_t*>(list);
        if (list_ != nullptr && Le32(list_) != 0) {
            std::memcpy(adapter_, list_ + 4, kIntelAdapterEntrySize);
        }
    }
    if (get_adapter_list_ == nullptr || get_bss_statistics_ == nullptr) {
        // The list is the library's memory; it goes with the library.
        list_ = nullptr;
        return 0;
    }

    IntelRequestHeader header = MakeHeader(kIntelBssSize);
    uint8_t bss[kIntelBssSize] = {};
    return get_bss_statistics_(Le32(adapter_ + kIntelAdapterIdOffset), &header, bss) == 0 ? 1 : 0;
}

int32_t CqxwificsiINTC::Close() {
    if (module_ != nullptr) {
        os::VendorLibraryFree(module_);
        module_ = nullptr;
    }
    // Everything below pointed into the library just unloaded.
    list_ = nullptr;
    get_adapter_list_ = nullptr;
    get_bss_statistics_ = nullptr;
    return 1;
}

bool CqxwificsiINTC::SelectFlaggedAdapter() {
    int32_t index = LastFlaggedIntelAdapter(list_);
    if (index < 0) return false;
    std::memcpy(adapter_, list_ + 4 + static_cast<uint32_t>(index) * kIntelAdapterEntrySize,
                kIntelAdapterEntrySize);
    return true;
}

CsiRecord* CqxwificsiINTC::GetCsi(void* /*unused*/) {
    if (get_bss_statistics_ == nullptr) return nullptr;
    if (!SelectFlaggedAdapter()) return nullptr;
    IntelRequestHeader header = MakeHeader(kIntelBssSize);
    uint8_t bss[kIntelBssSize] = {};
    if (get_bss_statistics_(Le32(adapter_ + kIntelAdapterIdOffset), &header, bss) != 0)
        return nullptr;
    if (Le32(bss) != 0) return nullptr;
    auto* record = static_cast<CsiRecord*>(os::ProviderAlloc(sizeof(CsiRecord)));
    if (record == nullptr) return nullptr;
    DecodeIntelBss(bss, record);
    return record;
}

int32_t CqxwificsiINTC::GetMac(uint8_t mac[6]) {
    // The same adapter GetCsi samples, so the MAC we bind matches the statistics.
    if (!SelectFlaggedAdapter()) return 0;
    std::memcpy(mac, adapter_ + kIntelAdapterMacOffset, 6);
    return 1;
}

}  // namespace qx
