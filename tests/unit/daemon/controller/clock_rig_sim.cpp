// The contract's rig on the virtual notebook (os_clock_sim.cpp): each row on
// a fresh notebook, whose wall clock is its boot date plus the virtual time.
#include "sim/notebook.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"
#include "tests/unit/daemon/controller/clock_contract.h"

namespace qxtest {
namespace {

class SimRig : public ClockRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        return RunRowOnFreshNotebook(body);
    }
    void Pause(uint32_t ms) override { qxsim::Notebook::Current().Kernel().Sleep(ms); }
};

}  // namespace

ClockRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
