// The contract's rig with QXVeltrane on the KMDF simulation behind the node
// (os_cfgmgr_kmdf.cpp): a disable removes the driver's device and an enable
// starts it again. An open handle vetoes the removal; the simulation has no
// way to fail a disable or an enable otherwise.
#include <gtest/gtest.h>

#include "kmdf/kmdfsim.h"
#include "kmdf/stack/stack.h"
#include "kmdf/usermode.h"
#include "sim/controller_model.h"
#include "sim/device_install_model.h"
#include "sim/notebook.h"
#include "tests/unit/daemon/transport/cfgmgr_contract.h"
#include "tests/unit/daemon/transport/cfgmgr_rig_notebook.h"
#include "tests/support/driver_stack.h"

namespace qxtest {
namespace {

namespace um = kmdfsim::um;

class KmdfRig : public CfgMgrRig {
  public:
    bool Can(Refusal r) const override {
        return r == Refusal::kNone || r == Refusal::kDisableVetoed;
    }
    std::string Run(const std::function<std::string()>& body) override {
        qxsim::Notebook::Current().DeviceInstall().Reset();
        qxsim::Notebook::Current().Controller().Reset();
        if (kmdfsim::StartDriverStack(kmdfsim::BusDevice::Controller) != STATUS_SUCCESS)
            return "the driver stack did not start";
        std::string out = body();
        if (holder_ != nullptr) um::Close(holder_);
        holder_ = nullptr;
        StopDriverStackChecked();
        return out;
    }
    void SetNode(const char16_t* instance_id) override { StageNotebookNode(instance_id); }
    void Refuse(Refusal r) override {
        if (r == Refusal::kDisableVetoed) holder_ = um::Open("\\\\.\\QXSPB");
    }
    bool Disabled() override {
        return !qxsim::Notebook::Current().DeviceInstall().ControllerEnabled();
    }

  private:
    um::Handle* holder_ = nullptr;
};

}  // namespace

CfgMgrRig& Rig() {
    static KmdfRig rig;
    return rig;
}

}  // namespace qxtest
