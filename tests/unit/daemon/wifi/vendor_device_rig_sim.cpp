// The contract's rig on the virtual notebook (os_vendor_device_sim.cpp): the
// QCA device model, present when the link's vendor is QCA. A row that leaves
// a handle open or uses one it closed fails through the model.
#include <gtest/gtest.h>

#include "sim/link_model.h"
#include "sim/notebook.h"
#include "sim/qca_device_model.h"
#include "tests/unit/daemon/wifi/vendor_device_contract.h"

namespace qxtest {
namespace {

class SimRig : public VendorDeviceRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        auto& notebook = qxsim::Notebook::Current();
        notebook.Reset();
        notebook.Link().SetVendor(qxsim::LinkVendor::kQca);
        std::string out = body();
        EXPECT_EQ(notebook.QcaDevice().OpenHandles(), 0) << "a handle left open";
        for (const auto& v : notebook.QcaDevice().Violations()) ADD_FAILURE() << v;
        return out;
    }
    void FailNext(const char* command) override {
        qxsim::Notebook::Current().QcaDevice().FailCommand(command, 1);
    }
};

}  // namespace

VendorDeviceRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
