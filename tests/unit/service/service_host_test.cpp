// The service host's whole flow on the virtual notebook: the service manager
// model starts it, sends controls at virtual times and checks every status
// report; the daemon is a scripted stand-in child.
#include "service/service_host.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/console_model.h"
#include "sim/device_handles.h"
#include "sim/eventlog_model.h"
#include "sim/fault_plan.h"
#include "sim/file_model.h"
#include "sim/process_model.h"
#include "sim/scm_model.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"
#include "tests/support/child_process.h"

namespace qx::service {
namespace {

using qxsim::ScmModel;

// The daemon beside the service's own program file.
const std::u16string kDaemonImage = u"C:\\Program Files\\Halvorn\\quellix.exe";
const std::u16string kDaemonLine = u"quellix.exe -a 3 -n 515 -o 134349066 -r 250";

struct Outcome {
    std::vector<uint32_t> states;
    uint32_t exit_code = 0;
    std::vector<std::u16string> events;  // the text of every event, in order
    std::string out;
};

class ServiceHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qxsim::Notebook::Current().Scm().Reset();
        qxsim::Notebook::Current().Processes().Reset();
        qxsim::Notebook::Current().Files().Reset();
        qxsim::Notebook::Current().Files().AddFile(kDaemonImage);
        qxsim::Notebook::Current().EventLog().Clear();
        qxsim::Notebook::Current().Console().SetEcho(false);
        qxsim::Notebook::Current().Console().StartCapture();
    }
    void TearDown() override {
        // Every run leaves the models clean: nothing open, nothing broken.
        EXPECT_EQ(std::vector<std::string>{}, qxsim::Notebook::Current().Scm().Violations());
        EXPECT_EQ(std::vector<std::string>{}, qxsim::Notebook::Current().Processes().Violations());
        EXPECT_EQ(0, qxsim::Notebook::Current().Scm().OpenHandles());
        EXPECT_EQ(0, qxsim::Notebook::Current().Processes().OpenHandles());
        EXPECT_EQ(0, qxsim::Notebook::Current().Processes().RunningChildren());
        EXPECT_EQ(0, qxsim::Notebook::Current().EventLog().OpenHandles());
        qxsim::Notebook::Current().Console().TakeCapture();
        qxsim::Notebook::Current().Console().SetEcho(true);
    }

    static Outcome Run(std::vector<std::u16string> args = {u"QXservice.exe"}) {
        std::vector<const char16_t*> argv;
        for (const auto& a : args) argv.push_back(a.c_str());
        EXPECT_EQ(0, ServiceProgramMain(static_cast<int>(argv.size()), argv.data()));
        Outcome o;
        for (const auto& s : qxsim::Notebook::Current().Scm().StatusHistory()) {
            o.states.push_back(s.current_state);
            o.exit_code = s.win32_exit_code;
        }
        for (const auto& e : qxsim::Notebook::Current().EventLog().Events()) {
            EXPECT_EQ(u"Halvorn Veltrane Service", e.source);
            EXPECT_EQ(2u, e.strings.size());
            if (e.strings.size() == 2) o.events.push_back(e.strings[1]);
        }
        o.out = qxsim::Notebook::Current().Console().TakeCapture();
        // Every daemon was started by its full path and ran in its job only,
        // and was gone before the manager heard STOPPED.
        const auto history = qxsim::Notebook::Current().Scm().StatusHistory();
        const auto times = qxsim::Notebook::Current().Scm().ReportTimes();
        for (const auto& child : qxsim::Notebook::Current().Processes().Children()) {
            EXPECT_EQ(kDaemonImage, child.application);
            EXPECT_EQ(kDaemonLine, child.command_line);
            EXPECT_EQ(child.ran, child.in_job_when_it_ran);
            EXPECT_TRUE(child.ended);
            if (!history.empty() && history.back().current_state == qxsim::kSvcStopped) {
                EXPECT_LE(child.ended_at, times.back()) << "STOPPED while the daemon ran";
            }
        }
        return o;
    }

    static qxsim::VTime Now() { return qxsim::Notebook::Current().Kernel().Now(); }
};

// One run of the service from the manager's start to SERVICE_STOPPED.
TEST_F(ServiceHostTest, RunsFromStartToStopped) {
    const std::u16string kStopped = u"Halvorn Veltrane Antenna Service Application Stopped.";
    // The event text is cut to its 80-unit buffer.
    const std::u16string kNoDaemon =
        u"Halvorn Veltrane Antenna Service Application Unable to create process. failed w";
    struct Control {
        uint32_t at;  // ms after the start
        uint32_t code;
    };
    struct Case {
        const char* what;
        std::vector<Control> controls;
        std::vector<uint32_t> control_results;
        std::vector<uint32_t> states;
        uint32_t exit_code;
        bool daemon_ran;
        bool child_terminated;
        std::vector<std::u16string> events;
        int64_t daemon_runs = -1;      // the daemon ends by itself after this long; -1 never
        uint32_t launch_delay = 0;     // CreateProcessW takes this long
        bool daemon_in_folder = true;  // quellix.exe beside QXservice.exe
        uint32_t job_create_error = 0;
        uint32_t job_assign_error = 0;
    };
    const uint32_t kStop = qxsim::kSvcControlStop;
    const Case cases[] = {
        {"a stop ends the daemon",
         {{1000, kStop}},
         {0},
         {2, 4, 3, 3, 1},
         0,
         true,
         true,
         {kStopped}},
        // Stopping refused while the stop is under way, as the manager does.
        {"a second stop while stopping is refused",
         {{1000, kStop}, {1000, kStop}},
         {0, 1061},
         {2, 4, 3, 3, 1},
         0,
         true,
         true,
         {kStopped}},
        // Not a stop: the daemon steers on until the stop comes.
        {"an interrogate leaves the daemon running",
         {{500, qxsim::kSvcControlInterrogate}, {1000, kStop}},
         {0, 0},
         {2, 4, 3, 3, 1},
         0,
         true,
         true,
         {kStopped}},
        {"a pause is refused by the manager",
         {{500, qxsim::kSvcControlPause}, {1000, kStop}},
         {1052, 0},
         {2, 4, 3, 3, 1},
         0,
         true,
         true,
         {kStopped}},
        // The service stops with the daemon and reports a clean stop.
        {"the daemon ends by itself", {}, {}, {2, 4, 1}, 0, true, false, {kStopped}, 500},
        // RUNNING is out before the daemon starts: a stop may come while it
        // is being started; it is ended as soon as it exists.
        // The stop handler and the end of the daemon meet: the service thread
        // may close the stop event while the handler is about to set it.
        {"a stop as the daemon ends by itself",
         {{500, kStop}},
         {0},
         {2, 4, 3, 1},
         0,
         true,
         false,
         {kStopped},
         500},
        {"a stop while the daemon is being started",
         {{100, kStop}},
         {0},
         {2, 4, 3, 3, 1},
         0,
         true,
         true,
         {kStopped},
         -1,
         300},
        // Only the daemon beside the service is started, never one found on
        // PATH or in the current directory.
        {"no daemon in the service's folder",
         {},
         {},
         {2, 4, 1},
         2,
         false,
         false,
         {kNoDaemon},
         -1,
         0,
         false},
        // Outside a job the daemon could outlive the service: it is not run.
        {"no job for the daemon", {}, {}, {2, 4, 1}, 5, false, false, {kNoDaemon}, -1, 0, true, 5},
        {"the daemon cannot be put in its job",
         {},
         {},
         {2, 4, 1},
         5,
         false,
         true,
         {kNoDaemon},
         -1,
         0,
         true,
         0,
         5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        auto& processes = qxsim::Notebook::Current().Processes();
        auto& files = qxsim::Notebook::Current().Files();
        processes.SetLaunchDelayMs(c.launch_delay);
        processes.SetJobErrors(c.job_create_error, c.job_assign_error);
        processes.SetCurrentDirectory(u"C:\\Users\\admin");
        processes.SetSearchPath({u"C:\\tools"});
        files.AddFile(u"C:\\Users\\admin\\quellix.exe");
        files.AddFile(u"C:\\tools\\quellix.exe");
        if (!c.daemon_in_folder) {
            files.Reset();
            files.AddFile(u"C:\\Users\\admin\\quellix.exe");
            files.AddFile(u"C:\\tools\\quellix.exe");
        }
        processes.SetScript([&c](const std::u16string&) {
            qxsim::ProcessModel::Plan plan;
            plan.runs_ms = c.daemon_runs;
            plan.exit_code = 7;
            return plan;
        });
        const qxsim::VTime start = Now();
        for (const Control& control : c.controls) {
            qxsim::Notebook::Current().Scm().SendControlAt(start + control.at, control.code);
        }
        const Outcome o = Run();
        EXPECT_EQ(c.states, o.states);
        EXPECT_EQ(c.exit_code, o.exit_code);
        EXPECT_EQ(c.events, o.events);
        EXPECT_EQ("", o.out);
        EXPECT_FALSE(qxsim::Notebook::Current().Scm().StartTimedOut());
        EXPECT_EQ(c.control_results, qxsim::Notebook::Current().Scm().ControlResults());
        const auto children = processes.Children();
        if (c.daemon_in_folder && c.job_create_error == 0) {
            ASSERT_EQ(1u, children.size());
            EXPECT_EQ(c.daemon_ran, children[0].ran);
            EXPECT_EQ(c.child_terminated, children[0].terminated);
            // A stop takes the daemon at the first stop control, not before.
            for (const Control& control : c.controls) {
                if (control.code == kStop && c.child_terminated) {
                    EXPECT_LE(start + control.at, children[0].ended_at);
                    break;
                }
            }
        } else {
            EXPECT_TRUE(children.empty());
        }
        TearDown();
    }
}

// The service is killed while its daemon steers: its job goes with it, the
// daemon with the job, and the device is free for the next start, whose
// daemon steers. A daemon outside the job would have held the device, so
// that the next one could not open it.
TEST(ServiceHostKilled, TheDaemonGoesWithItAndTheNextStartSteers) {
    const qxtest::ChildResult r = qxtest::RunInChild([] {
        auto& notebook = qxsim::Notebook::Current();
        auto& kernel = notebook.Kernel();
        notebook.Scm().Reset();
        notebook.Processes().Reset();
        notebook.DeviceHandles().Reset();
        notebook.Files().Reset();
        notebook.Files().AddFile(kDaemonImage);
        notebook.Console().SetEcho(false);
        std::vector<std::string> steered;  // per daemon: "steers" or "refused"
        notebook.Processes().SetScript([&](const std::u16string&) {
            qxsim::ProcessModel::Plan plan;
            auto opened = std::make_shared<bool>(false);
            plan.at_start = [&steered, opened] {
                *opened = qxsim::Notebook::Current().DeviceHandles().OpenByAnotherProgram() == 0;
                steered.push_back(*opened ? "steers" : "refused");
            };
            plan.at_end = [opened] {
                if (*opened) qxsim::Notebook::Current().DeviceHandles().CloseAnotherProgram();
            };
            return plan;
        });
        const char16_t* argv[] = {u"QXservice.exe"};
        auto first = kernel.Spawn("first service", [&]() -> uint32_t {
            ServiceProgramMain(1, argv);
            return 0;
        });
        kernel.Sleep(1000);
        notebook.Processes().OwnProcessDies();
        kernel.Sleep(1000);
        qxtest::Print("after the kill: %d running, device %s\n",
                      notebook.Processes().RunningChildren(),
                      notebook.DeviceHandles().HeldByAnotherProgram() ? "held" : "free");
        notebook.Scm().SendControlAt(kernel.Now() + 1000, qxsim::kSvcControlStop);
        auto second = kernel.Spawn("second service", [&]() -> uint32_t {
            ServiceProgramMain(1, argv);
            return 0;
        });
        kernel.Wait(*second, qxsim::kInfinite);
        for (const auto& line : steered) qxtest::Print("%s\n", line.c_str());
        qxtest::Print("%zu violations\n", notebook.Processes().Violations().size() +
                                              notebook.Scm().Violations().size());
        (void)first;  // the killed service's threads never run again
    });
    EXPECT_EQ(0, r.signal);
    EXPECT_EQ(0, r.exit_code);
    EXPECT_EQ("after the kill: 0 running, device free\nsteers\nsteers\n0 violations\n", r.out);
}

// Without its stop event the service cannot be stopped: it reports the
// failure as its exit code and never starts the daemon.
TEST_F(ServiceHostTest, NoStopEventStopsTheServiceBeforeTheDaemon) {
    qxsim::Notebook::Current().Faults().Reset();
    qxsim::Notebook::Current().Faults().FailCall(qxsim::FaultKind::kEventCreate, 1);
    const Outcome o = Run();
    qxsim::Notebook::Current().Faults().Reset();
    EXPECT_EQ((std::vector<uint32_t>{2, 1}), o.states);
    EXPECT_EQ(8u, o.exit_code);
    EXPECT_TRUE(qxsim::Notebook::Current().Processes().Children().empty());
}

// Check points and wait hints as the manager sees them over a stopped run.
TEST_F(ServiceHostTest, PendingStatesCarryCheckPointsAndHints) {
    qxsim::Notebook::Current().Scm().SendControlAt(Now() + 50, qxsim::kSvcControlStop);
    Run();
    const auto history = qxsim::Notebook::Current().Scm().StatusHistory();
    ASSERT_EQ(5u, history.size());
    const struct {
        uint32_t state, controls, check_point, wait_hint;
    } want[] = {{2, 0, 1, 3000}, {4, 1, 0, 0}, {3, 1, 2, 0}, {3, 1, 3, 0}, {1, 1, 0, 0}};
    for (size_t i = 0; i < history.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(0x10u, history[i].service_type);
        EXPECT_EQ(want[i].state, history[i].current_state);
        EXPECT_EQ(want[i].controls, history[i].controls_accepted);
        EXPECT_EQ(want[i].check_point, history[i].check_point);
        EXPECT_EQ(want[i].wait_hint, history[i].wait_hint);
    }
}

// Without a handler nothing can report for the service: the error goes to
// the event log and the manager times the start out.
TEST_F(ServiceHostTest, FailedHandlerRegistrationIsLogged) {
    qxsim::Notebook::Current().Scm().SetRegisterHandlerError(5);
    const Outcome o = Run();
    EXPECT_TRUE(o.states.empty());
    EXPECT_TRUE(qxsim::Notebook::Current().Scm().StartTimedOut());
    EXPECT_EQ(std::vector<std::u16string>{u"Halvorn Veltrane Antenna Service Application Service "
                                          u"Handler Registration faile"},
              o.events);
    EXPECT_TRUE(qxsim::Notebook::Current().Processes().Children().empty());
}

TEST_F(ServiceHostTest, StartedFromAConsoleDoesNothing) {
    qxsim::Notebook::Current().Scm().SetStartedByManager(false);
    const Outcome o = Run();
    EXPECT_TRUE(o.states.empty());
    EXPECT_TRUE(o.events.empty());
    EXPECT_EQ("", o.out);
}

// "install" in any case registers the program under its quoted path.
TEST_F(ServiceHostTest, Install) {
    struct Case {
        const char* what;
        std::u16string arg;
        uint32_t open_manager_error;
        bool installed_before;
        std::string out;
        std::u16string image = u"C:\\Program Files\\Halvorn\\QXservice.exe";
    };
    const Case cases[] = {
        {"lower case", u"install", 0, false, "Service installed successfully\n"},
        {"upper case", u"INSTALL", 0, false, "Service installed successfully\n"},
        {"mixed case", u"InStAlL", 0, false, "Service installed successfully\n"},
        {"installed already", u"install", 0, true, "CreateService failed (1073)\n"},
        {"no manager", u"install", 5, false, "OpenSCManager failed (5)\n"},
        // A cut path would register some other program.
        {"path of 260 units", u"install", 0, false, "Cannot install service (122)\n",
         std::u16string(260, u'p')},
        {"path of 259 units", u"install", 0, false, "Service installed successfully\n",
         std::u16string(259, u'p')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        auto& scm = qxsim::Notebook::Current().Scm();
        scm.SetOpenManagerError(c.open_manager_error);
        qxsim::Notebook::Current().Processes().SetOwnImagePath(c.image);
        if (c.installed_before) scm.AddService({u"Halvorn Veltrane Service"});
        const Outcome o = Run({u"QXservice.exe", c.arg});
        EXPECT_EQ(c.out, o.out);
        EXPECT_TRUE(o.states.empty());
        const auto* service = scm.Find(u"Halvorn Veltrane Service");
        if (c.open_manager_error != 0 || c.image.size() >= 260) {
            EXPECT_EQ(nullptr, service);
        } else if (!c.installed_before) {
            ASSERT_NE(nullptr, service);
            EXPECT_EQ(u"\"" + c.image + u"\"", service->binary_path);
            EXPECT_EQ(u"Halvorn Veltrane Service", service->display_name);
            EXPECT_EQ(0x10u, service->type);
            EXPECT_EQ(3u, service->start_type);
            EXPECT_EQ(1u, service->error_control);
        }
        TearDown();
    }
}

// Arguments that are not "install" run the service.
TEST_F(ServiceHostTest, OtherArgumentsRunTheService) {
    for (const char16_t* arg : {u"installx", u"instal", u"", u"-install"}) {
        SCOPED_TRACE(std::string(arg, arg + std::char_traits<char16_t>::length(arg)));
        SetUp();
        qxsim::Notebook::Current().Scm().SendControlAt(Now() + 10, qxsim::kSvcControlStop);
        const Outcome o = Run({u"QXservice.exe", arg});
        EXPECT_EQ((std::vector<uint32_t>{2, 4, 3, 3, 1}), o.states);
        EXPECT_EQ(nullptr, qxsim::Notebook::Current().Scm().Find(u"Halvorn Veltrane Service"));
        TearDown();
    }
}

}  // namespace
}  // namespace qx::service
