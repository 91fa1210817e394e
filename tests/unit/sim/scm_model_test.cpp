// The service manager model refuses and reports what the real manager would
// not take; a model that let these through would let a broken service pass.
#include "sim/scm_model.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qxsim {
namespace {

ScmStatus Status(uint32_t state, uint32_t check_point, uint32_t controls = kSvcAcceptStop) {
    ScmStatus s;
    s.service_type = kSvcOwnProcess;
    s.current_state = state;
    s.controls_accepted = controls;
    s.check_point = check_point;
    return s;
}

ScmStatus Hinted(uint32_t state, uint32_t check_point, uint32_t wait_hint) {
    ScmStatus s = Status(state, check_point, 0);
    s.wait_hint = wait_hint;
    return s;
}

// Not a report: the virtual time that passes before the next one.
ScmStatus Pause(uint32_t ms) {
    ScmStatus s;
    s.wait_hint = ms;
    return s;
}

// Runs a service whose ServiceMain registers a handler and makes the reports.
std::vector<std::string> RunReports(const std::vector<ScmStatus>& reports,
                                    bool bad_handle = false) {
    auto& scm = qxsim::Notebook::Current().Scm();
    scm.Reset();
    uint32_t error = 0;
    EXPECT_TRUE(scm.RunDispatcher(
        u"svc",
        [&] {
            uint32_t e = 0;
            uintptr_t handle = scm.RegisterHandler(
                u"svc", [](uint32_t) {}, &e);
            if (bad_handle) ++handle;
            for (const auto& r : reports) {
                if (r.current_state == 0) {
                    qxsim::Notebook::Current().Kernel().Sleep(r.wait_hint);
                } else {
                    scm.SetStatus(handle, r, &e);
                }
            }
        },
        &error));
    return scm.Violations();
}

TEST(ScmModelStatus, ReportsTheManagerRefuses) {
    struct Case {
        const char* what;
        std::vector<ScmStatus> reports;
        std::vector<std::string> violations;
    };
    const Case cases[] = {
        {"a clean run",
         {Status(2, 1, 0), Status(4, 0), Status(3, 2), Status(3, 3), Status(1, 0)},
         {}},
        {"status after STOPPED",
         {Status(2, 1, 0), Status(1, 0), Status(3, 2)},
         {"status reported after SERVICE_STOPPED"}},
        {"check point on RUNNING",
         {Status(2, 1, 0), Status(4, 5), Status(1, 0)},
         {"check point 5 on settled state 4"}},
        {"check point on STOPPED",
         {Status(2, 1, 0), Status(1, 2)},
         {"check point 2 on settled state 1"}},
        {"check point that does not rise",
         {Status(3, 2), Status(3, 2), Status(1, 0)},
         {"check point did not rise while state 3 was reported again"}},
        {"start pending after running",
         {Status(4, 0), Status(2, 1, 0), Status(1, 0)},
         {"START_PENDING reported after RUNNING"}},
        {"no such state",
         {Status(9, 0), Status(1, 0)},
         {"SetServiceStatus with state 9 and type 16"}},
        {"the next report within the wait hint",
         {Hinted(2, 1, 3000), Pause(3000), Hinted(2, 2, 500), Pause(400), Status(4, 0),
          Status(1, 0)},
         {}},
        {"no report within the wait hint",
         {Hinted(2, 1, 3000), Pause(3001), Status(4, 0), Status(1, 0)},
         {"no report within the wait hint of 3000 ms (3001 ms passed)"}},
        {"ServiceMain returns without STOPPED",
         {Status(2, 1, 0), Status(4, 0)},
         {"ServiceMain returned without reporting SERVICE_STOPPED"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.violations, RunReports(c.reports));
    }
    EXPECT_EQ(
        std::vector<std::string>({"SetServiceStatus with a handle the manager did not give out",
                                  "ServiceMain returned without reporting SERVICE_STOPPED"}),
        RunReports({Status(1, 0)}, true));
}

// Controls reach the handler only in a state that accepts them, one at a
// time, and a slow handler is reported. Interrogate is taken by every
// running service; the others only with their SERVICE_ACCEPT_* bit.
TEST(ScmModelControls, DeliveredOnlyWhenAccepted) {
    struct Case {
        const char* what;
        uint32_t state;  // reported before the control arrives
        uint32_t controls;
        uint32_t control;
        uint32_t handler_ms;  // virtual time the handler takes
        uint32_t result;
        size_t violations;
    };
    const Case cases[] = {
        {"running, accepting stop", 4, kSvcAcceptStop, kSvcControlStop, 0, 0, 0},
        {"running, accepting nothing", 4, 0, kSvcControlStop, 0, kErrInvalidServiceControl, 0},
        {"start pending", 2, kSvcAcceptStop, kSvcControlStop, 0, kErrServiceCannotAcceptCtrl, 0},
        {"stop pending", 3, kSvcAcceptStop, kSvcControlStop, 0, kErrServiceCannotAcceptCtrl, 0},
        {"interrogate, accepting nothing", 4, 0, kSvcControlInterrogate, 0, 0, 0},
        {"interrogate while stopping", 3, kSvcAcceptStop, kSvcControlInterrogate, 0,
         kErrServiceCannotAcceptCtrl, 0},
        {"pause, accepting stop only", 4, kSvcAcceptStop, kSvcControlPause, 0,
         kErrInvalidServiceControl, 0},
        {"pause, accepting pause", 4, kSvcAcceptPauseContinue, kSvcControlPause, 0, 0, 0},
        {"a code of the service's own", 4, 0, 200, 0, 0, 0},
        {"shutdown is the system's", 4, kSvcAcceptStop, 5, 0, kErrInvalidParameter, 0},
        {"a handler that blocks 31 s", 4, kSvcAcceptStop, kSvcControlStop, 31000, 0, 1},
        {"a handler that takes 30 s", 4, kSvcAcceptStop, kSvcControlStop, 30000, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto& scm = qxsim::Notebook::Current().Scm();
        auto& kernel = qxsim::Notebook::Current().Kernel();
        scm.Reset();
        uint32_t handled = 0;
        uint32_t error = 0;
        scm.RunDispatcher(
            u"svc",
            [&] {
                uint32_t e = 0;
                const uintptr_t h = scm.RegisterHandler(
                    u"svc",
                    [&](uint32_t control) {
                        handled = control;
                        if (c.handler_ms != 0) kernel.Sleep(c.handler_ms);
                    },
                    &e);
                scm.SetStatus(h, Status(c.state, c.state == 4 ? 0 : 1, c.controls), &e);
                scm.SendControlAt(kernel.Now() + 10, c.control);
                kernel.Sleep(40000);
                scm.SetStatus(h, Status(1, 0), &e);
            },
            &error);
        EXPECT_EQ(std::vector<uint32_t>{c.result}, scm.ControlResults());
        EXPECT_EQ(c.result == 0 ? c.control : 0u, handled);
        EXPECT_EQ(c.violations, scm.Violations().size());
    }
}

TEST(ScmModelDispatcher, RefusesWithoutTheManagerAndWithoutDispatcher) {
    auto& scm = qxsim::Notebook::Current().Scm();
    scm.Reset();
    uint32_t error = 0;
    EXPECT_EQ(0u, scm.RegisterHandler(
                      u"svc", [](uint32_t) {}, &error));
    EXPECT_EQ(kErrFailedServiceControllerConnect, error);
    EXPECT_EQ(kErrServiceNotActive, scm.SendControl(kSvcControlStop));
    scm.SetStartedByManager(false);
    EXPECT_FALSE(scm.RunDispatcher(
        u"svc", [] {}, &error));
    EXPECT_EQ(kErrFailedServiceControllerConnect, error);
}

// The database as the installer and the uninstaller meet it.
TEST(ScmModelDatabase, HandlesAccessAndDeletion) {
    auto& scm = qxsim::Notebook::Current().Scm();
    scm.Reset();
    uint32_t error = 0;
    const uintptr_t manager = scm.OpenManager(&error);
    ASSERT_NE(0u, manager);
    ScmModel::Service svc;
    svc.name = u"svc";
    svc.state = kSvcRunning;
    svc.stops_after_ms = 200;
    scm.AddService(svc);

    EXPECT_EQ(0u, scm.OpenService(manager, u"none", kSvcStop, &error));
    EXPECT_EQ(kErrServiceDoesNotExist, error);
    EXPECT_EQ(0u, scm.CreateService(manager, svc, &error));
    EXPECT_EQ(kErrServiceExists, error);

    const uintptr_t query = scm.OpenService(manager, u"svc", kSvcQueryStatus, &error);
    uint32_t state = 0;
    EXPECT_EQ(kErrAccessDenied, scm.ControlStop(query));
    EXPECT_EQ(kErrAccessDenied, scm.DeleteService(query));
    const uintptr_t stop = scm.OpenService(manager, u"svc", kSvcStop | kSvcQueryStatus, &error);
    EXPECT_EQ(0u, scm.ControlStop(stop));
    EXPECT_EQ(kErrServiceCannotAcceptCtrl, scm.ControlStop(stop));
    EXPECT_EQ(0u, scm.QueryState(stop, &state));
    EXPECT_EQ(kSvcStopPending, state);
    qxsim::Notebook::Current().Kernel().Sleep(200);
    EXPECT_EQ(0u, scm.QueryState(query, &state));
    EXPECT_EQ(kSvcStopped, state);
    EXPECT_EQ(kErrServiceNotActive, scm.ControlStop(stop));

    // Marked for delete while handles are open; gone with the last of them.
    const uintptr_t del = scm.OpenService(manager, u"svc", kSvcDelete, &error);
    EXPECT_EQ(0u, scm.DeleteService(del));
    EXPECT_EQ(kErrServiceMarkedForDelete, scm.DeleteService(del));
    EXPECT_EQ(0u, scm.CreateService(manager, svc, &error));
    EXPECT_EQ(kErrServiceMarkedForDelete, error);
    for (uintptr_t h : {query, stop, del}) EXPECT_TRUE(scm.CloseHandle(h));
    EXPECT_EQ(nullptr, scm.Find(u"svc"));
    EXPECT_TRUE(scm.Violations().empty());

    // A handle closed twice, or used after it was closed, is a fault.
    EXPECT_FALSE(scm.CloseHandle(del));
    EXPECT_EQ(kErrInvalidHandle, scm.ControlStop(del));
    EXPECT_EQ(2u, scm.Violations().size());
    EXPECT_TRUE(scm.CloseHandle(manager));
    EXPECT_EQ(0, scm.OpenHandles());
}

}  // namespace
}  // namespace qxsim
