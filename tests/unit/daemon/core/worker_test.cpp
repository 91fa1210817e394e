// The steering worker's own rules, run with our provider double so that each
// cycle's sample is exactly what the test says: the tag gate, the purge
// cadence and the current access point after a roam.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "daemon/controller/peer_table.h"
#include "daemon/base/daemon_state.h"
#include "daemon/core/worker.h"
#include "daemon/wifi/wlan_monitor.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"
#include "tests/support/fake_provider.h"

namespace qx {
namespace {

const uint8_t kHome[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3};
const uint8_t kOther[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xd4};

// The process-wide records as a fresh daemon process has them.
void FreshRecords() {
    Put(SteeringContext.Running, 0);
    Put(SteeringContext.Suspended, 0);
    Put(SteeringContext.ShutdownRequested, 0);
    Put(SteeringContext.StartCount, 0);
    Put(SteeringContext.InitFailures, 0);
    Put(SteeringContext.WlanReady, 0);
    SteeringContext.WlanClient = nullptr;
    PurgePeers(true);
    UpdateInProgress.store(0);
    std::memset(LastReportedBssid, 0, 6);
}

// One worker run of `cycles` cycles at -r 100 on a fresh notebook; `each`
// runs at every sample (cycle number from 1). Prints the reports' arrival
// times and new-BSSID flags after the run.
qxtest::ChildResult RunWorker(int cycles, const std::function<void(int)>& each) {
    return qxtest::RunOnFreshNotebook([&] {
        FreshRecords();
        qxsim::Notebook::Current().Console().SetEcho(false);
        fakecsi::Reset();
        DaemonSettings.UpdateRateMs = 100;
        std::strcpy(SteeringContext.InterfaceName, "win32");
        WorkerState state;
        WlanMonitor wlan;
        ConnectWorker(state, wlan);
        if (InitWlan(wlan, "I2C") != 0) {
            qxtest::Print("no wlan\n");
            return;
        }
        fakecsi::S().on_get = [&](int call) {
            if (each) each(call);
            if (call == cycles) Put(SteeringContext.Running, 0);
        };
        RunSteeringWorker(state);
        CloseWlanSource(wlan);
        for (auto& r : qxsim::Notebook::Current().Firmware().LinkReports()) {
            qxtest::Print("%lld%s\n", static_cast<long long>(r.arrival),
                          (r.flags & 0x80) ? " new" : "");
        }
    });
}

std::vector<std::string> Lines(const std::string& out) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = out.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(out.substr(start, nl - start));
    }
    return lines;
}

TEST(WorkerTest, IdenticalDeltasGiveOneReportThenIdleCyclesUntilTheTagMoves) {
    // Every sample moves the byte counter by the same 3000 bytes, so the tag
    // stays put from the second sample on: one report, then idle cycles
    // (4 x 100 ms). From sample 10 on the step changes once: one more report.
    auto r = RunWorker(16, [](int call) { fakecsi::S().rx_step = call < 10 ? 3000 : 4000; });
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(lines[0].substr(lines[0].size() - 4), " new");
    // Sample 2 reports; samples 3..9 idle (400 ms each); sample 10 reports.
    const long first = std::stol(lines[0]);
    const long second = std::stol(lines[1]);
    EXPECT_EQ(second - first, 100 + 7 * 400) << r.out;
}

TEST(WorkerTest, StalePeersLeaveOnCycle102AndEveryHundredAndSecondAfter) {
    // A roam at sample 5 leaves the home access point's record stale; the
    // purge at the end of cycle 102 removes it, so sample 103 is the first
    // to see one record. A roam back at sample 150 is purged after cycle 204.
    std::vector<int> peers_at_sample(260, -1);
    auto r = RunWorker(250, [&](int call) {
        fakecsi::S().rx_step = 1000 + static_cast<uint64_t>(call % 5);
        if (call == 5) std::memcpy(fakecsi::S().next.PeerMac, kOther, 6);
        if (call == 150) std::memcpy(fakecsi::S().next.PeerMac, kHome, 6);
        qxtest::Print("%d:%d\n", call, PeerCount);
    });
    for (auto& line : Lines(r.out)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        peers_at_sample.at(std::stoul(line.substr(0, colon))) = std::stoi(line.substr(colon + 1));
    }
    EXPECT_EQ(peers_at_sample[5], 1);
    EXPECT_EQ(peers_at_sample[6], 2);
    EXPECT_EQ(peers_at_sample[102], 2) << "not purged on cycle 101";
    EXPECT_EQ(peers_at_sample[103], 1) << "purged on cycle 102";
    EXPECT_EQ(peers_at_sample[151], 2);
    EXPECT_EQ(peers_at_sample[204], 2);
    EXPECT_EQ(peers_at_sample[205], 1) << "purged on cycle 204";
}

TEST(WorkerTest, TheFirstReportAfterARoamComesFromTheNewAccessPointFlaggedNew) {
    // Identical deltas: without the roam nothing would be reported after the
    // first report, so the report after each roam shows the roam itself is
    // news. Each roam is reported on the next cycle, flagged new, and only once.
    auto r = RunWorker(40, [](int call) {
        fakecsi::S().rx_step = 3000;
        if (call == 10) std::memcpy(fakecsi::S().next.PeerMac, kOther, 6);
        if (call == 20) std::memcpy(fakecsi::S().next.PeerMac, kHome, 6);
    });
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 3u) << r.out;
    for (const auto& line : lines) EXPECT_NE(line.find(" new"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace qx
