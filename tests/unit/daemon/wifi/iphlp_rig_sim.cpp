// The IP Helper contracts' rig on the virtual notebook (os_iftable_sim.cpp,
// os_iphlp_sim.cpp): the IP Helper and link models, reset for each row.
#include "sim/iphlp_model.h"
#include "sim/link_model.h"
#include "sim/notebook.h"
#include "tests/unit/daemon/wifi/iphlp_contract.h"

namespace qxtest {
namespace {

class SimRig : public IpHelperRig {
  public:
    bool CanLayOut() const override { return true; }
    std::string Run(const std::function<std::string()>& body) override {
        qxsim::Notebook::Current().Link().Reset();
        qxsim::Notebook::Current().IpHelper().Reset();
        return body();
    }
    void ListAdapters(bool ethernet, bool wifi) override {
        auto& model = qxsim::Notebook::Current().IpHelper();
        if (!ethernet) model.SetExtraAdapters({});
        model.SetWifiAdapterListed(wifi);
    }
    void SetWifiCounters(uint64_t in_octets, uint64_t out_octets, uint64_t in_ucast,
                         uint64_t out_ucast) override {
        qxsim::LinkCounters c;
        c.rx_bytes = in_octets;
        c.tx_bytes = out_octets;
        c.rx_packets = in_ucast;
        c.tx_packets = out_ucast;
        qxsim::Notebook::Current().Link().SetCounters(c);
    }
};

}  // namespace

IpHelperRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
