// The real daemon on the virtual notebook: start-up, set-up, the steering
// cycle, supervision, power and console events, each in virtual time.
#include <gtest/gtest.h>

#include <cstdio>

#include "sim/controller_model.h"
#include "sim/device_handles.h"
#include "sim/link_model.h"
#include "sim/memory_model.h"
#include "sim/vkernel.h"
#include "tests/system/daemon_run.h"

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
    EXPECT_EQ(verbose.Count("QUELLIX: Veltrane Controller (1.3.7)."), 3) << "two runs and the shutdown";
    EXPECT_EQ(verbose.Count("QUELLIX: Waking up.\n"), 1);
    EXPECT_EQ(verbose.Count("QUELLIX: Veltrane Ended.\n"), 2);
}

TEST(DaemonSystemTest, SetupFailureEndsTheRunUnlessForced) {
    auto silent = [] { ControllerModel::Instance().SetSilent(true); };
    auto forced = RunDaemon({"-f", "-v", "1"}, "10s ctrl-c\n", silent);
    EXPECT_EQ(forced.Count("QUELLIX: Unable to init Veltrane hardware.\n"), 2) << forced.out;
    EXPECT_EQ(forced.Count("QUELLIX: Veltrane Controller (0.0.0).\n"), 2);
    EXPECT_GT(forced.reports.size(), 0u) << "a forced run steers anyway";

    // Without -f the fourth failed initialisation ends supervision, and the
    // daemon leaves through its exit path with code 0.
    auto failed = RunDaemon({"-v", "1"}, "", silent);
    EXPECT_EQ(failed.Count("QUELLIX: Unable to initialize the Veltrane controller.\n"), 4) << failed.out;
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
    EXPECT_EQ(run.Count("\nQUELLIX: Resetting controller due to excessive errors 101\n"), 1) << run.out;
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

TEST(DaemonSystemTest, ZeroPeriodCyclesWithoutSleeping) {
    // Neither active nor idle cycles sleep; a cycle costs the notebook about a
    // millisecond of busy looping, so three seconds hold thousands of cycles,
    // and the health lines report a sleep of 0.
    auto run = RunDaemon({"-r", "0", "-v", "3"}, "3s ctrl-c\n");
    EXPECT_GE(run.reports.size(), 1u) << run.out;
    EXPECT_GE(run.Count("Health Check. Status"), 50);
    EXPECT_EQ(run.Count("Health Check. Status"), run.Count(".0\n"));
    EXPECT_EQ(run.exit_code, 0);
}

TEST(DaemonSystemTest, SuspendEndsTheRunAfterItsSleepAndNothingStartsUntilResume) {
    auto run = RunDaemon({"-r", "100", "-v", "1"}, "5s suspend\n20s resume\n30s ctrl-c\n");
    EXPECT_EQ(run.Count("QUELLIX: Suspending.\n"), 1) << run.out;
    // Reports stop within one cycle of the suspend and resume only after the
    // resume, behind a fresh node reset and set-up.
    for (auto& r : run.reports) {
        EXPECT_FALSE(r.at_ms > 5100 && r.at_ms < 20000) << "report at " << r.at_ms;
    }
    EXPECT_GE(run.Count("QUELLIX: Start cancelled. System is entering sleep/suspend/shutdown.\n"), 25);
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

TEST(DaemonSystemTest, NoMemoryForTheStartBlockEndsQuietly) {
    auto run = RunDaemon({}, "", [] { qxsim::MemoryModel::Instance().FailNext(4, 1); });
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.disables, 0);
    EXPECT_EQ(run.Count("Unable to start steering process"), 0);
    EXPECT_EQ(run.Count(kExited), 1);
}

TEST(DaemonSystemTest, RoamWithoutLinkLossResumesReportsAfterThePurge) {
    // The old access point's record goes stale at the roam and leaves the
    // table at the next purge (every 102nd cycle); reports then resume for
    // the new BSSID, flagged as new.
    auto run = RunDaemon({"-r", "100"}, "5s roam 10:6f:3f:a1:b2:d4\n80s ctrl-c\n");
    int new_bssid_after_roam = 0;
    for (auto& r : run.reports) new_bssid_after_roam += r.at_ms > 5000 && (r.flags & 0x80);
    EXPECT_EQ(new_bssid_after_roam, 1) << run.out;
    EXPECT_GT(run.FirstReportAfter(6000), 0);
}

// A second daemon while another program (the first daemon) has the device:
// its node reset is vetoed, its open fails, and it never writes to the bus.
TEST(DaemonSystemTest, ASecondDaemonFindsTheDeviceTakenAndLeavesItAlone) {
    auto taken = [] { qxsim::DeviceHandles::Instance().OpenByAnotherProgram(); };
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
        qxsim::Kernel::Instance().At(3000, [] {
            printf("other open: %u\n", qxsim::DeviceHandles::Instance().OpenByAnotherProgram());
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
