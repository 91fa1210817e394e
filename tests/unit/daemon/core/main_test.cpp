// The daemon's start-up and exit paths, each run as a process of its own on
// the virtual notebook (the exit path ends the process); the window's own
// life cycle runs here on a fresh notebook.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "daemon/core/daemon_main.h"
#include "daemon/core/power_events.h"
#include "daemon/base/daemon_state.h"
#include "daemon/core/worker.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "sim/eventlog_model.h"
#include "sim/link_model.h"
#include "sim/memory_model.h"
#include "sim/power_model.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"

namespace qx {
namespace {

constexpr const char* kBanner = "QUELLIX: Veltrane Service (2.4.9)\n";
constexpr const char* kExited = "QUELLIX: Veltrane Exited.";

const char* const kUsageLines[] = {
    "\n\tOPTIONS:\n\n",
    "\t-i interface net interface for steering (e.g. wifi0 / MAC addr for Windows).\n",
    "\t-d driver    driver interface.\n",
    "\t-r <num>     update rate in milliseconds.\n",
    "\t-l           idle latency multiplier.\n",
    "\t-m <num>     debug mask.\n",
    "\t-a <num>     vt mode.\n",
    "\t-e <num>     antenna enable signal.\n",
    "\t-t <num>     test mode.\n",
    "\t-o <num>     mswitch.\n",
    "\t-s <num>     slimit.\n",
    "\t-w <num>     wlimit.\n",
    "\t-c <num>     cycle rate in ms (default 4000).\n",
    "\t-b <num>     bi-directional spi interface.\n",
    "\t-n <num>     antenna chain config.\n",
    "\t-x           fill tx rate with rx data for broken drivers.\n",
    "\t-f           force load / ignore micro errors\n",
    "\t-u <num>     remote udp ip specified as net long (def is 0).\n",
    "\t-g           use average CSI.\n",
    "\t-v <level>   verbosity.\n",
    "\t-h           show this message.\n",
    "\n\n",
};

std::string Usage(const std::string& program) {
    std::string text = "\nUsage: " + program + " [OPTIONS] ... \n";
    for (const char* line : kUsageLines) text += line;
    return text;
}

// Prints what reached the event log once the process ends.
void ReportEventsAtExit() {
    qxsim::Notebook::Current().Kernel().AddExitHook([](uint32_t) {
        std::string all = "\n[events]";
        for (auto& e : qxsim::Notebook::Current().EventLog().Events()) {
            all += "\n";
            for (char16_t c : e.strings.at(0)) all += static_cast<char>(c);
        }
        qxsim::Notebook::Current().Console().Write(all.data(), all.size());
    });
}

qxtest::ChildResult RunDaemon(std::vector<std::string> words,
                              const std::function<void()>& setup = {}) {
    return qxtest::RunInChild([&] {
        qxsim::Notebook::Current().Reset();
        if (setup) setup();
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        QuellixMain(static_cast<int>(words.size()), argv.data());
    });
}

TEST(DaemonMainTest, UsageTextForHelpAndBadCommandLines) {
    const std::vector<std::vector<std::string>> lines = {
        {"quellix", "-h"},        {"C:\\Halvorn\\quellix.exe", "-l"},
        {"/opt/q/quellix", "-q"}, {"quellix", "-v", "3", "-r"},
        {"quellix", "-r", "-5"},
    };
    for (const auto& words : lines) {
        auto r = RunDaemon(words);
        EXPECT_EQ(r.exit_code, 0);
        std::string program = words[0] == "/opt/q/quellix" ? "quellix" : words[0];
        EXPECT_EQ(r.out, kBanner + Usage(program) + kExited) << words[1];
    }
}

// A notebook without a link-statistics provider: the WLAN start-up fails and
// the daemon takes its exit path.
void NoProvider() {
    qxsim::Notebook::Current().Link().SetVendor(qxsim::LinkVendor::kNone);
}

TEST(DaemonMainTest, BannerFirstAndExitLineLast) {
    auto r = RunDaemon({"quellix"}, NoProvider);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.rfind(kBanner, 0), 0u) << r.out;
    ASSERT_GE(r.out.size(), std::string(kExited).size());
    EXPECT_EQ(r.out.substr(r.out.size() - std::string(kExited).size()), kExited) << r.out;
}

TEST(DaemonMainTest, StartUpFailuresOfHandlerAndEventSourceAreQuietAtDefaultVerbosity) {
    // Verbosity is read from the command line only after both steps, so even
    // -v 5 cannot show these two messages.
    auto r = RunDaemon({"quellix", "-v", "5", "-h"}, [] {
        qxsim::Notebook::Current().Console().SetInstallFails(true);
        qxsim::Notebook::Current().EventLog().SetRegisterFails(true);
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out.find("Unable to initialize"), std::string::npos) << r.out;
}

TEST(DaemonMainTest, TheEventLogGetsMessagesUntilTheExitPathClosesIt) {
    // The banner comes before the event source opens, the usage text is
    // printf only and the exit line follows the deregistration: -h leaves no event.
    auto r = RunDaemon({"quellix", "-h"}, ReportEventsAtExit);
    EXPECT_EQ(r.out.substr(r.out.find("[events]")), "[events]");
    // On a notebook without a link-statistics provider the start-up failure
    // is logged as an event.
    r = RunDaemon({"quellix"}, [] {
        NoProvider();
        ReportEventsAtExit();
    });
    auto events = r.out.substr(r.out.find("[events]"));
    EXPECT_NE(events.find("\nQUELLIX: Unable to initialize wlan system.\n"), std::string::npos)
        << events;
    EXPECT_EQ(events.find("Veltrane Service"), std::string::npos) << events;
    EXPECT_EQ(events.find("Exited"), std::string::npos) << events;
}

TEST(DaemonMainTest, NoMemoryForTheInterfaceNameEndsThroughTheExitPath) {
    auto r = RunDaemon({"quellix"}, [] { qxsim::Notebook::Current().Memory().FailNext(256, 1); });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, std::string(kBanner) + kExited);
}

TEST(DaemonMainTest, ExitDaemonRunsOnceWhenTwoThreadsRaceForIt) {
    auto r = qxtest::RunInChild([] {
        auto& k = qxsim::Notebook::Current().Kernel();
        WorkerState state;
        k.Spawn("console-ctrl", [&]() -> uint32_t { ExitDaemon(state); });
        ExitDaemon(state);
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kExited);
}

TEST(DaemonMainTest, ConsoleEventsEndTheDaemonOrGoToTheDefaultHandler) {
    struct Case {
        uint32_t type;
        int exit_code;
        bool exited_line;
    };
    // Ctrl+C, Ctrl+Break, shutdown: our handler ends the process with 0.
    // Close and log-off: the default handler ends it with STATUS_CONTROL_C_EXIT.
    const Case cases[] = {
        {0, 0, true}, {1, 0, true}, {6, 0, true}, {2, 0x3A, false}, {5, 0x3A, false}};
    for (const auto& c : cases) {
        auto r = qxtest::RunInChild([&] {
            WorkerState state;
            AttachEventHandlers(&state);
            qxsim::Notebook::Current().Console().InstallHandler(ConsoleControlHandler);
            qxsim::Notebook::Current().Console().RaiseCtrlEvent(c.type);
            qxsim::Notebook::Current().Kernel().Sleep(1000);
            qxtest::Print("still running");
        });
        EXPECT_EQ(r.exit_code, c.exit_code) << c.type;
        EXPECT_EQ(r.out == kExited, c.exited_line) << c.type << ": " << r.out;
    }
}

TEST(DaemonMainTest, WithoutMainsStateTheHandlersLeaveTheEndToWindows) {
    // Another user of the handlers (no daemon main, nothing attached): Ctrl+C
    // goes on to the default handler instead of shutting down state that
    // does not exist, and a power event only sets the flags.
    auto r = qxtest::RunInChild([] {
        AttachEventHandlers(nullptr);
        qxtest::Print("power %d\n", OnPowerEvent(kPowerSuspend));
        qxsim::Notebook::Current().Console().InstallHandler(ConsoleControlHandler);
        qxsim::Notebook::Current().Console().RaiseCtrlEvent(0);
        qxsim::Notebook::Current().Kernel().Sleep(1000);
        qxtest::Print("still running");
    });
    EXPECT_EQ(r.exit_code, 0x3A) << "STATUS_CONTROL_C_EXIT";
    EXPECT_EQ(r.out, "power 1\n");
}

TEST(DaemonMainTest, AProcessWithUser32GetsNoLogoffOrShutdownConsoleEvents) {
    // Windows' rule: those two go to its windows instead; Ctrl+C still comes.
    struct Case {
        uint32_t type;
        int exit_code;
        const char* out;
    };
    const Case cases[] = {
        {5, 0, "still running withheld 1"}, {6, 0, "still running withheld 1"}, {0, 0, kExited}};
    for (const auto& c : cases) {
        auto r = qxtest::RunInChild([&] {
            auto& console = qxsim::Notebook::Current().Console();
            WorkerState state;
            AttachEventHandlers(&state);
            console.InstallHandler(ConsoleControlHandler);
            console.SetUser32Loaded(true);
            console.RaiseCtrlEvent(c.type);
            qxsim::Notebook::Current().Kernel().Sleep(1000);
            qxtest::Print("still running withheld %d", console.WithheldEvents());
        });
        EXPECT_EQ(r.exit_code, c.exit_code) << c.type;
        EXPECT_EQ(r.out, c.out) << c.type;
    }
}

TEST(DaemonMainTest, TheHiddenWindowEndsTheDaemonWhenTheSessionEnds) {
    // WM_QUERYENDSESSION is answered TRUE; WM_ENDSESSION(TRUE) runs the
    // shutdown, WM_ENDSESSION(FALSE) nothing. Without a session handler set
    // (another user of qx_winevent_init) the window only answers.
    // A log-off (ENDSESSION_LOGOFF) is left to the default handling, as a
    // console log-off is: the session itself goes on.
    struct Case {
        bool handler;
        bool ends;
        bool logoff;
        const char* out;
    };
    const Case cases[] = {{true, true, false, kExited},
                          {true, false, false, "answers 1 still running"},
                          {true, true, true, "answers 1 still running"},
                          {false, true, false, "answers 1 still running"}};
    for (const auto& c : cases) {
        auto r = qxtest::RunInChild([&] {
            auto& power = qxsim::Notebook::Current().Power();
            WorkerState state;
            AttachEventHandlers(&state);
            if (c.handler) SetSessionEndHandler(OnSessionEnd);
            qx_winevent_init(OnPowerEvent);
            qxsim::Notebook::Current().Kernel().Sleep(1);
            power.EndSession(c.ends, c.logoff);
            qxsim::Notebook::Current().Kernel().Sleep(1000);
            qxtest::Print("answers %zu still running", power.QueryEndSessionAnswers().size());
        });
        EXPECT_EQ(r.exit_code, 0);
        EXPECT_EQ(r.out, c.out) << c.handler << c.ends << c.logoff;
    }
}

TEST(DaemonMainTest, NothingReachesTheEventLogAfterTheExitPathClosedIt) {
    // The daemon, ending through its exit path after the fourth failed set-up:
    // the shutdown's set-up logs after the deregistration.
    auto ended = RunDaemon({"quellix", "-v", "3"}, [] {
        qxsim::Notebook::Current().Firmware().SetSilent(true);
        qxsim::Notebook::Current().Kernel().AddExitHook([](uint32_t) {
            qxtest::Print("\nclosed-handle calls %d\n",
                          qxsim::Notebook::Current().EventLog().CallsOnClosedHandles());
        });
    });
    EXPECT_NE(ended.out.find("QUELLIX: Unable to initialize the Veltrane controller."),
              std::string::npos);
    EXPECT_NE(ended.out.find("\nclosed-handle calls 0\n"), std::string::npos) << ended.out;
    // The model counts calls on a deregistered handle; proof that it does.
    auto& model = qxsim::Notebook::Current().EventLog();
    const uintptr_t h = model.Register(u"Quellix");
    model.Deregister(h);
    EXPECT_FALSE(model.Report(h, 4, 1, 2, {u"late"}));
    EXPECT_EQ(model.CallsOnClosedHandles(), 1);
}

TEST(DaemonMainTest, PowerBroadcastsReachTheCallbackThroughTheHiddenWindow) {
    auto r = qxtest::RunOnFreshNotebook([] {
        Put(SteeringContext.Suspended, 0);
        DaemonSettings.Verbosity = 1;
        auto& k = qxsim::Notebook::Current().Kernel();
        auto& power = qxsim::Notebook::Current().Power();
        qx_winevent_init(OnPowerEvent);
        k.Sleep(1);
        Put(SteeringContext.Running, 1);
        power.Broadcast(4);  // PBT_APMSUSPEND
        k.Sleep(1);
        qxtest::Print("running %d suspended %d\n", Get(SteeringContext.Running),
                      Get(SteeringContext.Suspended));
        Put(SteeringContext.Running, 1);
        power.Broadcast(7);   // PBT_APMRESUMESUSPEND counts as a resume
        power.Broadcast(10);  // PBT_APMPOWERSTATUSCHANGE: nothing
        k.Sleep(1);
        qxtest::Print("running %d suspended %d\n", Get(SteeringContext.Running),
                      Get(SteeringContext.Suspended));
        qxtest::Print("cleanup %d\n", qx_winevent_cleanup());
        qxtest::Print("window %d\n", power.WindowExists());
        // The daemons the other scenarios fork start from the records as built.
        DaemonSettings.Verbosity = 0;
        Put(SteeringContext.Running, 0);
    });
    EXPECT_EQ(r.out,
              "QUELLIX: Suspending.\nrunning 0 suspended 1\n"
              "QUELLIX: Waking up.\nrunning 0 suspended 0\ncleanup 1\nwindow 0\n");
}

// Modern standby and the broadcasts together, through the hidden window and
// the display-state registration: the daemon stands aside once (S) and
// wakes once (W) however the two sources interleave; a notebook without
// modern standby, or without the registration, hears the broadcasts alone.
TEST(DaemonMainTest, DisplayStateAndBroadcastsStandAsideOnceAndWakeOnce) {
    struct Case {
        const char* events;  // o display off, n on, d dimmed, s suspend, r resume
        bool aoac;
        bool registration;
        const char* out;  // S per "Suspending.", W per "Waking up.", then Suspended
    } cases[] = {
        {"n", true, true, "0"},       {"on", true, true, "SW0"},    {"od", true, true, "SW0"},
        {"oon", true, true, "SW0"},   {"o", true, true, "S1"},      {"osrn", true, true, "SW0"},
        {"osnr", true, true, "SW0"},  {"orn", true, true, "SW0"},   {"sonr", true, true, "SW0"},
        {"srr", true, true, "SWW0"},  // a resume broadcast alone replaces the run, as designed
        {"onsr", false, true, "SW0"}, {"onsr", true, false, "SW0"},
    };
    for (const auto& c : cases) {
        auto r = qxtest::RunInChild([&] {
            DaemonSettings.Verbosity = 1;
            auto& k = qxsim::Notebook::Current().Kernel();
            auto& power = qxsim::Notebook::Current().Power();
            power.SetModernStandby(c.aoac);
            power.SetDisplayRegistrationExists(c.registration);
            WorkerState state;
            AttachEventHandlers(&state);
            qx_winevent_init(OnPowerEvent);
            const bool follows = FollowModernStandby();
            k.Sleep(1);
            for (const char* e = c.events; *e != 0; ++e) {
                if (*e == 's' || *e == 'r') {
                    power.Broadcast(*e == 's' ? 4 : 18);
                } else {
                    power.SetDisplayState(*e == 'o' ? 0 : *e == 'n' ? 1 : 2);
                }
                k.Sleep(1);
            }
            qxtest::Print("%d follows %d", Get(SteeringContext.Suspended), follows);
        });
        std::string got = r.out;
        for (auto [text, letter] :
             {std::pair<std::string, std::string>{"QUELLIX: Suspending.\n", "S"},
              {"QUELLIX: Waking up.\n", "W"}}) {
            for (size_t at; (at = got.find(text)) != std::string::npos;)
                got.replace(at, text.size(), letter);
        }
        EXPECT_EQ(got, std::string(c.out) + " follows " + (c.aoac && c.registration ? "1" : "0"))
            << c.events << " aoac " << c.aoac << " registration " << c.registration;
    }
}

TEST(DaemonMainTest, CleanupRightAfterInitWaitsForTheWindowAndItsThread) {
    auto r = qxtest::RunOnFreshNotebook([] {
        qxtest::Print("init %d\n", qx_winevent_init(OnPowerEvent));
        qxtest::Print("cleanup %d\n", qx_winevent_cleanup());
        qxtest::Print("again %d\n", qx_winevent_cleanup());
        qxsim::Notebook::Current().Power().SetWindowCreateFails(true);
        qx_winevent_init(OnPowerEvent);
        qxtest::Print("no window %d\n", qx_winevent_cleanup());
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "init 1\ncleanup 1\nagain 1\nno window 1\n");
}

}  // namespace
}  // namespace qx
