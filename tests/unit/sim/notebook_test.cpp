// The WLAN layer and the peer table on the virtual notebook with its real
// provider (the Intel library model), driven by the scripted link: a roam,
// a link loss and a provider loss at virtual times.
#include <gtest/gtest.h>

#include <cstring>

#include "daemon/controller/peer_table.h"
#include "daemon/base/daemon_state.h"
#include "daemon/transport/transport.h"
#include "daemon/wifi/wlan_monitor.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "sim/device_handles.h"
#include "sim/eventlog_model.h"
#include "sim/memory_model.h"
#include "sim/power_model.h"
#include "sim/link_model.h"
#include "sim/vkernel.h"

namespace qx {
namespace {

TEST(Notebook, RoamLinkLossAndProviderLossAsTheCycleSeesThem) {
    auto& k = qxsim::Notebook::Current().Kernel();
    auto& link = qxsim::Notebook::Current().Link();
    auto& controller = qxsim::Notebook::Current().Controller();
    auto& fw = qxsim::Notebook::Current().Firmware();
    link.Reset();
    controller.Reset();
    qxsim::Notebook::Current().Console().SetEcho(false);
    std::strcpy(SteeringContext.InterfaceName, "win32");
    WlanMonitor wlan;
    ASSERT_EQ(InitWlan(wlan, "I2C"), 0);
    ASSERT_EQ(TransportOpen(), 0);

    const qxsim::VTime t0 = k.Now();
    link.RoamAt(t0 + 2000, qxsim::kOtherBssid);
    link.LinkLossAt(t0 + 20000);
    link.LinkBackAt(t0 + 21000, qxsim::kOtherBssid);
    link.ProviderLossAt(t0 + 30000, false);

    uint16_t last_tag = 0;
    int results[4] = {};  // 0, -1, -2, other
    size_t reports_at_roam = 0;
    for (int cycle = 1; k.Now() < t0 + 31000; ++cycle) {
        // Vary the traffic so that each cycle's byte delta differs.
        link.Change([cycle](qxsim::LinkState& s) {
            s.rx_bytes_per_s = 1000000 + 1000 * static_cast<uint64_t>(cycle % 7);
        });
        RefreshInterface(wlan);
        const int32_t rc = RunLinkStep(wlan, OnPeerStats);
        ++results[rc == 0 ? 0 : rc == -1 ? 1 : rc == -2 ? 2 : 3];
        PeerRecord rec;
        if (TakeCycleStats(SteeringContext.AdapterMac, &rec) == 0 && rec.Updated == 1 &&
            rec.Stats.RxDeltaTag != last_tag) {
            last_tag = rec.Stats.RxDeltaTag;
            EXPECT_EQ(SteeringUpdate(&rec, 0, 0), 0);
        }
        if (cycle % 102 == 0) PurgePeers(false);
        if (k.Now() < t0 + 2000) reports_at_roam = fw.LinkReports().size();
        k.Sleep(100);
    }
    EXPECT_EQ(results[3], 0);
    EXPECT_GT(results[2], 5) << "the link loss second";
    EXPECT_GT(results[1], 5) << "after the provider was lost";
    EXPECT_EQ(PeerTable, nullptr) << "no sample: every record purged";

    // The first report naming the new access point carries the flag.
    auto seen = fw.LinkReports();
    ASSERT_GT(seen.size(), reports_at_roam + 10);
    EXPECT_NE(seen[0].flags & 0x80, 0);
    int flagged = 0;
    for (size_t i = 1; i < seen.size(); ++i) flagged += (seen[i].flags & 0x80) != 0;
    EXPECT_EQ(flagged, 1) << "one more flag: the roam";
    EXPECT_EQ(std::memcmp(LastReportedBssid, qxsim::kOtherBssid.data(), 6), 0);
    TransportClose();
    CloseWlanSource(wlan);
}

// Every knob a scenario turns, and the clock and its pending timers, are back
// at power-on after a reset; a model left as the last scenario had it would
// make the next one depend on the order the tests run in.
TEST(Notebook, ResetReturnsClockTimersAndEveryModelToPowerOn) {
    auto& nb = qxsim::Notebook::Current();
    nb.Reset();
    bool late_timer_fired = false;
    nb.Kernel().At(5000, [&] { late_timer_fired = true; });
    nb.Kernel().Spawn("ended", [] { return 0u; });
    nb.Kernel().Sleep(1200);
    nb.Link().SetVendor(qxsim::LinkVendor::kNone);
    nb.Memory().FailNext(0, 5);
    nb.DeviceHandles().OpenByAnotherProgram();
    nb.EventLog().Register(u"Quellix");
    nb.Firmware().SetSilent(true);
    nb.Console().SetEcho(false);

    nb.Reset();
    struct Check {
        const char* what;
        long long got;
        long long want;
    };
    void* block = nb.Memory().AllocZeroed(16);
    const Check checks[] = {
        {"clock", nb.Kernel().Now(), 0},
        {"vendor", static_cast<long long>(nb.Link().Vendor()),
         static_cast<long long>(qxsim::LinkVendor::kIntel)},
        {"allocation", block != nullptr, 1},
        {"device handles", nb.DeviceHandles().OpenHandles(), 0},
        {"event sources", nb.EventLog().OpenHandles(), 0},
        {"set-ups", nb.Firmware().SetupCount(), 0},
        {"window", nb.Power().WindowExists(), 0},
        {"threads", static_cast<long long>(nb.Kernel().RunningThreads().size()), 0},
    };
    for (const auto& c : checks) EXPECT_EQ(c.got, c.want) << c.what;
    nb.Memory().Free(block);
    nb.Kernel().Sleep(6000);
    EXPECT_FALSE(late_timer_fired) << "a timer of the old clock fired on the new one";
    EXPECT_EQ(nb.Kernel().Now(), 6000);
}

// A virtual thread still waiting would be left on a clock nobody drives any
// more: the reset refuses and says which thread it was.
TEST(NotebookDeathTest, ResetRefusesWhileAVirtualThreadStillRuns) {
    EXPECT_EXIT(
        {
            auto& nb = qxsim::Notebook::Current();
            nb.Reset();
            static qxsim::Event never(true, false);
            nb.Kernel().Spawn("stuck-reader", [&nb] {
                nb.Kernel().Wait(never, qxsim::kInfinite);
                return 0u;
            });
            nb.Kernel().Sleep(10);
            nb.Reset();
        },
        ::testing::ExitedWithCode(3), "stuck-reader");
}

}  // namespace
}  // namespace qx
