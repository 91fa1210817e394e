// The WLAN contract's rig on the virtual notebook (os_wlan_sim.cpp): the
// WLAN service model, reset for each row; a row that leaves a client handle
// open fails.
#include <gtest/gtest.h>

#include "sim/notebook.h"
#include "sim/wlan_model.h"
#include "tests/unit/daemon/wifi/wlan_contract.h"
#include "tests/wine/doubles/notebook_ids.h"

namespace qxtest {
namespace {

qxsim::Guid Parse(const char* text) {
    qxsim::Guid g{};
    EXPECT_TRUE(qxsim::ParseGuidText(text, &g)) << text;
    return g;
}

class SimRig : public WlanRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        auto& wlan = qxsim::Notebook::Current().Wlan();
        wlan.Reset();
        ListInterfaces(2);
        std::string out = body();
        EXPECT_EQ(wlan.OpenHandles(), 0) << "a client handle left open";
        return out;
    }
    void ListInterfaces(int count) override {
        std::vector<qxsim::Guid> guids;
        if (count == 2) guids.push_back(Parse(QX_OTHER_ADAPTER_NAME));
        if (count >= 1) guids.push_back(Parse(QX_NOTEBOOK_ADAPTER_NAME));
        qxsim::Notebook::Current().Wlan().SetInterfaces(guids);
    }
    void Fire(uint32_t source, uint32_t code, bool ours) override {
        qxsim::Notebook::Current().Wlan().Notify(
            source, code, Parse(ours ? QX_NOTEBOOK_ADAPTER_NAME : QX_OTHER_ADAPTER_NAME));
    }
};

}  // namespace

WlanRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
