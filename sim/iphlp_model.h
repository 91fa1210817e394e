// The virtual notebook's IP Helper: the adapter list of GetAdaptersInfo and
// the interface table of GetIfTable. The Wi-Fi adapter's entries follow the
// link model (its MAC, its adapter name, its counters); tests add other
// adapters and make calls fail.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/link_model.h"

namespace qxsim {

struct SimAdapter {
    Mac mac{};
    std::string adapter_name;  // "{GUID}"
    std::string description;
    uint32_t if_index = 0;
};

// One row of the interface table (the MIB_IFROW fields the daemon reads).
struct SimIfRow {
    uint32_t if_index = 0;
    uint32_t type = 71;  // IF_TYPE_IEEE80211; the loopback row is 24
    Mac phys_addr{};
    uint32_t phys_addr_len = 6;
    uint64_t in_octets = 0;  // 32-bit on the real table: readers keep the low half
    uint64_t out_octets = 0;
    uint64_t in_ucast_pkts = 0;
    uint64_t in_nucast_pkts = 0;
    uint64_t out_ucast_pkts = 0;
    uint64_t out_nucast_pkts = 0;
};

class IpHelperModel {
  public:
    friend class Notebook;  // builds the one instance

    // Back to one Ethernet adapter ahead of the Wi-Fi adapter, no failures.
    void Reset();

    // The adapter chain in order: the extra adapters, then the Wi-Fi adapter
    // of the link model (unless hidden).
    std::vector<SimAdapter> Adapters();
    void SetExtraAdapters(std::vector<SimAdapter> adapters);
    void SetWifiAdapterListed(bool listed);
    // The same chain without allocating, for the per-cycle lookups.
    using AdapterVisitor = void (*)(void* context, const Mac& mac, const char* adapter_name,
                                    const char* description, uint32_t if_index);
    void VisitAdapters(AdapterVisitor visit, void* context);

    // GetAdaptersInfo knobs: the next n calls fail with this Win32 code
    // (111 makes the caller retry with a larger buffer).
    void FailAdaptersInfo(uint32_t code, int count);
    // 0, or the code the next call fails with (consumes one failure).
    uint32_t TakeAdaptersInfoFailure();
    int AdaptersInfoCalls();

    // The interface table: the software loopback interface's row (which
    // GetIfTable always lists and GetAdaptersInfo never does), then one row
    // per adapter, the Wi-Fi row counting what the link model counts.
    std::vector<SimIfRow> IfTable();
    void FailIfTable(uint32_t code, int count);
    uint32_t TakeIfTableFailure();
    // A table whose count claims more than it holds: it asks for, and fills,
    // this many bytes fewer than its rows take (the last row cut short),
    // while its count still names every row. 0: an honest table.
    void SetIfTableShortBy(uint32_t bytes);
    uint32_t IfTableShortBy();

  private:
    std::mutex m_;
    std::vector<SimAdapter> extra_;
    bool wifi_listed_ = true;
    uint32_t ai_fail_code_ = 0;
    int ai_fail_count_ = 0;
    int ai_calls_ = 0;
    uint32_t it_fail_code_ = 0;
    int it_fail_count_ = 0;
    uint32_t it_short_by_ = 0;
};

}  // namespace qxsim
