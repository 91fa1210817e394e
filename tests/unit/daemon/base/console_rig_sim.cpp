// The contract's console rig on the virtual notebook (os_console_sim.cpp): the
// console model delivers every event.
#include "sim/console_model.h"
#include "sim/notebook.h"
#include "tests/unit/daemon/base/console_contract.h"

namespace qxtest {

bool Can(Needs) {
    return true;
}

void Prepare() {}

void Raise(uint32_t ctrl_type) {
    qxsim::Notebook::Current().Console().RaiseCtrlEvent(ctrl_type);
}

}  // namespace qxtest
