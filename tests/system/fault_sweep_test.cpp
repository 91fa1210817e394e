// Fault injection sweep: the real daemon through a short day (start, cycles,
// a roam, a suspend and resume, Ctrl+C) once per call that can fail, failing
// exactly that call. Every run must end on its own within the virtual-time
// bound, with exit code 0, the exit line and the messages the failure calls
// for, no sanitizer finding and no leak (the child's exit code carries both).
//
// The calls of each kind are counted in a clean run first. Kinds with many
// calls are sampled (the first ones, where start-up lives, evenly spaced ones
// and the last ones, where the shutdown lives); QX_FAULT_SWEEP=full runs
// every index (make fault-sweep).
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/core/worker.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/fault_plan.h"
#include "sim/link_model.h"
#include "sim/vkernel.h"
#include "tests/system/daemon_run.h"
#include "sim/notebook.h"

namespace qxtest {
namespace {

using qxsim::FaultKind;
using qxsim::FaultPlan;

constexpr const char* kExited = "QUELLIX: Veltrane Exited.";
constexpr const char* kNoWlan = "QUELLIX: Unable to initialize wlan system.\n";
constexpr const char* kNoDriver =
    "QUELLIX: Failed to initialize the wifi driver. \n Please verify that the installed wifi "
    "driver is Veltrane capable.\n";

// The scenario every run plays. Telemetry on (-u, loopback) so that the
// socket is opened; -v 1 so that the threshold-0 messages show.
const char* const kScenario =
    "0s traffic 400000 80000\n"
    "4s roam 10:6f:3f:a1:b2:d4\n"
    "6s rssi -70 -72\n"
    "7s suspend\n"
    "9s resume\n"
    "13s ctrl-c\n";
const std::vector<std::string> kArgs = {"-v", "1", "-r", "250", "-u", "0x7f000001"};
constexpr int64_t kCtrlCMs = 13000;
// After Ctrl+C the shutdown waits for the worker to leave the controller
// (at most kShutdownWaitMs) and sets it up once more; against a controller
// whose reads all hang that set-up takes five attempts of a 2 s read time-out
// and a 1.1 s pause, with the wake byte and the writes before them: under 20 s.
constexpr int64_t kEndBoundMs = kCtrlCMs + qx::kShutdownWaitMs + 20000;

// The notebooks the sweep runs on: the providers differ in what they call.
struct Notebook {
    const char* name;
    std::function<void()> setup;
};
const Notebook kNotebooks[] = {
    {"intel", [] {}},
    {"qca", [] { qxsim::Notebook::Current().Link().SetVendor(qxsim::LinkVendor::kQca); }},
};

struct Counts {
    uint64_t calls[qxsim::kFaultKinds] = {};
    uint64_t injected[qxsim::kFaultKinds] = {};
};

// In the child: after the daemon's own summary, the plan's counts.
void ReportPlanAtExit() {
    qxsim::Notebook::Current().Kernel().AddExitHook([](uint32_t) {
        std::ostringstream s;
        auto& plan = qxsim::Notebook::Current().Faults();
        for (int k = 0; k < qxsim::kFaultKinds; ++k) {
            auto kind = static_cast<FaultKind>(k);
            s << "fault " << qxsim::FaultKindName(kind) << " " << plan.Calls(kind) << " "
              << plan.Injected(kind) << "\n";
        }
        std::string text = s.str();
        qxsim::Notebook::Current().Console().Write(text.data(), text.size());
    });
}

Counts CountsOf(const DaemonRun& run) {
    Counts c;
    std::istringstream in(run.child.out);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string tag, name;
        uint64_t calls = 0, injected = 0;
        FaultKind kind;
        if (!(words >> tag >> name >> calls >> injected) || tag != "fault") continue;
        if (!qxsim::FaultKindFromName(name, &kind)) continue;
        c.calls[static_cast<int>(kind)] = calls;
        c.injected[static_cast<int>(kind)] = injected;
    }
    return c;
}

// Every other run the driver completes a cancelled request only a while
// after the cancel, as CancelIoEx allows: the transport must wait for it.
constexpr uint32_t kLateCancelMs = 40;

DaemonRun RunWithFault(const Notebook& notebook, FaultKind kind, uint64_t index, bool every) {
    return RunDaemon(
        kArgs, kScenario,
        [&] {
            notebook.setup();
            if (index % 2 == 1)
                qxsim::Notebook::Current().Controller().SetCancelDelay(kLateCancelMs);
            qxsim::Notebook::Current().Faults().Reset();
            if (index > 0) qxsim::Notebook::Current().Faults().FailCall(kind, index, every);
            ReportPlanAtExit();
        },
        30);
}

bool FullSweep() {
    const char* v = std::getenv("QX_FAULT_SWEEP");
    return v != nullptr && std::string(v) == "full";
}

// Indexes 1..calls, or for more than kSampled calls a sample of that many:
// the first 20 (start-up), the last 10 (the shutdown) and evenly spaced ones
// in between.
constexpr uint64_t kSampled = 48;
std::vector<uint64_t> IndexesFor(uint64_t calls) {
    std::set<uint64_t> picked;
    if (FullSweep() || calls <= kSampled) {
        for (uint64_t i = 1; i <= calls; ++i) picked.insert(i);
    } else {
        for (uint64_t i = 1; i <= 20; ++i) picked.insert(i);
        for (uint64_t j = 1; j <= kSampled - 30; ++j)
            picked.insert(20 + j * (calls - 30) / (kSampled - 29));
        for (uint64_t i = calls - 9; i <= calls; ++i) picked.insert(i);
    }
    return {picked.begin(), picked.end()};
}

// Messages a failure must give: for the kind, when the failed call is one
// of the first `up_to` (0: any).
struct Expected {
    FaultKind kind;
    uint64_t up_to;
    std::vector<const char*> messages;
};
const std::vector<Expected> kExpected = {
    {FaultKind::kThreadCreate, 0, {"QUELLIX: Unable to start steering process\n"}},
    {FaultKind::kTransportOpen, 0, {"QUELLIX: Unable to open driver/hardware interface.\n"}},
    {FaultKind::kWlanOpen, 1, {kNoDriver, kNoWlan}},
    {FaultKind::kWlanRegister,
     1,
     {"Unable to register Veltrane for notifications\n", kNoDriver, kNoWlan}},
    // The first listing and the first adapter query bind the interface in start-up.
    {FaultKind::kWlanEnum, 1, {kNoWlan}},
    {FaultKind::kWlanQuery, 1, {kNoWlan}},
};

// Checks one run; returns "" or what went wrong.
std::string Verdict(const DaemonRun& run, FaultKind kind, uint64_t index, bool from_then_on) {
    std::ostringstream bad;
    if (run.child.signal != 0) bad << "killed by signal " << run.child.signal << "; ";
    if (run.child.exit_code != 0)
        bad << "child exit code " << run.child.exit_code << " (23: a leak); ";
    if (run.exit_code != 0) bad << "daemon exit code " << run.exit_code << "; ";
    if (run.end_ms < 0 || run.end_ms > kEndBoundMs) bad << "ended at " << run.end_ms << " ms; ";
    if (run.Count(kExited) != 1) bad << "no single exit line; ";
    if (run.bus_errors != 0) bad << run.bus_errors << " overlapping controller uses; ";
    Counts c = CountsOf(run);
    uint64_t injected = 0;
    for (uint64_t n : c.injected) injected += n;
    const uint64_t planned = kind == FaultKind::kCount ? 0 : 1;
    const uint64_t own = kind == FaultKind::kCount ? 0 : c.injected[static_cast<int>(kind)];
    if (injected != own || (from_then_on ? own < planned : own != planned))
        bad << "injected " << injected << " faults, planned " << planned
            << (from_then_on ? " or more" : "") << "; ";
    for (const Expected& e : kExpected) {
        if (e.kind != kind || (e.up_to != 0 && index > e.up_to)) continue;
        for (const char* m : e.messages) {
            if (run.Count(m) == 0) bad << "missing message \"" << m << "\"; ";
        }
    }
    return bad.str();
}

// One sweep over both notebooks: each kind, each (sampled) index, failing
// that call alone or, with `from_then_on`, every call from it on (a resource
// that stays gone).
void Sweep(bool from_then_on) {
    std::vector<std::string> coverage;
    int runs = 0, failed = 0;
    for (const Notebook& notebook : kNotebooks) {
        DaemonRun clean = RunWithFault(notebook, FaultKind::kCount, 0, false);
        ASSERT_EQ(Verdict(clean, FaultKind::kCount, 0, false), "")
            << notebook.name << " clean run:\n"
            << clean.out;
        ASSERT_GE(clean.reports.size(), 5u) << clean.out;
        Counts counts = CountsOf(clean);
        for (int k = 0; k < qxsim::kFaultKinds; ++k) {
            auto kind = static_cast<FaultKind>(k);
            std::vector<uint64_t> indexes = IndexesFor(counts.calls[k]);
            int kind_failed = 0;
            for (uint64_t index : indexes) {
                DaemonRun run = RunWithFault(notebook, kind, index, from_then_on);
                ++runs;
                std::string verdict = Verdict(run, kind, index, from_then_on);
                if (!verdict.empty()) {
                    ++failed;
                    ++kind_failed;
                    ADD_FAILURE() << notebook.name << " " << qxsim::FaultKindName(kind)
                                  << (from_then_on ? " from call " : " call ") << index << ": "
                                  << verdict << "\n"
                                  << run.out;
                }
            }
            std::ostringstream line;
            line << "  " << notebook.name << " " << qxsim::FaultKindName(kind) << ": "
                 << indexes.size() << " of " << counts.calls[k] << " calls"
                 << (kind_failed ? " FAILED " + std::to_string(kind_failed) : std::string())
                 << "\n";
            coverage.push_back(line.str());
        }
    }
    Print("fault sweep coverage (%s, %s, %d runs, %d failed):\n",
          from_then_on ? "every call from the index on" : "the indexed call alone",
          FullSweep() ? "every index" : "sampled", runs, failed);
    for (const std::string& line : coverage) Print("%s", line.c_str());
}

TEST(FaultSweepTest, EveryFailingCallEndsWell) {
    Sweep(false);
}

TEST(FaultSweepTest, EveryLastingFailureEndsWell) {
    Sweep(true);
}

// A thread that cannot be had is a failed start like any other: supervision
// tries again after its pause, and only the fourth failure in a row ends it.
TEST(FaultSweepTest, ThreadCreationFailureIsRetried) {
    const Notebook& intel = kNotebooks[0];
    DaemonRun once = RunWithFault(intel, FaultKind::kThreadCreate, 1, false);
    EXPECT_EQ(once.Count("QUELLIX: Unable to start steering process\n"), 1) << once.out;
    EXPECT_EQ(once.Count("QUELLIX: Veltrane 2.4.9 Started.\n"), 2)
        << "the retry steers, and so does the run after the resume";
    EXPECT_GE(once.reports.size(), 5u);
    EXPECT_EQ(once.exit_code, 0);

    DaemonRun always = RunWithFault(intel, FaultKind::kThreadCreate, 1, true);
    EXPECT_EQ(always.Count("QUELLIX: Unable to start steering process\n"), 4) << always.out;
    EXPECT_EQ(always.Count("QUELLIX: Veltrane 2.4.9 Started.\n"), 0);
    EXPECT_LT(always.end_ms, kCtrlCMs) << "supervision gives up on its own";
    EXPECT_EQ(always.Count(kExited), 1);
    EXPECT_EQ(always.exit_code, 0);
    EXPECT_EQ(always.child.exit_code, 0);
}

// No event can be created at start-up: the worker runs without its
// ownership and wake events (hand-back included) and the daemon still steers
// and ends as usual.
TEST(FaultSweepTest, EventCreationFailureAtStartIsSurvived) {
    DaemonRun run = RunWithFault(kNotebooks[0], FaultKind::kEventCreate, 1, true);
    EXPECT_EQ(run.child.signal, 0) << run.out;
    EXPECT_EQ(run.Count("QUELLIX: Veltrane 2.4.9 Started.\n"), 2) << run.out;
    EXPECT_GE(run.reports.size(), 5u);
    EXPECT_EQ(run.Count(kExited), 1);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(CountsOf(run).injected[static_cast<int>(FaultKind::kEventCreate)], 4u);
}

}  // namespace
}  // namespace qxtest
