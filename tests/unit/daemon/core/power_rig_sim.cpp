// The contract's rig on the virtual notebook (os_power_sim.cpp): each row on
// a fresh notebook, the power manager played by the power model.
#include "sim/notebook.h"
#include "sim/power_model.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"
#include "tests/unit/daemon/core/power_contract.h"

namespace qxtest {
namespace {

qxsim::PowerModel& Power() {
    return qxsim::Notebook::Current().Power();
}

class SimRig : public PowerRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        return RunRowOnFreshNotebook(body);
    }
    void SetModernStandby(bool aoac) override { Power().SetModernStandby(aoac); }
    void RefuseRegistration() override { Power().SetDisplayRegistrationExists(false); }
    void SetDisplay(uint32_t state) override { Power().SetDisplayState(state); }
    void Pause(uint32_t ms) override { qxsim::Notebook::Current().Kernel().Sleep(ms); }
};

}  // namespace

PowerRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
