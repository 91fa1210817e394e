// The link-statistics decoders on the buffers a vendor driver or library
// hands us: the Intel library's adapter list (a count that may promise more
// entries than the 20 we made room for) and BSS statistics, the Qualcomm
// Atheros PPDU log record, and that record's road through the QCA provider on
// the virtual notebook's control device into a station sample.
//
// Input: one selector byte, then the buffer's bytes (short input is padded
// with zeros, long input cut: the library and the driver fill buffers of the
// size we declare).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "daemon/wifi/csi_provider.h"
#include "daemon/wifi/intel_provider.h"
#include "daemon/wifi/qca_provider.h"
#include "daemon/wifi/wlan_monitor.h"
#include "daemon/controller/peer_table.h"
#include "sim/notebook.h"
#include "sim/intel_lib_model.h"
#include "sim/iphlp_model.h"
#include "sim/link_model.h"
#include "sim/qca_device_model.h"

#include "tests/fuzz/fuzz_input.h"

namespace {

using qxfuzz::Check;

// A heap block of exactly `size` bytes, so that any read past it is reported.
std::vector<uint8_t> Block(const uint8_t* data, size_t size, size_t want) {
    std::vector<uint8_t> block(want, 0);
    std::memcpy(block.data(), data, size < want ? size : want);
    return block;
}

void IntelList(const uint8_t* data, size_t size) {
    std::vector<uint8_t> list = Block(data, size, qx::kIntelAdapterListSize);
    const int32_t found = qx::LastFlaggedIntelAdapter(list.data());
    Check(found >= -1 && found < static_cast<int32_t>(qx::kIntelMaxAdapters),
          "adapter index outside the list");
    if (found >= 0) {
        uint32_t flag;
        std::memcpy(
            &flag,
            list.data() + 4 + found * qx::kIntelAdapterEntrySize + qx::kIntelAdapterFlagOffset, 4);
        Check(flag != 0, "an adapter without its query flag chosen");
    }
}

void IntelBss(const uint8_t* data, size_t size) {
    std::vector<uint8_t> bss = Block(data, size, qx::kIntelBssSize);
    qx::CsiRecord record{};
    qx::DecodeIntelBss(bss.data(), &record);
    Check(record.ConnectionState <= 3, "connection state outside 0-3");
}

void Ppdu(const uint8_t* data, size_t size) {
    std::vector<uint8_t> ppdu = Block(data, size, qx::kPpduRecordSize);
    qx::CsiRecord record{};
    qx::DecodePpduRecord(ppdu.data(), &record);
    Check(record.Status <= 1 && (record.ConnectionState == 0 || record.ConnectionState == 2),
          "status or state outside the log's");
    Check(record.RxBandwidth <= 2, "a bandwidth index the rate table has no row for");
}

// The record through the provider and the station sample the worker builds.
void PpduThroughProvider(const uint8_t* data, size_t size) {
    static bool opened = [] {
        qxsim::Notebook::Current().Link().Reset();
        qxsim::Notebook::Current().Link().SetVendor(qxsim::LinkVendor::kQca);
        qxsim::Notebook::Current().IpHelper().Reset();
        qxsim::Notebook::Current().QcaDevice().Reset();
        uint8_t mac[6] = {};
        return qx_wifi_initCSI(mac) == 1;
    }();
    Check(opened, "the QCA provider did not open on the model");
    qxsim::Notebook::Current().QcaDevice().SetRawRecord(Block(data, size, qx::kPpduRecordSize));
    qx::StationSample sta{};
    qx::WlanMonitor wlan;  // a first sample each time: no deltas carried between inputs
    if (qx::CollectStationSample(wlan, &sta) != 0) return;
    Check(sta.LinkState <= 2, "link state outside 0-2");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t which = data[0] % 4;
    ++data;
    --size;
    switch (which) {
        case 0:
            IntelList(data, size);
            break;
        case 1:
            IntelBss(data, size);
            break;
        case 2:
            Ppdu(data, size);
            break;
        default:
            PpduThroughProvider(data, size);
            break;
    }
    return 0;
}
