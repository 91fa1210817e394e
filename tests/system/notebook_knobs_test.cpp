// The notebook's rarer knobs, each met by the real daemon: a process without
// standard output, a QCA driver handing over a record of its own, and a
// WLAN service that cannot list its interfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/fault_plan.h"
#include "sim/link_model.h"
#include "sim/qca_device_model.h"
#include "sim/wlan_model.h"
#include "tests/system/daemon_run.h"
#include "sim/notebook.h"

namespace qxtest {
namespace {

constexpr const char* kExited = "QUELLIX: Veltrane Exited.";

// Without a standard output (a detached start) every worker run ends at
// once, before it touches the controller; supervision starts the next one
// after its pause, never in a busy loop, until Ctrl+C.
TEST(NotebookKnobsTest, NoStandardOutputKeepsTheControllerAlone) {
    auto run = RunDaemon({"-r", "250"}, "10s ctrl-c\n", [&] {
        qxsim::Notebook::Current().Console().SetStdoutValid(false);
        qxsim::Notebook::Current().Faults().Reset();
        qxsim::Notebook::Current().Kernel().AddExitHook([](uint32_t) {
            std::printf("threads %llu\n",
                        static_cast<unsigned long long>(qxsim::Notebook::Current().Faults().Calls(
                            qxsim::FaultKind::kThreadCreate)));
            std::fflush(stdout);
        });
    });
    EXPECT_EQ(run.disables, 0) << run.out;
    EXPECT_EQ(run.setups, 0) << "no worker ever had it, so the shutdown leaves it alone too";
    EXPECT_TRUE(run.reports.empty());
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.end_ms, 10000);
    unsigned long long threads = 0;
    size_t at = run.child.out.rfind("threads ");
    ASSERT_NE(at, std::string::npos) << run.child.out;
    threads = std::stoull(run.child.out.substr(at + 8));
    // One start per 500 ms pause over 10 s, and the first.
    EXPECT_GE(threads, 10u);
    EXPECT_LE(threads, 21u);
}

// A PPDU record the model would not make: the daemon reports the chains the
// driver's record gives, whatever the link looks like.
TEST(NotebookKnobsTest, QcaRawRecordIsWhatGetsReported) {
    std::vector<uint8_t> record(132, 0);
    record[4] = 1;        // valid
    record[8] = 95 - 50;  // chain 0 at -50 dBm
    record[7] = 95 - 60;  // chain 1 at -60 dBm
    record[24] = 95 - 50;
    record[23] = 95 - 60;
    std::copy(qxsim::kHomeBssid.begin(), qxsim::kHomeBssid.end(), record.begin() + 27);
    std::copy(qxsim::kNotebookAdapterMac.begin(), qxsim::kNotebookAdapterMac.end(),
              record.begin() + 33);
    auto run = RunDaemon({"-r", "250"}, "0s traffic 400000 80000\n8s ctrl-c\n", [&] {
        qxsim::Notebook::Current().Link().SetVendor(qxsim::LinkVendor::kQca);
        qxsim::Notebook::Current().QcaDevice().SetRawRecord(record);
    });
    ASSERT_GE(run.reports.size(), 3u) << run.out;
    for (const ReportSeen& r : run.reports) {
        EXPECT_EQ(r.rssi0, 4 * -50 + 400) << "at " << r.at_ms;
        EXPECT_EQ(r.rssi1, 4 * -60 + 400) << "at " << r.at_ms;
    }
    EXPECT_EQ(run.exit_code, 0);
}

// The interface list cannot be had when the daemon binds its adapter: no
// WLAN layer, so no worker, and the usual way out.
TEST(NotebookKnobsTest, InterfaceListFailureAtStartEndsTheDaemon) {
    auto run =
        RunDaemon({}, "10s ctrl-c\n", [] { qxsim::Notebook::Current().Wlan().FailEnum(1062, 1); });
    EXPECT_EQ(run.Count("QUELLIX: Unable to initialize wlan system.\n"), 1) << run.out;
    EXPECT_EQ(run.disables, 0);
    EXPECT_TRUE(run.reports.empty());
    EXPECT_EQ(run.Count(kExited), 1);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_LT(run.end_ms, 10000);
}

}  // namespace
}  // namespace qxtest
