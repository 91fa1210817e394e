// The contract's rig on the virtual notebook (os_scm_sim.cpp): the service
// manager model, emptied for each row, its service stopping a moment after
// the stop control on the virtual clock. A row that leaves a handle open or
// uses one wrongly fails through the model's violations.
#include <gtest/gtest.h>

#include "sim/notebook.h"
#include "sim/scm_model.h"
#include "tests/unit/uninstall/scm_contract.h"

namespace qxtest {
namespace {

class SimRig : public ScmRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        auto& scm = qxsim::Notebook::Current().Scm();
        scm.Reset();
        std::string out = body();
        EXPECT_EQ(scm.OpenHandles(), 0) << "a handle left open";
        for (const auto& v : scm.Violations()) ADD_FAILURE() << v;
        return out;
    }
    void AddService(bool running) override {
        qxsim::ScmModel::Service service;
        service.name = kScmService;
        service.state = running ? qxsim::kSvcRunning : qxsim::kSvcStopped;
        service.stops_after_ms = 300;
        qxsim::Notebook::Current().Scm().AddService(service);
    }
};

}  // namespace

ScmRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
