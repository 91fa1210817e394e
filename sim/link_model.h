// The virtual notebook's Wi-Fi link: the adapter (MAC, adapter name, the
// interface GUID), the access point it is associated with, per-chain signal
// strength, rates, and byte and packet counters that grow with virtual time.
// Tests and qxsim script it (roams, link loss, provider loss) at virtual
// times; the WLAN service, IP Helper and vendor-source models read it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "sim/vkernel.h"

namespace qxsim {

using Mac = std::array<uint8_t, 6>;

// The notebook's Wi-Fi adapter as the platform knows it. The adapter name is
// the braced upper-case GUID text that IP Helper reports as AdapterName and
// that StringFromGUID2 makes of the WLAN interface GUID.
constexpr Mac kNotebookAdapterMac = {0x3c, 0xa9, 0xf4, 0x51, 0x7e, 0x20};
constexpr const char* kNotebookAdapterName = "{6B29FC40-CA47-4067-B31D-00DD010662DA}";
// The access points of the default scenery.
constexpr Mac kHomeBssid = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3};
constexpr Mac kOtherBssid = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xd4};

// One direction's rate as a vendor source reports it.
struct LinkRate {
    uint16_t rate_mbps = 0;  // 0 or 65535: unknown
    uint8_t mcs = 0;
    uint8_t nss = 1;
    uint8_t bandwidth_index = 0;  // 0 = 20, 1 = 40, 2 = 80, 3 = 160 MHz
    uint8_t short_gi = 0;
};

// The link as it is from some virtual time on.
struct LinkState {
    uint32_t connection_state = 1;  // 0..3 as the vendor sources report it; 1, 2 = associated
    Mac bssid = kHomeBssid;
    int32_t rssi[4] = {-52, -58, -100, -100};          // dBm per chain
    int32_t rssi_average[4] = {-53, -57, -100, -100};  // 0: not provided
    // Traffic: counters grow by these per second of virtual time.
    uint64_t rx_bytes_per_s = 1250000;
    uint64_t tx_bytes_per_s = 250000;
    uint64_t rx_packets_per_s = 900;
    uint64_t tx_packets_per_s = 300;
    LinkRate rx{433, 9, 1, 2, 1};
    LinkRate tx{390, 8, 1, 2, 1};
};

// Cumulative counters of the adapter.
struct LinkCounters {
    uint64_t rx_bytes = 0;
    uint64_t tx_bytes = 0;
    uint64_t rx_packets = 0;
    uint64_t tx_packets = 0;
};

// Which vendor link-statistics source the notebook has.
enum class LinkVendor { kNone, kIntel, kQca };

class LinkModel {
  public:
    friend class Notebook;  // builds the one instance

    // Back to the default scenery: the adapter above, associated with
    // kHomeBssid, an Intel source present, counters at 0 from now on.
    void Reset();

    // The adapter.
    Mac AdapterMac();
    std::string AdapterName();
    void SetAdapter(const Mac& mac, const std::string& adapter_name);
    // Both at once without allocating (the per-cycle lookups use it): the
    // name is cut to size - 1 characters and terminated.
    void AdapterIdentity(Mac* mac, char* name, size_t size);

    // The link now, and a change that takes effect now.
    LinkState Current();
    void Set(const LinkState& state);
    void Change(const std::function<void(LinkState&)>& change);
    // The same change at a virtual time (now when it has passed).
    void ChangeAt(VTime when, std::function<void(LinkState&)> change);

    // Scripted events of the usual scenarios.
    void RoamAt(VTime when, const Mac& bssid);      // associated with another access point
    void LinkLossAt(VTime when);                    // connection state 0, no traffic
    void LinkBackAt(VTime when, const Mac& bssid);  // associated again, default traffic

    // Counters integrated over virtual time up to now.
    LinkCounters Counters();
    // Puts the counters at these values now (e.g. near a wrap, or a driver reset).
    void SetCounters(const LinkCounters& counters);

    // The vendor source and whether it currently answers (provider loss).
    LinkVendor Vendor();
    void SetVendor(LinkVendor vendor);
    bool ProviderAvailable();
    void SetProviderAvailable(bool available);
    void ProviderLossAt(VTime when, bool available);

  private:
    void AdvanceLocked(VTime now);

    std::mutex m_;
    Mac adapter_mac_ = kNotebookAdapterMac;
    std::string adapter_name_ = kNotebookAdapterName;
    LinkState state_;
    LinkCounters counters_;
    // Sub-second remainders, so that short polling intervals lose nothing.
    uint64_t rem_[4] = {0, 0, 0, 0};
    VTime counted_until_ = 0;
    bool started_ = false;
    LinkVendor vendor_ = LinkVendor::kIntel;
    bool provider_available_ = true;
};

}  // namespace qxsim
