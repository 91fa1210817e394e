// The IP Helper contracts' rig under Wine (os_iftable_win32.cpp,
// os_iphlp_win32.cpp): Wine's own iphlpapi, whose adapters and interface rows
// are the machine's. Nothing can be laid out here, so only the rows that hold
// on any machine run: the size protocol, the loopback interface, the shape of
// the list. A machine with no adapter but loopback lists nothing at all, and
// the adapter list's rows are skipped there.
#include <gtest/gtest.h>

#include "tests/unit/daemon/wifi/iphlp_contract.h"

namespace qxtest {
namespace {

class Win32Rig : public IpHelperRig {
  public:
    bool CanLayOut() const override { return false; }
    std::string Run(const std::function<std::string()>& body) override { return body(); }
    void ListAdapters(bool, bool) override { ADD_FAILURE() << "the machine's adapters are fixed"; }
    void SetWifiCounters(uint64_t, uint64_t, uint64_t, uint64_t) override {
        ADD_FAILURE() << "the machine's counters are its own";
    }
};

}  // namespace

IpHelperRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
