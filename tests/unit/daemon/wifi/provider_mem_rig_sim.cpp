// The providers' memory contract's rig on the virtual notebook
// (os_provider_mem_sim.cpp): the fault plan, reset for each row.
#include "sim/fault_plan.h"
#include "sim/notebook.h"
#include "tests/unit/daemon/wifi/provider_mem_contract.h"

namespace qxtest {
namespace {

class SimRig : public ProviderMemRig {
  public:
    bool CanFail() const override { return true; }
    std::string Run(const std::function<std::string()>& body) override {
        qxsim::Notebook::Current().Faults().Reset();
        std::string out = body();
        qxsim::Notebook::Current().Faults().Reset();
        return out;
    }
    void FailNextAlloc() override {
        auto& faults = qxsim::Notebook::Current().Faults();
        faults.FailCall(qxsim::FaultKind::kProviderAlloc,
                        faults.Calls(qxsim::FaultKind::kProviderAlloc) + 1);
    }
};

}  // namespace

ProviderMemRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
