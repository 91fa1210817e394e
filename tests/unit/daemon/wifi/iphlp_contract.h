// The IP Helper seams' contracts (daemon/wifi/os_iftable.h, the interface
// table, and daemon/wifi/os_iphlp.h, the adapter list) as the daemon builds
// on them, run against each half through one rig per half: the notebook's IP
// Helper model (_sim) and, under Wine, the real iphlpapi (_win32). Wine's
// answers mirror the machine's own interfaces, so that rig lays nothing out:
// rows that need a laid-out world run only where CanLayOut() says so.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qxtest {

class IpHelperRig {
  public:
    virtual ~IpHelperRig() = default;
    virtual bool CanLayOut() const = 0;
    // Runs body on the rig's world: where it can be laid out, an Ethernet
    // adapter and then the notebook's Wi-Fi adapter (notebook_ids.h), both
    // listed, counters at 0. Returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // Which of the two adapters are there (CanLayOut() only).
    virtual void ListAdapters(bool ethernet, bool wifi) = 0;
    // What the Wi-Fi adapter has counted (CanLayOut() only).
    virtual void SetWifiCounters(uint64_t in_octets, uint64_t out_octets, uint64_t in_ucast,
                                 uint64_t out_ucast) = 0;
};

// The half linked into this test.
IpHelperRig& Rig();

}  // namespace qxtest
