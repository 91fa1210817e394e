// The contract's rig on the virtual notebook (os_cfgmgr_sim.cpp): each case
// on a fresh notebook; another program's handle vetoes the disable, and the
// fault plan fails the next call.
#include "sim/device_handles.h"
#include "sim/device_install_model.h"
#include "sim/fault_plan.h"
#include "sim/notebook.h"
#include "tests/support/child_process.h"
#include "tests/unit/daemon/transport/cfgmgr_contract.h"
#include "tests/unit/daemon/transport/cfgmgr_rig_notebook.h"

namespace qxtest {
namespace {

class SimRig : public CfgMgrRig {
  public:
    bool Can(Refusal) const override { return true; }
    std::string Run(const std::function<std::string()>& body) override {
        return RunRowOnFreshNotebook([&] {
            qxsim::Notebook::Current().DeviceInstall().Reset();
            qxsim::Notebook::Current().DeviceHandles().Reset();
            return body();
        });
    }
    void SetNode(const char16_t* instance_id) override { StageNotebookNode(instance_id); }
    void Refuse(Refusal r) override {
        auto& faults = qxsim::Notebook::Current().Faults();
        auto fail_next = [&faults](qxsim::FaultKind kind) {
            faults.FailCall(kind, faults.Calls(kind) + 1);
        };
        switch (r) {
            case Refusal::kNone:
                break;
            case Refusal::kDisableVetoed:
                qxsim::Notebook::Current().DeviceHandles().OpenByAnotherProgram();
                break;
            case Refusal::kDisableFailed:
                fail_next(qxsim::FaultKind::kNodeDisable);
                break;
            case Refusal::kEnableFailed:
                fail_next(qxsim::FaultKind::kNodeEnable);
                break;
        }
    }
    bool Disabled() override {
        return !qxsim::Notebook::Current().DeviceInstall().ControllerEnabled();
    }
};

}  // namespace

CfgMgrRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
