// The service manager seam's one contract: what the uninstaller's stop and
// deletion of its services relies on, the same on every half.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/unit/uninstall/scm_contract.h"
#include "tests/support/contract_rows.h"
#include "uninstall/os_scm.h"

namespace qxtest {
namespace {

using namespace qx::os;

constexpr uint32_t kAll = kScmAccessQueryStatus | kScmAccessStop | kScmAccessDelete;

// The manager, and a service of it opened with some access.
struct Opened {
    ScmOwner manager;
    ScmOwner service;
    uint32_t error = 0;
};

Opened Open(uint32_t access, const char16_t* name = kScmService) {
    Opened o;
    o.manager = ScmOpenManager(&o.error);
    if (o.manager) o.service = ScmOpenService(o.manager.get(), name, access, &o.error);
    return o;
}

// What opening the service answers: 0 or the error.
std::string OpenResult(const char16_t* name = kScmService) {
    return std::to_string(Open(kScmAccessQueryStatus, name).error);
}

std::string State(ScmHandle service) {
    uint32_t state = 0;
    const uint32_t rc = ScmQueryState(service, &state);
    return rc == 0 ? "state " + std::to_string(state) : std::to_string(rc);
}

// Polls as the uninstaller does until STOPPED, for at most 20 s.
std::string WaitStopped(ScmHandle service) {
    for (int i = 0; i < 200; ++i) {
        uint32_t state = 0;
        const uint32_t rc = ScmQueryState(service, &state);
        if (rc != 0) return std::to_string(rc);
        if (state == kScmServiceStopped) return "stopped";
        ScmSleepMs(100);
    }
    return "still not stopped";
}

TEST(ScmContractTest, EachHalfAnswersAsWindows) {
    ScmRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"no such service", [] { return OpenResult(); }, "1060"},
        {"names case aside",
         [&rig] {
             rig.AddService(false);
             return OpenResult(u"QUELLIXcontract");
         },
         "0"},
        {"a stopped service",
         [&rig] {
             rig.AddService(false);
             Opened o = Open(kAll);
             std::string out = State(o.service.get()) + " ";
             return out + std::to_string(ScmStopService(o.service.get()));
         },
         "state 1 1062"},
        {"a running service stops",
         [&rig] {
             rig.AddService(true);
             Opened o = Open(kAll);
             std::string out = State(o.service.get()) + " ";
             out += std::to_string(ScmStopService(o.service.get())) + " ";
             return out + WaitStopped(o.service.get());
         },
         "state 4 0 stopped"},
        {"no stop without the right to",
         [&rig] {
             rig.AddService(true);
             Opened o = Open(kScmAccessQueryStatus);
             std::string out = std::to_string(ScmStopService(o.service.get())) + " ";
             return out + State(o.service.get());
         },
         "5 state 4"},
        {"no state without the right to",
         [&rig] {
             rig.AddService(false);
             return State(Open(kScmAccessStop).service.get());
         },
         "5"},
        {"no deletion without the right to",
         [&rig] {
             rig.AddService(false);
             Opened o = Open(kScmAccessQueryStatus);
             std::string out = std::to_string(ScmDeleteService(o.service.get())) + " ";
             o.service.reset();
             return out + OpenResult();
         },
         "5 0"},
        {"deleted, then gone with its handle",
         [&rig] {
             rig.AddService(false);
             Opened o = Open(kScmAccessDelete);
             std::string out = std::to_string(ScmDeleteService(o.service.get())) + " ";
             o.service.reset();
             return out + OpenResult();
         },
         "0 1060"},
        {"deleted twice",
         [&rig] {
             rig.AddService(false);
             Opened o = Open(kScmAccessDelete);
             std::string out = std::to_string(ScmDeleteService(o.service.get())) + " ";
             return out + std::to_string(ScmDeleteService(o.service.get()));
         },
         "0 1072"},
        {"deleted, it stays while another handle is open",
         [&rig] {
             rig.AddService(false);
             Opened other = Open(kScmAccessQueryStatus);
             std::string out = std::to_string(ScmDeleteService(Open(kAll).service.get())) + " ";
             out += State(other.service.get()) + " ";
             other.service.reset();
             return out + OpenResult();
         },
         "0 state 1 1060"},
        {"deleted while running, it goes once stopped",
         [&rig] {
             rig.AddService(true);
             Opened o = Open(kAll);
             std::string out = std::to_string(ScmDeleteService(o.service.get())) + " ";
             out += State(o.service.get()) + " ";
             out += std::to_string(ScmStopService(o.service.get())) + " ";
             out += WaitStopped(o.service.get()) + " ";
             o.service.reset();
             return out + OpenResult();
         },
         "0 state 4 0 stopped 1060"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
