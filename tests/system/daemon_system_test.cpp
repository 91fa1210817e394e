// The real daemon on the virtual notebook: start-up, set-up, the steering
// cycle, supervision, power and console events, each in virtual time.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "sim/notebook.h"
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "sim/device_handles.h"
#include "sim/link_model.h"
#include "sim/memory_model.h"
#include "sim/device_install_model.h"
#include "sim/power_model.h"
#include "sim/vkernel.h"
#include "sim/wlan_model.h"
#include "daemon/controller/peer_table.h"
#include "daemon/core/worker.h"
#include "tests/support/child_process.h"
#include "tests/system/daemon_run.h"
#include "tools/qxsim/scenario.h"

namespace qxtest {
namespace {

using qxsim::ControllerModel;
using qxsim::LinkModel;
using qxsim::TransferOutcome;

constexpr const char* kExited = "QUELLIX: Veltrane Exited.";

// Node power cycle (2 x 500 ms) and a good set-up (150 ms of pauses).
constexpr int64_t kNodeReset = 1000;
constexpr int64_t kSetup = 150;

TEST(DaemonSystemTest, FirstReportComesInTheSecondCycle) {
    // The first sample has no byte delta, so its tag equals the initial 0 and
    // the first cycle idles for four periods; the second reports.
    auto run = RunDaemon({"-r", "100"}, "5s ctrl-c\n");
    ASSERT_GE(run.reports.size(), 2u) << run.out;
    EXPECT_EQ(run.reports[0].at_ms, kNodeReset + kSetup + 4 * 100);
    EXPECT_EQ(run.reports[0].flags, 0x80) << "the first report names a new BSSID";
    EXPECT_EQ(run.reports[1].flags, 0x00);
    EXPECT_EQ(run.reports[1].at_ms - run.reports[0].at_ms, 100) << "active cycles sleep one period";
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.bus_errors, 0);
}

TEST(DaemonSystemTest, FirstRunAnnouncesControllerAndStartLater) {
    auto run = RunDaemon({}, "3s ctrl-c\n");
    EXPECT_EQ(run.Count("QUELLIX: Veltrane Controller (1.3.7).\n"), 1) << run.out;
    EXPECT_EQ(run.Count("QUELLIX: Veltrane 2.4.9 Started.\n"), 1);
    EXPECT_EQ(run.Count("QUELLIX: Veltrane Interface 3c:a9:f4:51:7e:20.\n"), 1);
    EXPECT_EQ(run.out.substr(run.out.size() - std::string(kExited).size()), kExited);
}

TEST(DaemonSystemTest, LaterRunsAnnounceOnlyAtVerbosityOne) {
    // A resume without a suspend replaces the running worker.
    const char* scenario = "3s resume\n6s ctrl-c\n";
    auto quiet = RunDaemon({}, scenario);
    EXPECT_EQ(quiet.Count("QUELLIX: Veltrane 2.4.9 Started."), 1) << quiet.out;
    EXPECT_EQ(quiet.disables, 2) << "the replacement starts with a node power cycle";
    auto verbose = RunDaemon({"-v", "1"}, scenario);
    EXPECT_EQ(verbose.Count("QUELLIX: Veltrane 2.4.9 Started."), 2) << verbose.out;
    EXPECT_EQ(verbose.Count("QUELLIX: Veltrane Controller (1.3.7)."), 3)
        << "two runs and the shutdown";
    EXPECT_EQ(verbose.Count("QUELLIX: Waking up.\n"), 1);
    EXPECT_EQ(verbose.Count("QUELLIX: Veltrane Ended.\n"), 2);
}

TEST(DaemonSystemTest, SetupFailureEndsTheRunUnlessForced) {
    auto silent = [] { qxsim::Notebook::Current().Firmware().SetSilent(true); };
    auto forced = RunDaemon({"-f", "-v", "1"}, "10s ctrl-c\n", silent);
    EXPECT_EQ(forced.Count("QUELLIX: Unable to init Veltrane hardware.\n"), 2) << forced.out;
    EXPECT_EQ(forced.Count("QUELLIX: Veltrane Controller (0.0.0).\n"), 2);
    EXPECT_GT(forced.reports.size(), 0u) << "a forced run steers anyway";

    // Without -f the fourth failed initialisation ends supervision, and the
    // daemon leaves through its exit path with code 0.
    auto failed = RunDaemon({"-v", "1"}, "", silent);
    EXPECT_EQ(failed.Count("QUELLIX: Unable to initialize the Veltrane controller.\n"), 4)
        << failed.out;
    EXPECT_EQ(failed.disables, 4);
    EXPECT_EQ(failed.exit_code, 0);
    EXPECT_EQ(failed.Count(kExited), 1);
    // Each failed set-up: wake pause, then five attempts of 20 + 1100 ms.
    EXPECT_GE(failed.end_ms, 4 * (kNodeReset + 50 + 5 * 1120));
}

TEST(DaemonSystemTest, ExcessiveUpdateErrorsResetTheController) {
    // From 5 s on every write fails; after 101 failed reports (each followed
    // by a 2000 ms pause and the period) the run ends and the next one
    // starts with a node power cycle, which cures the controller. With an
    // even traffic flow every other cycle finds its tag unchanged and idles
    // (4 x 100 ms) in between.
    auto run = RunDaemon({"-r", "100", "-v", "3"}, "5s controller hang\n300s ctrl-c\n");
    EXPECT_EQ(run.Count("\nQUELLIX: Resetting controller due to excessive errors 101\n"), 1)
        << run.out;
    EXPECT_EQ(run.disables, 2);
    int64_t resumed = run.FirstReportAfter(6000);
    ASSERT_GT(resumed, 0);
    EXPECT_GE(resumed, 5000 + 101 * 2100) << "at least 101 x 2.1 s of failed reports";
    EXPECT_LT(resumed, 5000 + 101 * (2100 + 400) + kNodeReset + kSetup + 1000);
}

TEST(DaemonSystemTest, AnUnchangedTagIsReportedOnceThenTheCycleIdles) {
    // Traffic stops at 3 s: the sample that straddles the stop and the first
    // empty one still move the tag; from then on it stays 0, nothing more is
    // reported and the health line shows the idle period of 4 x 250 ms.
    auto run = RunDaemon({"-r", "250", "-v", "3"}, "3s traffic 0 0\n40s ctrl-c\n");
    int after_stop = 0;
    for (auto& r : run.reports) after_stop += r.at_ms > 3000;
    EXPECT_GE(after_stop, 1) << run.out;
    EXPECT_LE(after_stop, 2) << run.out;
    EXPECT_EQ(run.FirstReportAfter(6000), -1);
    EXPECT_GE(run.Count(".1000\n"), 1) << "health line with the idle period\n" << run.out;
}

TEST(DaemonSystemTest, SuspendEndsTheRunAfterItsSleepAndNothingStartsUntilResume) {
    auto run = RunDaemon({"-r", "100", "-v", "1"}, "5s suspend\n20s resume\n30s ctrl-c\n");
    EXPECT_EQ(run.Count("QUELLIX: Suspending.\n"), 1) << run.out;
    // Reports stop within one cycle of the suspend and resume only after the
    // resume, behind a fresh node reset and set-up.
    for (auto& r : run.reports) {
        EXPECT_FALSE(r.at_ms > 5100 && r.at_ms < 20000) << "report at " << r.at_ms;
    }
    EXPECT_GE(run.Count("QUELLIX: Start cancelled. System is entering sleep/suspend/shutdown.\n"),
              25);
    EXPECT_EQ(run.disables, 2);
    EXPECT_GE(run.FirstReportAfter(20000), 20000 + kNodeReset + kSetup);
}

TEST(DaemonSystemTest, ConsoleEventsShutTheControllerDownAndExitWithZero) {
    for (const char* event : {"ctrl-c", "ctrl-break", "shutdown"}) {
        auto run = RunDaemon({"-r", "100"}, std::string("4s ") + event + "\n");
        EXPECT_EQ(run.exit_code, 0) << event;
        EXPECT_EQ(run.setups, 2) << event << ": the shutdown sets the controller up once more";
        EXPECT_EQ(run.Count(kExited), 1) << event;
        EXPECT_EQ(run.bus_errors, 0) << event << ": the shutdown never overlaps the worker";
        EXPECT_LE(run.end_ms, 4000 + 2000) << event;
    }
}

TEST(DaemonSystemTest, ShutdownDuringTheNodeResetWaitsForTheWorker) {
    // Ctrl+C while the worker is between disabling and enabling the node and
    // again while it sets the controller up: never two users of the channel.
    for (const char* at : {"200ms", "1020ms", "1100ms"}) {
        auto run = RunDaemon({}, std::string(at) + " ctrl-c\n");
        EXPECT_EQ(run.exit_code, 0) << at;
        EXPECT_EQ(run.bus_errors, 0) << at;
        EXPECT_EQ(run.Count(kExited), 1) << at;
        EXPECT_TRUE(run.reports.empty()) << at;
    }
}

TEST(DaemonSystemTest, CloseEventIsLeftToTheDefaultHandler) {
    auto run = RunDaemon({}, "4s close\n");
    EXPECT_EQ(run.child.exit_code, 0x3A) << "STATUS_CONTROL_C_EXIT";
    EXPECT_EQ(run.Count(kExited), 0);
    EXPECT_EQ(run.setups, 1);
}

TEST(DaemonSystemTest, HelpNeverTouchesTheController) {
    // A second daemon's open and close would cut the running one's bus.
    auto run = RunDaemon({"-h"}, "");
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.disables, 0);
    EXPECT_EQ(run.setups, 0);
    EXPECT_EQ(run.Count(kExited), 1);
}

// The first report at or after `t`, and whether it names a new BSSID.
struct AfterEvent {
    int64_t first = -1;
    bool first_flagged = false;
};
AfterEvent ReportAfter(const DaemonRun& run, int64_t t) {
    AfterEvent a;
    for (auto& r : run.reports) {
        if (r.at_ms < t) continue;
        a.first = r.at_ms;
        a.first_flagged = (r.flags & 0x80) != 0;
        break;
    }
    return a;
}

TEST(DaemonSystemTest, EveryRoamIsReportedFromTheNewAccessPointOnTheNextCycleWithNewData) {
    // -r 250: a cycle sleeps 250 ms, or 1000 ms when idle, so the first cycle
    // with new data after a roam comes within 1250 ms. Each roam gives exactly
    // one report flagged new (besides the first report after start).
    const std::string d4 = "10:6f:3f:a1:b2:d4", c3 = "10:6f:3f:a1:b2:c3", e5 = "10:6f:3f:a1:b2:e5";
    const struct {
        const char* name;
        std::string scenario;
        std::vector<int64_t> roams;  // times from which a flagged report must follow
    } rows[] = {
        {"A->B", "5s roam " + d4 + "\n20s ctrl-c\n", {5000}},
        {"A->B->A", "5s roam " + d4 + "\n10s roam " + c3 + "\n20s ctrl-c\n", {5000, 10000}},
        {"A->B->C->A",
         "5s roam " + d4 + "\n10s roam " + e5 + "\n15s roam " + c3 + "\n25s ctrl-c\n",
         {5000, 10000, 15000}},
        {"two roams in one cycle",
         "5000ms roam " + d4 + "\n5050ms roam " + e5 + "\n20s ctrl-c\n",
         {5050}},
        // Idle: no byte moves, but the new access point is news of its own.
        {"roam while idle",
         "3s traffic 0 0\n8s roam " + d4 + "\n12s traffic 800000 90000\n25s ctrl-c\n",
         {8000}},
        // Well past the first purge (cycle 102): the purge cadence does not matter.
        {"roam after minutes", "200s roam " + d4 + "\n210s ctrl-c\n", {200000}},
    };
    for (const auto& row : rows) {
        auto run = RunDaemon({"-r", "250"}, row.scenario);
        int flagged = 0;
        for (auto& r : run.reports) flagged += (r.flags & 0x80) != 0;
        EXPECT_EQ(flagged, 1 + static_cast<int>(row.roams.size())) << row.name;
        for (int64_t t : row.roams) {
            const AfterEvent a = ReportAfter(run, t);
            ASSERT_GE(a.first, 0) << row.name << ": no report after " << t;
            EXPECT_LE(a.first - t, 1250) << row.name << ": roam at " << t;
            EXPECT_TRUE(a.first_flagged)
                << row.name << ": roam at " << t << " report at " << a.first;
        }
        EXPECT_EQ(run.exit_code, 0) << row.name;
    }
}

TEST(DaemonSystemTest, LinkBackEndsTheLongSleepAndSteeringResumesWithinTwoPeriods) {
    // The link-down sleep is 20 s; the link-back notification ends it.
    auto run = RunDaemon({"-r", "250"}, "10s linkloss\n13s linkback\n20s ctrl-c\n");
    for (auto& r : run.reports) {
        EXPECT_FALSE(r.at_ms > 10250 && r.at_ms < 13000)
            << "report while the link was down at " << r.at_ms;
    }
    const int64_t back = run.FirstReportAfter(13000);
    ASSERT_GT(back, 0) << run.out;
    EXPECT_LE(back - 13000, 2 * 250);
    // A second link-down notification and a second link-back change nothing.
    auto again = RunDaemon(
        {"-r", "250"}, "10s linkloss\n11s linkloss\n13s linkback\n13500ms linkback\n20s ctrl-c\n");
    EXPECT_LE(again.FirstReportAfter(13000) - 13000, 2 * 250);
    EXPECT_EQ(again.exit_code, 0);
}

TEST(DaemonSystemTest, SuspendDuringALongSleepEndsTheRunSoTheResumeRestartsAtOnce) {
    // Link lost at 10 s (the worker sleeps 20 s), suspend at 12 s, resume at
    // 16 s, link back at 16.5 s: steering is back within node reset + set-up
    // + one idle cycle + a period, not after the old run's sleep (30 s).
    auto run = RunDaemon({"-r", "250", "-v", "1"},
                         "10s linkloss\n12s suspend\n16s resume\n16500ms linkback\n40s ctrl-c\n");
    EXPECT_EQ(run.disables, 2) << run.out;
    const int64_t back = run.FirstReportAfter(16000);
    ASSERT_GT(back, 0) << run.out;
    EXPECT_LE(back, 16000 + kNodeReset + kSetup + 1000 + 250) << run.out;
    // The run ended at the suspend: main was free to hold off the next start
    // while the notebook slept.
    const size_t suspending = run.out.find("QUELLIX: Suspending.\n");
    const size_t ended = run.out.find("QUELLIX: Veltrane Ended.\n");
    const size_t cancelled = run.out.find("QUELLIX: Start cancelled.");
    const size_t waking = run.out.find("QUELLIX: Waking up.\n");
    EXPECT_LT(suspending, ended);
    EXPECT_LT(ended, cancelled);
    EXPECT_LT(cancelled, waking) << run.out;
    // One report per cycle: no second report without time passing.
    for (size_t i = 1; i < run.reports.size(); ++i) {
        EXPECT_LT(run.reports[i - 1].at_ms, run.reports[i].at_ms) << run.out;
    }
}

TEST(DaemonSystemTest, SetupFailuresApartAndEachCuredNeverEndSupervision) {
    // Four silent spells of the controller, each during a restart (a resume)
    // and each over before the next: only failures in a row count.
    std::string scenario;
    for (int i = 0; i < 4; ++i) {
        const int t = 10 + 40 * i;
        scenario += std::to_string(t) + "s controller silent\n" + std::to_string(t * 1000 + 100) +
                    "ms resume\n" + std::to_string(t + 8) + "s controller answer\n";
    }
    scenario += "190s ctrl-c\n";
    auto run = RunDaemon({"-r", "250", "-v", "1"}, scenario);
    EXPECT_GE(run.Count("QUELLIX: Unable to initialize the Veltrane controller.\n"), 4) << run.out;
    EXPECT_GT(run.FirstReportAfter(180000), 0) << "still steering after the fourth spell";
    EXPECT_GE(run.end_ms, 190000);
    EXPECT_EQ(run.exit_code, 0);
}

TEST(DaemonSystemTest, NoMemoryForTheStartBlockIsRetriedLikeAFailedStart) {
    const size_t block = sizeof(qx::WorkerStartBlock);
    // A passing shortage: logged, retried after the quick-restart pause.
    auto once = RunDaemon({}, "5s ctrl-c\n",
                          [=] { qxsim::Notebook::Current().Memory().FailNext(block, 1); });
    EXPECT_EQ(once.Count("QUELLIX: Unable to start steering process\n"), 1) << once.out;
    EXPECT_EQ(once.disables, 1);
    ASSERT_GT(once.reports.size(), 0u);
    EXPECT_GE(once.reports[0].at_ms, 500);
    // A lasting one ends supervision at the fourth failure in a row, through
    // the exit path, without ever touching the node.
    auto lasting =
        RunDaemon({}, "", [=] { qxsim::Notebook::Current().Memory().FailNext(block, 100); });
    EXPECT_EQ(lasting.Count("QUELLIX: Unable to start steering process\n"), 4) << lasting.out;
    EXPECT_EQ(lasting.disables, 0);
    EXPECT_EQ(lasting.exit_code, 0);
    EXPECT_EQ(lasting.Count(kExited), 1);
}

TEST(DaemonSystemTest, RunsThatNeverReachTheControllerBackOff) {
    // The cycle record cannot be allocated for a while: each run ends before
    // the controller, after its node reset. The pauses between runs double up
    // to 4 s instead of a node reset every half second.
    const size_t record = sizeof(qx::PeerRecord);
    auto run = RunDaemon({}, "40s ctrl-c\n",
                         [=] { qxsim::Notebook::Current().Memory().FailNext(record, 1000); });
    EXPECT_LE(run.disables, 12) << "node resets in 40 s";
    EXPECT_GE(run.disables, 6);
    EXPECT_TRUE(run.reports.empty());
    // Cured after three runs (pauses 0.5, 1 and 2 s): steering starts.
    auto cured = RunDaemon({}, "30s ctrl-c\n",
                           [=] { qxsim::Notebook::Current().Memory().FailNext(record, 3); });
    ASSERT_GT(cured.reports.size(), 0u) << cured.out;
    EXPECT_LE(cured.reports[0].at_ms, 4 * kNodeReset + 500 + 1000 + 2000 + kSetup + 1000);
}

TEST(DaemonSystemTest, AStopDuringTheSetUpGivesNoStartedLineAndCountsNoStart) {
    // Suspend while the controller is being set up (the node reset ends at
    // 1 s, the set-up takes 150 ms): the run ends without a start, so the run
    // after the resume is still the first and announces the controller and itself.
    auto run = RunDaemon({}, "1050ms suspend\n5s resume\n10s ctrl-c\n");
    EXPECT_EQ(run.Count("QUELLIX: Veltrane Controller (1.3.7).\n"), 2) << run.out;
    EXPECT_EQ(run.Count("QUELLIX: Veltrane 2.4.9 Started.\n"), 1) << run.out;
    const size_t second_setup =
        run.out.find("Controller (1.3.7)", run.out.find("Controller (1.3.7)") + 1);
    EXPECT_LT(second_setup, run.out.find("QUELLIX: Veltrane 2.4.9 Started."));
    // Ctrl+C during the set-up: the shutdown waits for it, nothing is started.
    auto stopped = RunDaemon({}, "1050ms ctrl-c\n");
    EXPECT_EQ(stopped.Count("Started"), 0) << stopped.out;
    EXPECT_EQ(stopped.Count(kExited), 1);
}

TEST(DaemonSystemTest, SessionEndReachesTheDaemonThroughItsWindowOnly) {
    // The window messages run the same shutdown as a console shutdown event.
    auto ended = RunDaemon({"-r", "100"}, "4s shutdown\n");
    EXPECT_EQ(ended.exit_code, 0);
    EXPECT_EQ(ended.setups, 2) << "the shutdown sets the controller up once more";
    EXPECT_EQ(ended.Count(kExited), 1);
    EXPECT_LE(ended.end_ms, 4000 + 2000);
    // Windows withholds the console events from a process with windows, and
    // a session that goes on after all changes nothing: steering goes on
    // until Ctrl+C.
    for (const char* event : {"shutdown-console", "logoff-console", "session-kept"}) {
        auto run = RunDaemon({"-r", "100"}, std::string("4s ") + event + "\n8s ctrl-c\n");
        EXPECT_GE(run.end_ms, 8000) << event;
        EXPECT_GT(run.FirstReportAfter(5000), 0) << event;
        EXPECT_EQ(run.Count(kExited), 1) << event;
    }
    // A log-off leaves the session going: the default handling, as for a
    // console log-off; the service's child in session 0 steers on.
    auto logoff = RunDaemon({"-r", "100"}, "4s logoff\n8s ctrl-c\n");
    EXPECT_GE(logoff.end_ms, 8000);
    EXPECT_GT(logoff.FirstReportAfter(5000), 0);
    EXPECT_EQ(logoff.setups, 2);
    // The session end racing a Ctrl+C: one shutdown.
    auto raced = RunDaemon({"-r", "100"}, "4s shutdown\n4s ctrl-c\n");
    EXPECT_EQ(raced.exit_code, 0);
    EXPECT_EQ(raced.Count(kExited), 1);
    EXPECT_EQ(raced.setups, 2);
    EXPECT_EQ(raced.bus_errors, 0);
}

TEST(DaemonSystemTest, CtrlCDuringTheWlanStartUpWaitsForItBeforeClosing) {
    // No provider at first: InitWlan tries at 0, 5 and 10 s (the provider is
    // back at 7 s). A Ctrl+C inside it waits for it to return (at most 5 s)
    // before the shutdown closes what it opened.
    const struct {
        const char* at;
        int64_t earliest_end;
    } rows[] = {
        {"2s", 7000},    // waits the full 5 s, InitWlan still asleep: nothing is closed
        {"6s", 10000},   // InitWlan returns at 10 s with the client open
        {"10s", 10000},  // right at the successful attempt
        {"12s", 12000},  // after the start-up
    };
    for (const auto& row : rows) {
        auto run = RunDaemon({}, std::string("7s provider back\n") + row.at + " ctrl-c\n", [] {
            qxsim::Notebook::Current().Link().SetProviderAvailable(false);
            qxsim::Notebook::Current().Kernel().AddExitHook([](uint32_t) {
                qxtest::Print("\nwlan handles %d\n",
                              qxsim::Notebook::Current().Wlan().OpenHandles());
            });
        });
        EXPECT_EQ(run.exit_code, 0) << row.at;
        EXPECT_EQ(run.Count(kExited), 1) << row.at;
        EXPECT_GE(run.end_ms, row.earliest_end) << row.at;
        EXPECT_NE(run.child.out.find("wlan handles 0\n"), std::string::npos)
            << row.at << run.child.out;
        EXPECT_EQ(run.bus_errors, 0) << row.at;
    }
}

// The worker's sleeps and wakes around link loss, failed reports and
// restarts, each as the reports (and the shutdown) show it. -r 250 throughout:
// a cycle sleeps 250 ms, 1000 ms when idle, 20 s with the link down.
TEST(DaemonSystemTest, TheWorkersSleepsEndWhenTheyShouldAndOnlyThen) {
    const size_t record = sizeof(qx::PeerRecord);
    const auto fail_records_at_20s = [=] {
        qxsim::Notebook::Current().Memory().FailNext(record, 3);
        qxsim::Notebook::Current().Kernel().At(
            20000, [=] { qxsim::Notebook::Current().Memory().FailNext(record, 1); });
    };
    const auto fail_a_write_at_5s = [] {
        qxsim::Notebook::Current().Kernel().At(5000, [] {
            qxsim::Notebook::Current().Firmware().SetWriteOutcome(qxsim::TransferOutcome::FailNow,
                                                                  1);
        });
    };
    const struct {
        const char* name;
        std::string scenario;
        std::function<void()> setup;
        // The first report at or after `after` (-1: none looked at) comes no
        // earlier than not_before and no later than by; from `after` on, two
        // reports are at least min_gap apart.
        int64_t after, not_before, by, min_gap;
        int setups;      // 0: not looked at
        int64_t end_by;  // 0: not looked at
    } rows[] = {
        // The shutdown wakes the worker out of its 20 s sleep, so that it
        // can take the controller and set it up once more within moments.
        {"Ctrl+C during a link loss", "10s linkloss\n12s ctrl-c\n", nullptr, -1, 0, 0, 0, 2, 13000},
        // After a roam the old access point's record stays, stale, and with
        // the link lost it is the one taken: neither a roam back nor news.
        {"link lost after a roam",
         "5s roam 10:6f:3f:a1:b2:d4\n5s traffic 800000 90000\n10s linkloss\n30s linkback\n"
         "35s ctrl-c\n",
         nullptr, 10000, 30000, 30500, 0, 0, 0},
        // Three runs that never reached the controller doubled the pause to
        // 4 s; a run that did brings it back to 500 ms for the next failure.
        {"back-off after a good run", "20s resume\n30s ctrl-c\n", fail_records_at_20s, 20000, 0,
         20000 + 2 * kNodeReset + 500 + kSetup + 1000, 0, 0, 0},
        // The link came back while no worker ran, or during the new run's
        // node reset (16 s to 17 s, the second pause from 16.5 s): a wake of
        // no use, which must not cut the new run's first sleep.
        {"wake left from the previous run",
         "10s linkloss\n12s suspend\n14s linkback\n16s resume\n25s ctrl-c\n", nullptr, 16000, 0,
         16000 + kNodeReset + kSetup + 1000, 250, 0, 0},
        {"wake during the node reset",
         "10s linkloss\n12s suspend\n16s resume\n16750ms linkback\n25s ctrl-c\n", nullptr, 16000, 0,
         16000 + kNodeReset + kSetup + 1000, 250, 0, 0},
        // No sample at all: the designed 20 s, not the update period.
        {"provider gone", "10s provider lost\n15s provider back\n40s ctrl-c\n", nullptr, 10000,
         30000, 31000, 0, 0, 0},
        // The WLAN service says the link is down while the adapter still
        // delivers (it reassociated before telling): the cycle reports with the
        // link-down period of 5 s. That report fails, and the link back during
        // its 2 s pause must still end the sleep that follows.
        {"link back during the pause after a failed report",
         "5s linkloss\n5001ms roam 10:6f:3f:a1:b2:c3\n6s linkback\n20s ctrl-c\n",
         fail_a_write_at_5s, 6000, 0, 5000 + 250 + 2000 + 250, 0, 0, 0},
    };
    for (const auto& row : rows) {
        auto run = RunDaemon({"-r", "250", "-v", "1"}, row.scenario, row.setup);
        EXPECT_EQ(run.exit_code, 0) << row.name << "\n" << run.out;
        if (row.setups != 0) {
            EXPECT_EQ(run.setups, row.setups) << row.name << "\n" << run.out;
        }
        if (row.end_by != 0) {
            EXPECT_LE(run.end_ms, row.end_by) << row.name;
        }
        if (row.after < 0) continue;
        const int64_t first = run.FirstReportAfter(row.after);
        EXPECT_GE(first, row.not_before) << row.name << "\n" << run.out;
        EXPECT_LE(first, row.by) << row.name << "\n" << run.out;
        for (size_t i = 1; row.min_gap != 0 && i < run.reports.size(); ++i) {
            if (run.reports[i - 1].at_ms < row.after) continue;
            EXPECT_GE(run.reports[i].at_ms - run.reports[i - 1].at_ms, row.min_gap)
                << row.name << ": reports at " << run.reports[i - 1].at_ms << " and "
                << run.reports[i].at_ms;
        }
    }
}

// A second daemon while another program (the first daemon) has the device:
// its node reset is vetoed, its open fails, and it never writes to the bus.
TEST(DaemonSystemTest, ASecondDaemonFindsTheDeviceTakenAndLeavesItAlone) {
    auto taken = [] { qxsim::Notebook::Current().DeviceHandles().OpenByAnotherProgram(); };
    auto run = RunDaemon({"-v", "1"}, "8s ctrl-c\n", taken);
    EXPECT_GE(run.Count("QUELLIX: Unable to open driver/hardware interface.\n"), 1) << run.out;
    EXPECT_EQ(run.disables, 0) << "the node of the first daemon's device was disabled";
    EXPECT_EQ(run.setups, 0);
    EXPECT_TRUE(run.reports.empty()) << run.out;
    EXPECT_EQ(run.Count("QUELLIX: Veltrane 2.4.9 Started."), 0);
}

// The other way round: while the daemon steers, another program's open is
// refused and the daemon's reports go on.
TEST(DaemonSystemTest, WhileTheDaemonSteersAnotherOpenIsRefused) {
    auto later = [] {
        qxsim::Notebook::Current().Kernel().At(3000, [] {
            printf("other open: %u\n",
                   qxsim::Notebook::Current().DeviceHandles().OpenByAnotherProgram());
            fflush(stdout);
        });
    };
    auto run = RunDaemon({"-r", "100"}, "6s ctrl-c\n", later);
    EXPECT_EQ(run.Count("other open: 5\n"), 1) << run.out;
    EXPECT_GT(run.FirstReportAfter(3500), 0) << "the daemon stopped steering";
    EXPECT_EQ(run.disables, 1);
    EXPECT_EQ(run.exit_code, 0);
}

}  // namespace
}  // namespace qxtest

namespace qxtest {
namespace {

const std::vector<std::string> kServiceArgs = {"-a", "3",         "-n", "515",
                                               "-o", "134349066", "-r", "250"};

// The standby figures qxsim prints, read back from the child.
struct Standby {
    int64_t ms = -1;
    uint64_t transfers = 0, queries = 0, wake_ups = 0;
};
void ReportStandbyAtExit() {
    qxsim::Notebook::Current().Kernel().AddExitHook([](uint32_t) {
        const auto f = qxsim::StandbySoFar();
        Print("\nstandby %lld %llu %llu %llu\n", static_cast<long long>(f.ms),
              static_cast<unsigned long long>(f.bus_transfers),
              static_cast<unsigned long long>(f.link_queries),
              static_cast<unsigned long long>(f.wake_ups));
    });
}
Standby StandbyOf(const DaemonRun& run) {
    Standby s;
    const size_t at = run.child.out.rfind("\nstandby ");
    if (at != std::string::npos) {
        unsigned long long t = 0, q = 0, w = 0;
        long long ms = -1;
        std::sscanf(run.child.out.c_str() + at, "\nstandby %lld %llu %llu %llu", &ms, &t, &q, &w);
        s = {ms, t, q, w};
    }
    return s;
}

// A night with the lid closed on a modern-standby notebook, with the
// service's options: the daemon stands aside at display off, touches neither
// the bus nor the link all night and hardly wakes; at display on it starts
// a fresh run and reports within node reset + set-up + one period.
TEST(ModernStandbyTest, ANightOfStandbyCostsNothingAndTheMorningStartsAtOnce) {
    constexpr int64_t kNight = 8 * 3600 * 1000;
    const std::string scenario = "10s standby\n" + std::to_string(10000 + kNight) +
                                 "ms standby-exit\n" + std::to_string(20000 + kNight) +
                                 "ms ctrl-c\n";
    std::vector<std::string> args = kServiceArgs;
    args.insert(args.end(), {"-v", "1"});
    auto run = RunDaemon(args, scenario, ReportStandbyAtExit);
    const Standby night = StandbyOf(run);
    EXPECT_EQ(night.ms, kNight) << run.child.out;
    EXPECT_EQ(night.transfers, 0u);
    EXPECT_EQ(night.queries, 0u);
    EXPECT_LE(night.wake_ups, static_cast<uint64_t>(kNight / 60000)) << "one a minute at most";
    EXPECT_EQ(run.Count("QUELLIX: Suspending.\n"), 1) << run.out;
    EXPECT_EQ(run.Count("QUELLIX: Waking up.\n"), 1);
    EXPECT_LE(run.Count("QUELLIX: Start cancelled."), 2) << "main waited, it did not poll";
    EXPECT_EQ(run.disables, 2);
    const int64_t morning = run.FirstReportAfter(10000 + kNight);
    ASSERT_GT(morning, 0);
    EXPECT_LE(morning - (10000 + kNight), kNodeReset + kSetup + 250);
    EXPECT_EQ(run.exit_code, 0);
}

// A broadcast that comes as well during standby (hibernation from standby,
// a resume before the display comes on) is not handled twice; without
// modern standby, or without the registration (Wine), the display going off
// is no sleep and the broadcasts alone count.
TEST(ModernStandbyTest, BroadcastsDuringStandbyAreNotHandledTwice) {
    const struct {
        const char* name;
        std::function<void()> notebook;
        const char* scenario;
        int suspending, waking, disables;
        int64_t back;  // from here a report within a restart
    } rows[] = {
        {"suspend and resume inside", [] {},
         "5s standby\n8s suspend\n12s resume\n15s standby-exit\n25s ctrl-c\n", 1, 1, 2, 15000},
        {"display before the resume", [] {},
         "5s standby\n8s suspend\n12s standby-exit\n15s resume\n25s ctrl-c\n", 1, 1, 2, 15000},
        {"resume alone", [] {}, "5s standby\n8s resume-user\n12s standby-exit\n25s ctrl-c\n", 1, 1,
         2, 12000},
        {"no modern standby", [] { qxsim::Notebook::Current().Power().SetModernStandby(false); },
         "5s standby\n10s suspend\n15s resume\n25s ctrl-c\n", 1, 1, 2, 6000},
        {"no registration",
         [] { qxsim::Notebook::Current().Power().SetDisplayRegistrationExists(false); },
         "5s standby\n10s suspend\n15s resume\n25s ctrl-c\n", 1, 1, 2, 6000},
    };
    for (const auto& row : rows) {
        auto run = RunDaemon({"-r", "250", "-v", "1"}, row.scenario, row.notebook);
        EXPECT_EQ(run.Count("QUELLIX: Suspending.\n"), row.suspending) << row.name << run.out;
        EXPECT_EQ(run.Count("QUELLIX: Waking up.\n"), row.waking) << row.name;
        EXPECT_EQ(run.disables, row.disables) << row.name;
        const int64_t back = run.FirstReportAfter(row.back);
        EXPECT_GT(back, 0) << row.name;
        EXPECT_LE(back - row.back, kNodeReset + kSetup + 250) << row.name;
        EXPECT_EQ(run.exit_code, 0) << row.name;
    }
}

// A device that Plug and Play starts 2.5 s after its enable: the open after
// the node reset is tried again until it is there, so no start fails and no
// extra node reset comes; a restart reports within the delay, the set-up and
// one period of the enable (the first run of the process idles its first
// cycle as designed: its sample has nothing to compare with).
TEST(SlowDeviceTest, ADeviceThatStartsLateIsWaitedFor) {
    auto run =
        RunDaemon({"-r", "250", "-v", "1"}, "0s node-start 2500ms\n20s resume\n30s ctrl-c\n",
                  [] { qxsim::Notebook::Current().DeviceInstall().SetControllerStartTime(2500); });
    EXPECT_EQ(run.Count("QUELLIX: Unable to"), 0) << run.out;
    EXPECT_EQ(run.disables, 2) << "one node reset per run";
    EXPECT_EQ(run.FirstReportAfter(0), 500 + 2500 + kSetup + 4 * 250);
    const int64_t enable = 20000 + 500;
    const int64_t back = run.FirstReportAfter(20000);
    ASSERT_GT(back, 0);
    EXPECT_LE(back - enable, 2500 + kSetup + 250);
    // A device that never comes within the bound fails the start as before.
    auto never = RunDaemon({"-v", "1"}, "30s ctrl-c\n", [] {
        qxsim::Notebook::Current().DeviceInstall().SetControllerStartTime(60000);
    });
    EXPECT_GE(never.Count("QUELLIX: Unable to open driver/hardware interface.\n"), 2) << never.out;
    EXPECT_EQ(never.exit_code, 0);
}

// Firmware with another _UID: the node reset finds the one ACPI\VLT0949
// instance, so the recovery of a hung controller power-cycles it.
TEST(SlowDeviceTest, AnotherInstanceNameIsResetAndRecovered) {
    auto run = RunDaemon({"-r", "100", "-v", "3"}, "5s controller hang\n300s ctrl-c\n", [] {
        qxsim::Notebook::Current().DeviceInstall().SetControllerInstanceId(u"ACPI\\VLT0949\\A7");
    });
    EXPECT_EQ(run.Count("\nQUELLIX: Resetting controller due to excessive errors 101\n"), 1)
        << run.out;
    EXPECT_EQ(run.disables, 2);
    EXPECT_GT(run.FirstReportAfter(5000 + 101 * 2100), 0) << "the reset cured the controller";
}

// A bus that never lets go of a cancelled transfer (a slave holding SCL
// low): the transfer is left to the driver and fails as a time-out, the run
// ends at once for a node reset, the set-ups fail quickly while the bus is
// held, and steering comes back once it lets go. Ctrl+C while it is held
// ends the process within 20 s with exit code 0.
TEST(StuckBusTest, ABusThatNeverLetsGoIsLeftAndRecovered) {
    auto run = RunDaemon({"-r", "250", "-v", "3"},
                         "5s controller ignore-cancel\n30s controller honour-cancel\n60s ctrl-c\n");
    EXPECT_GE(run.Count("QUELLIX: The driver did not complete a cancelled transfer; its request is "
                        "left to it.\n"),
              1)
        << run.out;
    EXPECT_EQ(run.Count("\nQUELLIX: Resetting controller due to excessive errors 1\n"), 1);
    EXPECT_GT(run.FirstReportAfter(30000), 0) << "steering came back";
    EXPECT_EQ(run.bus_errors, 0);
    EXPECT_EQ(run.exit_code, 0);
    for (const char* at : {"5500ms", "7s", "12s"}) {
        auto stuck = RunDaemon({"-r", "250"},
                               std::string("5s controller ignore-cancel\n") + at + " ctrl-c\n");
        int64_t ctrl_c = 0;
        qxsim::ParseVirtualTime(at, &ctrl_c);
        EXPECT_EQ(stuck.exit_code, 0) << at;
        EXPECT_EQ(stuck.Count(kExited), 1) << at;
        EXPECT_LE(stuck.end_ms - ctrl_c, 20000) << at;
        EXPECT_EQ(stuck.bus_errors, 0) << at;
    }
}

}  // namespace
}  // namespace qxtest
