// The contract's rig through QXVeltrane on the KMDF simulation
// (os_overlapped_kmdf.cpp), in real time: the simulated SPB controller holds
// or fails the driver's transfers. It has no way to complete a cancelled
// request late.
#include <gtest/gtest.h>

#include <chrono>

#include "kmdf/kmdfsim.h"
#include "kmdf/stack/stack.h"
#include "kmdf/usermode.h"
#include "sim/controller_model.h"
#include "sim/notebook.h"
#include "tests/unit/daemon/transport/overlapped_contract.h"
#include "tests/support/driver_stack.h"

namespace qxtest {
namespace {

namespace um = kmdfsim::um;

class KmdfRig : public OverlappedRig {
  public:
    bool VirtualTime() const override { return false; }
    bool Can(DeviceBehaviour b) const override { return b != DeviceBehaviour::kCancelLate; }
    std::string Run(const std::function<std::string()>& body) override {
        qxsim::Notebook::Current().Controller().Reset();
        if (kmdfsim::StartDriverStack(kmdfsim::BusDevice::Controller) != STATUS_SUCCESS)
            return "the driver stack did not start";
        std::string out = body();
        StopDriverStackChecked();
        return out;
    }
    void Behave(DeviceBehaviour b) override {
        auto& spb = kmdfsim::Spb();
        switch (b) {
            case DeviceBehaviour::kAtOnce:
                spb.SetStuck(false);  // what it held ends, as cancelled
                spb.SetMode(kmdfsim::SpbMode::Inline);
                spb.FailNext(STATUS_SUCCESS, 0);
                if (other_ != nullptr) um::Close(other_);
                other_ = nullptr;
                break;
            case DeviceBehaviour::kPending:
                spb.SetMode(kmdfsim::SpbMode::Hold);
                break;
            case DeviceBehaviour::kFailNow:
                spb.FailNext(STATUS_IO_DEVICE_ERROR, -1);
                break;
            case DeviceBehaviour::kCancelNever:
                spb.SetMode(kmdfsim::SpbMode::Hold);
                spb.SetStuck(true);
                break;
            case DeviceBehaviour::kOpenRefused:
                // The device is exclusive: another program holding it refuses ours.
                other_ = um::Open("\\\\.\\QXSPB");
                break;
            case DeviceBehaviour::kCancelLate:
                ADD_FAILURE() << "the simulated SPB controller cannot complete a cancel late";
                break;
        }
    }
    long long NowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }

  private:
    um::Handle* other_ = nullptr;
};

}  // namespace

OverlappedRig& Rig() {
    static KmdfRig rig;
    return rig;
}

}  // namespace qxtest
