// The contract's rig on the virtual notebook (os_eventlog_sim.cpp): the
// event log model, emptied for each row. A row that leaves a source
// registered or reports on a deregistered one fails through the model.
#include <gtest/gtest.h>

#include "sim/eventlog_model.h"
#include "sim/notebook.h"
#include "tests/unit/daemon/base/eventlog_contract.h"

namespace qxtest {
namespace {

class SimRig : public EventLogRig {
  public:
    bool Can(Needs) const override { return true; }
    std::string Run(const std::function<std::string()>& body) override {
        auto& log = qxsim::Notebook::Current().EventLog();
        log.Clear();
        const int closed_calls = log.CallsOnClosedHandles();
        std::string out = body();
        EXPECT_EQ(log.OpenHandles(), 0) << "a source left registered";
        EXPECT_EQ(log.CallsOnClosedHandles(), closed_calls) << "a report on a closed source";
        return out;
    }
    std::vector<LoggedEvent> Events() override {
        std::vector<LoggedEvent> out;
        for (const auto& e : qxsim::Notebook::Current().EventLog().Events())
            out.push_back({e.source, e.type, e.category, e.event_id, e.strings});
        return out;
    }
};

}  // namespace

EventLogRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
