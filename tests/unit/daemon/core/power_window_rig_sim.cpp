// The contract's rig on the virtual notebook (os_power_window_sim.cpp): each
// row on a fresh notebook, the system's side played by the power model. A
// row that leaves the window thread running fails through the notebook's
// own check of threads left behind.
#include "sim/notebook.h"
#include "sim/power_model.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"
#include "tests/unit/daemon/core/power_window_contract.h"

namespace qxtest {
namespace {

qxsim::PowerModel& Power() {
    return qxsim::Notebook::Current().Power();
}

// The window thread creates its window when it first runs: give it up to
// 100 ms of virtual time, as a caller of FindWindow would wait.
bool WindowUp() {
    for (int i = 0; i < 100 && !Power().WindowExists(); ++i)
        qxsim::Notebook::Current().Kernel().Sleep(1);
    return Power().WindowExists();
}

class SimRig : public PowerWindowRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        return RunRowOnFreshNotebook(body);
    }
    void Broadcast(uintptr_t pbt_code) override {
        if (!WindowUp()) return;
        Power().Broadcast(pbt_code);
        qxsim::Notebook::Current().Kernel().Sleep(1);
    }
    bool EndSession(bool ends, bool logoff) override {
        if (!WindowUp()) return false;
        Power().EndSession(ends, logoff);
        qxsim::Notebook::Current().Kernel().Sleep(1);
        const auto answers = Power().QueryEndSessionAnswers();
        return !answers.empty() && answers.back() == 1;
    }
};

}  // namespace

PowerWindowRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
