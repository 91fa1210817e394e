// The contract's rig on the virtual notebook (os_vendor_lib_sim.cpp): the
// Intel library model, present when the link's vendor is Intel. A row that
// leaves a load held, frees one twice or looks up an export of a freed
// library fails through the model's violations.
#include <gtest/gtest.h>

#include "sim/intel_lib_model.h"
#include "sim/link_model.h"
#include "sim/notebook.h"
#include "tests/unit/daemon/wifi/vendor_lib_contract.h"

namespace qxtest {
namespace {

class SimRig : public VendorLibRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        auto& notebook = qxsim::Notebook::Current();
        notebook.Reset();
        notebook.Link().SetVendor(qxsim::LinkVendor::kNone);
        std::string out = body();
        EXPECT_EQ(notebook.IntelLib().LoadedNow(), 0) << "a load left held";
        for (const auto& v : notebook.IntelLib().Violations()) ADD_FAILURE() << v;
        return out;
    }
    void Install() override {
        qxsim::Notebook::Current().Link().SetVendor(qxsim::LinkVendor::kIntel);
    }
};

}  // namespace

VendorLibRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
