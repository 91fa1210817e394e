#include "daemon/wifi/qca_provider.h"

#include <cstdlib>
#include <cstring>

#include "daemon/base/os_process.h"
#include "daemon/base/os_thread.h"
#include "daemon/wifi/le_bytes.h"
#include "daemon/wifi/os_iftable.h"
#include "daemon/wifi/os_provider_mem.h"
#include "daemon/wifi/os_vendor_device.h"

namespace qx {

namespace {

const wchar_t kQcaDevicePath[] = L"\\\\.\\ATH_WIFIDEV.00";

// The signal words hold one byte per chain, in the order chain 1, 0, 3, 2.
constexpr int kChainByte[4] = {1, 0, 3, 2};

int32_t ChainDbm(const uint8_t* word, int chain) {
    return static_cast<int32_t>(word[kChainByte[chain]]) - 95;
}

bool AllZero(const uint8_t mac[6]) {
    for (int i = 0; i < 6; ++i) {
        if (mac[i] != 0) return false;
    }
    return true;
}

}  // namespace

void DecodePpduRecord(const uint8_t* ppdu, CsiRecord* record) {
    uint32_t valid = ppdu[4] & 1u;
    record->Status = valid;
    record->ConnectionState = valid != 0 ? 2 : 0;
    std::memcpy(record->PeerMac, ppdu + 27, 6);

    uint8_t type = ppdu[14];
    uint32_t sig1 = Le24(ppdu + 15);
    uint32_t sig2 = Le24(ppdu + 19);
    uint8_t mcs = 0;
    uint8_t nss = 0;
    uint8_t bandwidth = 0;
    uint8_t short_gi = 0;
    if (type == kPpduHt || type == kPpduHtGreenfield) {
        // HT-SIG1 carries the MCS (streams in its upper bits) and the 40 MHz
        // flag in bit 7; HT-SIG2 the short guard interval in bit 7.
        mcs = static_cast<uint8_t>(sig1 & 0x7);
        nss = static_cast<uint8_t>((sig1 >> 3) & 0xF);
        bandwidth = (sig1 & 0x80) != 0 ? 1 : 0;
        short_gi = (sig2 & 0x80) != 0 ? 1 : 0;
    } else if (type == kPpduVht || type == kPpduVhtOther) {
        short_gi = static_cast<uint8_t>(sig2 & 0x1);
        mcs = static_cast<uint8_t>((sig2 >> 4) & 0xF);
        nss = static_cast<uint8_t>((sig1 >> 10) & 0x7);
        bandwidth = static_cast<uint8_t>(sig1 & 0x3);
        // 160 MHz has no row in the consumer's rate table.
        if (bandwidth == 3) bandwidth = 0;
    }
    // The record carries streams minus one.
    nss = static_cast<uint8_t>(nss + 1);

    record->RxRate = 0;
    record->RxMcs = mcs;
    record->RxNss = nss;
    record->RxBandwidth = bandwidth;
    record->RxShortGi = short_gi;
    // The log only sees received PPDUs; they stand for both directions.
    record->TxRate = 0;
    record->TxMcs = mcs;
    record->TxNss = nss;
    record->TxBandwidth = bandwidth;
    record->TxShortGi = short_gi;

    for (int chain = 0; chain < 4; ++chain) {
        record->Rssi[chain] = ChainDbm(ppdu + 7, chain);
        record->RssiAverage[chain] = ChainDbm(ppdu + 23, chain);
    }
    record->TxBytes = 0;
    record->TxPackets = 0;
    record->RxBytes = 0;
    record->RxPackets = 0;
}

void FillInterfaceCounters(const uint8_t mac[6], CsiRecord* record) {
    uint32_t size = kIfTableFirstTry;
    auto* table = static_cast<uint8_t*>(os::HeapAllocZeroed(size));
    if (table == nullptr) return;
    uint32_t rc = os::GetInterfaceTable(table, &size);
    if (rc == os::kErrorInsufficientBuffer) {
        os::HeapFreeBlock(table);
        table = static_cast<uint8_t*>(os::HeapAllocZeroed(size));
        if (table == nullptr) return;
        rc = os::GetInterfaceTable(table, &size);
    }
    if (rc != 0) {
        os::HeapFreeBlock(table);
        return;
    }
    uint32_t count = Le32(table);
    // Never walk past the rows the buffer can hold, whatever the count says.
    uint32_t room =
        size < os::kIfTableRowsOffset
            ? 0
            : static_cast<uint32_t>((size - os::kIfTableRowsOffset) / sizeof(os::IfTableRow));
    if (count > room) count = room;
    for (uint32_t i = 0; i < count; ++i) {
        os::IfTableRow row;
        std::memcpy(&row, table + os::kIfTableRowsOffset + i * sizeof(os::IfTableRow), sizeof row);
        if (std::memcmp(row.PhysAddr, mac, 6) != 0) continue;
        record->TxBytes = row.OutOctets;
        record->RxBytes = row.InOctets;
        record->TxPackets = static_cast<uint32_t>(row.OutUcastPkts + row.OutNUcastPkts);
        record->RxPackets = static_cast<uint32_t>(row.InUcastPkts + row.InNUcastPkts);
        break;
    }
    os::HeapFreeBlock(table);
}

bool CqxwificsiQCA::Command(const char* text, uint8_t* out) {
    char in[kPpduCommandSize] = {};
    std::strncpy(in, text, sizeof in - 1);
    uint32_t returned = 0;
    return os::VendorDeviceControl(device_, kPpduLogControlCode, in, sizeof in, out,
                                   out != nullptr ? kPpduRecordSize : 0, &returned);
}

int32_t CqxwificsiQCA::Open() {
    device_ = os::VendorDeviceOpen(kQcaDevicePath);
    if (device_ == nullptr) return 0;
    uint8_t out[kPpduRecordSize] = {};
    Command("ppdulog_stop", out);
    os::SleepMs(100);
    if (!Command("ppdulog_start", out)) {
        // Nobody closes a provider whose Open failed: the handle is ours to drop.
        os::VendorDeviceClose(device_);
        device_ = nullptr;
        return 0;
    }
    os::SleepMs(100);
    return 1;
}

int32_t CqxwificsiQCA::Close() {
    if (device_ != nullptr) {
        Command("ppdulog_stop", nullptr);
        os::VendorDeviceClose(device_);
        device_ = nullptr;
    }
    return 1;
}

int32_t CqxwificsiQCA::GetMac(uint8_t mac[6]) {
    if (device_ == nullptr) return 0;
    uint8_t out[kPpduRecordSize] = {};
    if (!Command("ppdulog_stop", out)) return 0;
    std::memset(out, 0, sizeof out);
    if (!Command("ppdulog_read", out)) return 0;
    const uint8_t* own = out + kPpduOwnMacOffset;
    bool known = !AllZero(own);
    if (known) std::memcpy(mac_, own, 6);
    uint8_t scratch[kPpduRecordSize] = {};
    if (!Command("ppdulog_start", scratch)) return 0;
    // Until a PPDU has been logged the own address reads as zeros; binding
    // that would steer nothing, so the caller is told to ask again.
    if (!known) return 0;
    std::memcpy(mac, mac_, 6);
    return 1;
}

CsiRecord* CqxwificsiQCA::GetCsi(void* /*unused*/) {
    if (device_ == nullptr) return nullptr;
    uint8_t out[kPpduRecordSize] = {};
    Command("ppdulog_stop", out);
    std::memset(out, 0, sizeof out);
    if (!Command("ppdulog_read", out)) return nullptr;
    auto* record = static_cast<CsiRecord*>(os::ProviderAlloc(sizeof(CsiRecord)));
    if (record == nullptr) {
        uint8_t scratch[kPpduRecordSize] = {};
        Command("ppdulog_start", scratch);
        return nullptr;
    }
    DecodePpduRecord(out, record);
    // Until the adapter's own address is known, no row can be ours.
    if (!AllZero(mac_)) FillInterfaceCounters(mac_, record);
    uint8_t scratch[kPpduRecordSize] = {};
    Command("ppdulog_start", scratch);
    return record;
}

}  // namespace qx
