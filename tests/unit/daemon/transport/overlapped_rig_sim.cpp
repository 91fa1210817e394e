// The contract's rig on the controller model (os_overlapped_sim.cpp): each
// case on a fresh notebook, in virtual time.
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "sim/notebook.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"
#include "tests/unit/daemon/transport/overlapped_contract.h"

namespace qxtest {
namespace {

using qxsim::TransferOutcome;

class SimRig : public OverlappedRig {
  public:
    bool VirtualTime() const override { return true; }
    bool Can(DeviceBehaviour) const override { return true; }
    std::string Run(const std::function<std::string()>& body) override {
        return RunRowOnFreshNotebook([&] {
            qxsim::Notebook::Current().Controller().Reset();
            return body();
        });
    }
    void Behave(DeviceBehaviour b) override {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        switch (b) {
            case DeviceBehaviour::kAtOnce:
                fw.SetWriteOutcome(TransferOutcome::Complete);
                fw.SetReadOutcome(TransferOutcome::Complete);
                m.SetCancelDelay(0);
                m.SetIgnoreCancel(false);
                m.SetRefuseOpen(false);
                break;
            case DeviceBehaviour::kPending:
                fw.SetWriteOutcome(TransferOutcome::Pending);
                fw.SetReadOutcome(TransferOutcome::Pending);
                break;
            case DeviceBehaviour::kFailNow:
                fw.SetWriteOutcome(TransferOutcome::FailNow);
                fw.SetReadOutcome(TransferOutcome::FailNow);
                break;
            case DeviceBehaviour::kCancelLate:
                fw.SetWriteOutcome(TransferOutcome::Pending);
                fw.SetReadOutcome(TransferOutcome::Pending);
                m.SetCancelDelay(300);
                break;
            case DeviceBehaviour::kCancelNever:
                // The model's bus then completes nothing, cancelled or not.
                m.SetIgnoreCancel(true);
                break;
            case DeviceBehaviour::kOpenRefused:
                m.SetRefuseOpen(true);
                break;
        }
    }
    long long NowMs() override {
        return static_cast<long long>(qxsim::Notebook::Current().Kernel().Now());
    }
};

}  // namespace

OverlappedRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
