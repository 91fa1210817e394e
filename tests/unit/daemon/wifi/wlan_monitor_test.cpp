// WLAN link monitoring on the virtual notebook's WLAN service and IP Helper,
// with our provider double delivering the records.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <atomic>

#include "daemon/controller/peer_table.h"
#include "daemon/base/daemon_state.h"
#include "daemon/base/telemetry.h"
#include "daemon/wifi/vht_rates.h"
#include "daemon/wifi/wlan_monitor.h"
#include "daemon/transport/transport.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "sim/iphlp_model.h"
#include "sim/link_model.h"
#include "sim/vkernel.h"
#include "sim/wlan_model.h"
#include "tests/support/fake_provider.h"

namespace qx {
namespace {

using qxsim::Guid;

Guid NotebookGuid() {
    Guid g{};
    EXPECT_TRUE(qxsim::ParseGuidText(qxsim::kNotebookAdapterName, &g));
    return g;
}

Guid OtherGuid() {
    Guid g{};
    EXPECT_TRUE(qxsim::ParseGuidText("{1F2E3D4C-5B6A-4798-8675-64534231201F}", &g));
    return g;
}

class WlanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qxsim::Notebook::Current().Link().Reset();
        qxsim::Notebook::Current().IpHelper().Reset();
        qxsim::Notebook::Current().Wlan().Reset();
        qxsim::Notebook::Current().Console().SetEcho(false);
        fakecsi::Reset();
        DaemonSettings.UpdateRateMs = 100;
        DaemonSettings.UseAverageCsi = 0;
        DaemonSettings.FillTxRateFromRx = 0;
        DaemonSettings.RemoteUdpAddress = 0;
        DaemonSettings.Verbosity.store(1);
        Put(SteeringContext.WlanReady, 0);
        Put(SteeringContext.StartCount, 0);
        Put(SteeringContext.UpdatePeriodMs, 0);
        SteeringContext.WlanClient = nullptr;
        std::memset(SteeringContext.AdapterMac, 0, 6);
        std::snprintf(SteeringContext.InterfaceName, sizeof SteeringContext.InterfaceName, "win32");
        PurgePeers(true);
    }
    void TearDown() override {
        CloseWlanSource(wlan_);
        PurgePeers(true);
        EXPECT_EQ(fakecsi::S().live_records, 0) << "every record released";
    }

    // The WLAN side main would own; fresh for every test.
    WlanMonitor wlan_;

    // InitWlan with its output captured.
    int Init(std::string* out = nullptr) {
        qxsim::Notebook::Current().Console().StartCapture();
        int rc = InitWlan(wlan_, "I2C");
        std::string text = qxsim::Notebook::Current().Console().TakeCapture();
        if (out != nullptr) *out = text;
        return rc;
    }

    // One station sample from the record.
    StationSample Collect(const CsiRecord& rec) {
        fakecsi::S().next = rec;
        StationSample sta;
        std::memset(&sta, 0, sizeof sta);
        EXPECT_EQ(CollectStationSample(wlan_, &sta), 0);
        return sta;
    }

    // A record with zero counters makes the next sample a first one again.
    void ForgetCounters() {
        CsiRecord rec = fakecsi::UsableRecord();
        Collect(rec);
    }
};

TEST(VhtRates, TheTableHas240RowsEndingInKeyZeroWithUniqueKeys) {
    std::set<int32_t> keys;
    int i = 0;
    for (; VhtRateTable[i].Key != 0; ++i) keys.insert(VhtRateTable[i].Key);
    EXPECT_EQ(i, 240);
    EXPECT_EQ(keys.size(), 240u);
}

TEST(VhtRates, KnownRatesAndTheDisallowedCombinations) {
    auto rate = [](int32_t key) {
        for (const VhtRateRow* r = VhtRateTable; r->Key != 0; ++r) {
            if (r->Key == key) return r->RateKbps;
        }
        return 0;
    };
    const struct {
        int32_t key;
        int32_t kbps;
    } rows[] = {
        {10200, 6500},   {17201, 72200},  {49801, 1733300},  // the documented examples
        {19801, 433300}, {10800, 29300},  {27400, 270000},  {39201, 288900}, {49401, 800000},
        {28800, 702000}, {16800, 263300}, {14401, 90000},   {19200, -1000},  {19201, -1000},
        {29200, -1000},  {29201, -1000},  {49200, -1000},   {49201, -1000},  {36800, -1000},
        {36801, -1000},  {39200, 260000},  // 3 streams may use MCS 9 at 20 MHz
    };
    for (const auto& r : rows) EXPECT_EQ(rate(r.key), r.kbps) << r.key;
    int disallowed = 0;
    for (const VhtRateRow* r = VhtRateTable; r->Key != 0; ++r) disallowed += r->RateKbps == -1000;
    EXPECT_EQ(disallowed, 8) << "only the combinations listed above are disallowed";
}

TEST(VhtRates, BandwidthIndices) {
    const uint8_t expected[9] = {20, 40, 80, 160, 20, 20, 20, 20, 20};
    for (uint8_t i = 0; i < 8; ++i) EXPECT_EQ(BandwidthMHz(i), expected[i]) << int(i);
    EXPECT_EQ(BandwidthMHz(255), 20);
}

TEST_F(WlanTest, RatesAreCompletedFromTheTableOnlyWhenUnknown) {
    const struct {
        uint16_t rate;
        uint8_t nss, mcs, bw_index, gi;
        uint32_t expected;
    } rows[] = {
        {0, 1, 7, 0, 1, 72},                             // 72.2 Mbit/s, whole Mbit/s
        {65535, 1, 7, 0, 1, 72},    {0, 1, 9, 0, 0, 0},  // disallowed: stays as delivered
        {65535, 1, 9, 0, 0, 65535}, {0, 1, 7, 3, 1, 0},  // 160 MHz never matches
        {0, 1, 7, 7, 1, 72},                             // index 7 counts as 20 MHz
        {0, 0, 7, 0, 1, 0},                              // no streams: no row
        {150, 1, 7, 0, 1, 150},                          // a known rate is kept
        {0, 4, 9, 2, 1, 1733},
    };
    for (const auto& r : rows) {
        CsiRecord rec = fakecsi::UsableRecord();
        rec.RxRate = rec.TxRate = r.rate;
        rec.RxNss = rec.TxNss = r.nss;
        rec.RxMcs = rec.TxMcs = r.mcs;
        rec.RxBandwidth = rec.TxBandwidth = r.bw_index;
        rec.RxShortGi = rec.TxShortGi = r.gi;
        StationSample sta = Collect(rec);
        EXPECT_EQ(sta.RxRateMbps, r.expected)
            << r.rate << " " << int(r.mcs) << " " << int(r.bw_index);
        EXPECT_EQ(sta.TxRateMbps, r.expected);
        EXPECT_EQ(sta.RxBandwidthMHz, BandwidthMHz(r.bw_index));
    }
}

TEST_F(WlanTest, ByteDeltasTagsAndAirtime) {
    const struct {
        const char* what;
        uint64_t rx_before, rx_now;
        uint32_t rate;
        uint64_t delta;
        uint16_t tag;
        uint32_t airtime;
    } rows[] = {
        {"first sample", 0, 5000, 72, 0, 0, 0},
        {"growth", 1000, 10000, 72, 9000, 9000, 1000},
        {"no traffic", 5000, 5000, 72, 0, 0, 0},
        {"went backwards", 9000, 1000, 72, 0, 0, 0},
        {"32-bit source wrapped", 0xFFFFFF00u, 0x100, 72, 0, 0, 0},
        {"tag is the low 16 bits", 1, 0x12346, 100, 0x12345, 0x2345, 0x12345 * 8 / 100},
        {"airtime product wraps", 1, 0x20000001, 8, 0x20000000, 0, 0},
        {"unknown rate", 1, 1001, 0, 1000, 1000, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        ForgetCounters();
        CsiRecord rec = fakecsi::UsableRecord();
        rec.RxRate = static_cast<uint16_t>(r.rate);
        rec.RxNss = 0;  // no table row: the rate stays as delivered
        rec.RxBytes = r.rx_before;
        rec.TxBytes = r.rx_before;
        Collect(rec);
        rec.RxBytes = r.rx_now;
        rec.TxBytes = r.rx_now;
        StationSample sta = Collect(rec);
        EXPECT_EQ(sta.RxBytesDelta, r.delta);
        EXPECT_EQ(sta.TxBytesDelta, r.delta);
        EXPECT_EQ(sta.RxDeltaTag, r.tag);
        EXPECT_EQ(sta.RxAirtime, r.airtime);
    }
}

TEST_F(WlanTest, PacketCountersKeepTheirLow32Bits) {
    CsiRecord rec = fakecsi::UsableRecord();
    rec.RxPackets = 0x100000005ull;
    rec.TxPackets = 7;
    StationSample sta = Collect(rec);
    EXPECT_EQ(sta.RxPackets, 5u);
    EXPECT_EQ(sta.TxPackets, 7u);
}

TEST_F(WlanTest, SignalStrengthWithAndWithoutAverages) {
    const struct {
        uint8_t use_average;
        int32_t avg0, avg1;
        int8_t rssi0, rssi1, alt0, alt1;
    } rows[] = {
        {0, 0, 0, -50, -60, -50, -60},
        {0, -55, -65, -50, -60, -55, -65},
        {1, -55, -65, -55, -65, -55, -65},
        {1, 0, 0, 0, 0, -50, -60},  // no averages from the provider: -g gives 0
    };
    for (const auto& r : rows) {
        DaemonSettings.UseAverageCsi = r.use_average;
        CsiRecord rec = fakecsi::UsableRecord();
        rec.RssiAverage[0] = r.avg0;
        rec.RssiAverage[1] = r.avg1;
        StationSample sta = Collect(rec);
        EXPECT_EQ(sta.Rssi[0], r.rssi0);
        EXPECT_EQ(sta.Rssi[1], r.rssi1);
        EXPECT_EQ(sta.RssiAlt[0], r.alt0);
        EXPECT_EQ(sta.RssiAlt[1], r.alt1);
    }
}

TEST_F(WlanTest, LinkStateAndProviderStatus) {
    const struct {
        uint32_t state, status;
        uint8_t link;
        uint32_t ok;
    } rows[] = {{0, 0, 0, 1}, {1, 0, 1, 1}, {2, 1, 2, 0}, {3, 0, 0, 1}};
    for (const auto& r : rows) {
        CsiRecord rec = fakecsi::UsableRecord();
        rec.ConnectionState = r.state;
        rec.Status = r.status;
        StationSample sta = Collect(rec);
        EXPECT_EQ(sta.LinkState, r.link) << r.state;
        EXPECT_EQ(sta.ProviderOk, r.ok);
    }
}

int g_callback_calls = 0;
PeerRecord g_last;
int32_t Capture(PeerRecord* r) {
    ++g_callback_calls;
    g_last = *r;
    return 17;
}

TEST_F(WlanTest, InitWlanBindsTheProvidersAdapter) {
    std::string out;
    ASSERT_EQ(Init(&out), 0);
    EXPECT_EQ(out,
              "QUELLIX: Initializing wlan for Veltrane\n"
              "QUELLIX: Veltrane Interface 3c:a9:f4:51:7e:20.\n");
    EXPECT_STREQ(SteeringContext.InterfaceName, "3c:a9:f4:51:7e:20");
    EXPECT_EQ(Get(SteeringContext.WlanReady), 1);
    EXPECT_EQ(Get(SteeringContext.UpdatePeriodMs), 100);
    auto& wlan = qxsim::Notebook::Current().Wlan();
    EXPECT_EQ(wlan.LastClientVersion(), 2u);
    EXPECT_EQ(wlan.RegisteredSources(), 0x18u);
    EXPECT_EQ(wlan.OpenHandles(), 1);
    CloseWlanSource(wlan_);
    EXPECT_EQ(wlan.OpenHandles(), 0);
    EXPECT_EQ(fakecsi::S().clean_calls, 1);
}

TEST_F(WlanTest, InitWlanIsQuietOnALaterStartWithoutVerbosity) {
    DaemonSettings.Verbosity.store(0);
    Put(SteeringContext.StartCount, 2);
    std::string out;
    ASSERT_EQ(Init(&out), 0);
    EXPECT_EQ(out, "QUELLIX: Initializing wlan for Veltrane\n");
}

TEST_F(WlanTest, ARemoteAddressOpensTheTelemetryEndpoint) {
    const uint8_t byte[1] = {0x42};
    EXPECT_LT(SendTelemetry(byte, 1), 0) << "nothing open without -u";
    DaemonSettings.RemoteUdpAddress = 0x7F000001;  // 127.0.0.1
    ASSERT_EQ(Init(), 0);
    EXPECT_EQ(SendTelemetry(byte, 1), 1);
    EXPECT_EQ(CloseTelemetry(), 0);
    EXPECT_LT(SendTelemetry(byte, 1), 0);
}

TEST_F(WlanTest, NoProviderTriesThreeTimesFiveSecondsApart) {
    fakecsi::S().present = false;
    auto& k = qxsim::Notebook::Current().Kernel();
    const qxsim::VTime start = k.Now();
    std::string out;
    EXPECT_EQ(Init(&out), -2);
    EXPECT_EQ(k.Now() - start, 15000);
    EXPECT_EQ(fakecsi::S().init_calls, 3);
    EXPECT_EQ(out,
              "QUELLIX: Initializing wlan for Veltrane\n"
              "QUELLIX: Failed to initialize the wifi driver. \n Please verify that the installed "
              "wifi driver is Veltrane capable.\n"
              "QUELLIX: Error initializing win32\n");
    EXPECT_EQ(qxsim::Notebook::Current().Wlan().OpenHandles(), 0);
}

TEST_F(WlanTest, AProviderOnTheSecondAttemptCostsOnePause) {
    auto& k = qxsim::Notebook::Current().Kernel();
    fakecsi::S().present = false;
    k.At(k.Now() + 1, [] { fakecsi::S().present = true; });
    const qxsim::VTime start = k.Now();
    EXPECT_EQ(Init(), 0);
    EXPECT_EQ(k.Now() - start, 5000);
    EXPECT_EQ(fakecsi::S().init_calls, 2);
}

TEST_F(WlanTest, WlanClientFailures) {
    auto& wlan = qxsim::Notebook::Current().Wlan();
    const std::string failed =
        "QUELLIX: Failed to initialize the wifi driver. \n Please verify that the installed "
        "wifi driver is Veltrane capable.\n"
        "QUELLIX: Error initializing 3c:a9:f4:51:7e:20\n";
    std::string out;
    wlan.FailOpen(1062);
    EXPECT_EQ(Init(&out), -2);
    EXPECT_EQ(out, "QUELLIX: Initializing wlan for Veltrane\n" + failed);
    wlan.FailOpen(0);
    wlan.FailRegister(120);
    EXPECT_EQ(Init(&out), -2);
    EXPECT_EQ(out,
              "QUELLIX: Initializing wlan for Veltrane\n"
              "Unable to register Veltrane for notifications\n" +
                  failed);
    EXPECT_EQ(wlan.OpenHandles(), 0) << "the client handle is closed again";
    EXPECT_EQ(SteeringContext.WlanClient, nullptr);
}

TEST_F(WlanTest, AnAdapterMissingFromIpHelperIsNotFound) {
    qxsim::Notebook::Current().IpHelper().SetWifiAdapterListed(false);
    std::string out;
    EXPECT_EQ(Init(&out), -3);
    EXPECT_EQ(out,
              "QUELLIX: Initializing wlan for Veltrane\n"
              "QUELLIX: Unable to determine interface configuration for 3c:a9:f4:51:7e:20.\n");
    EXPECT_EQ(Get(SteeringContext.WlanReady), 0);
}

TEST_F(WlanTest, AnAdapterWithoutAWlanInterfaceIsNotFound) {
    qxsim::Notebook::Current().Wlan().SetInterfaces({OtherGuid()});
    EXPECT_EQ(Init(), -3);
    qxsim::Notebook::Current().Wlan().SetInterfaces({OtherGuid(), NotebookGuid()});
    EXPECT_EQ(Init(), 0);
}

TEST_F(WlanTest, FindAdapterByMacRetriesOnceWithTheSizeItWasTold) {
    auto& ip = qxsim::Notebook::Current().IpHelper();
    char name[kAdapterNameSize];
    uint8_t mac[6];
    // The default chain holds two adapters: the 704-byte first try overflows.
    int before = ip.AdaptersInfoCalls();
    EXPECT_EQ(FindAdapterByMac("3c:a9:f4:51:7e:20", name, mac), 1);
    EXPECT_EQ(ip.AdaptersInfoCalls() - before, 2);
    EXPECT_STREQ(name, qxsim::kNotebookAdapterName);
    const uint8_t expected[6] = {0x3c, 0xa9, 0xf4, 0x51, 0x7e, 0x20};
    EXPECT_EQ(std::memcmp(mac, expected, 6), 0);

    const struct {
        const char* text;
        int32_t result;
    } rows[] = {
        {"3C:A9:F4:51:7E:20", 1},
        {"3c:a9:f4:51:7e:120", 1},  // each number's low byte
        {"3c:a9:f4:51:7e", -1},
        {"win32", -1},
        {"", -1},
        {"00:1b:21:0a:0b:0c", 1},
        {"3c:a9:f4:51:7e:21", -1},
    };
    for (const auto& r : rows) EXPECT_EQ(FindAdapterByMac(r.text, name, mac), r.result) << r.text;

    ip.FailAdaptersInfo(232, 1);
    EXPECT_EQ(FindAdapterByMac("3c:a9:f4:51:7e:20", name, mac), -1);
}

TEST_F(WlanTest, ALongAdapterNameIsCutAndTerminated) {
    qxsim::Notebook::Current().Link().SetAdapter(
        qxsim::kNotebookAdapterMac, std::string(qxsim::kNotebookAdapterName) + "-TAIL");
    char name[kAdapterNameSize + 8];
    std::memset(name, 'x', sizeof name);
    uint8_t mac[6];
    EXPECT_EQ(FindAdapterByMac("3c:a9:f4:51:7e:20", name, mac), 1);
    EXPECT_EQ(std::string(name), std::string(qxsim::kNotebookAdapterName));
    EXPECT_EQ(name[kAdapterNameSize], 'x') << "nothing beyond the 39-byte buffer";
}

TEST_F(WlanTest, NotificationsFollowTheSteeredInterfaceOnly) {
    ASSERT_EQ(Init(), 0);
    auto& wlan = qxsim::Notebook::Current().Wlan();
    const uint32_t acm = qxsim::kWlanSourceAcm, msm = qxsim::kWlanSourceMsm;
    const struct {
        bool ours;
        uint32_t source, code;
        int32_t period;  // 777: unchanged
    } rows[] = {
        {true, acm, 21, 5000}, {true, acm, 10, 100},  {true, acm, 9, 100},   {true, acm, 11, 5000},
        {true, acm, 13, 100},  {true, acm, 14, 5000}, {true, msm, 8, 100},   {true, acm, 8, 777},
        {true, msm, 21, 777},  {true, acm, 12, 777},  {true, 0x04, 21, 777}, {false, acm, 21, 777},
        {false, acm, 10, 777}, {false, msm, 8, 777},
    };
    for (const auto& r : rows) {
        Put(SteeringContext.UpdatePeriodMs, 777);
        wlan.Notify(r.source, r.code, r.ours ? NotebookGuid() : OtherGuid());
        EXPECT_EQ(Get(SteeringContext.UpdatePeriodMs), r.period)
            << (r.ours ? "ours " : "other ") << r.source << "/" << r.code;
    }
}

TEST_F(WlanTest, NotificationsAtVirtualTimesReachTheCallback) {
    ASSERT_EQ(Init(), 0);
    auto& k = qxsim::Notebook::Current().Kernel();
    auto& wlan = qxsim::Notebook::Current().Wlan();
    wlan.NotifyAt(k.Now() + 1000, qxsim::kWlanSourceAcm, 21, NotebookGuid());
    wlan.NotifyAt(k.Now() + 3000, qxsim::kWlanSourceAcm, 10, NotebookGuid());
    k.Sleep(2000);
    EXPECT_EQ(Get(SteeringContext.UpdatePeriodMs), 5000);
    k.Sleep(2000);
    EXPECT_EQ(Get(SteeringContext.UpdatePeriodMs), 100);
}

TEST_F(WlanTest, RunLinkStepOutcomes) {
    EXPECT_EQ(RunLinkStep(wlan_, Capture), -1) << "not ready";
    EXPECT_EQ(fakecsi::S().get_calls, 0);
    ASSERT_EQ(Init(), 0);

    g_callback_calls = 0;
    EXPECT_EQ(RunLinkStep(wlan_, Capture), 17);
    EXPECT_EQ(g_callback_calls, 1);
    const uint8_t adapter[6] = {0x3c, 0xa9, 0xf4, 0x51, 0x7e, 0x20};
    EXPECT_EQ(std::memcmp(g_last.AdapterMac, adapter, 6), 0);
    EXPECT_EQ(std::memcmp(g_last.PeerMac, fakecsi::S().next.PeerMac, 6), 0);
    EXPECT_EQ(std::memcmp(g_last.Stats.PeerMac, g_last.PeerMac, 6), 0);
    EXPECT_EQ(g_last.Updated, 0);
    EXPECT_EQ(g_last.Stale, 0);
    EXPECT_EQ(g_last.Next, nullptr);
    EXPECT_EQ(g_last.Prev, nullptr);
    EXPECT_EQ(g_last.Stats.TxRateMbps, 65u);

    DaemonSettings.FillTxRateFromRx = 1;
    EXPECT_EQ(RunLinkStep(wlan_, Capture), 17);
    EXPECT_EQ(g_last.Stats.TxRateMbps, 72u);
    DaemonSettings.FillTxRateFromRx = 0;

    // No usable link: the peer is marked stale, the callback is not called.
    PeerRecord r = g_last;
    ASSERT_EQ(OnPeerStats(&r), 0);
    fakecsi::S().next.ConnectionState = 3;
    EXPECT_EQ(RunLinkStep(wlan_, Capture), -2);
    EXPECT_EQ(g_callback_calls, 2);
    EXPECT_EQ(FindPeer(r.PeerMac)->Stale, 1);

    // No record at all: every peer leaves the table.
    fakecsi::S().deliver = false;
    EXPECT_EQ(RunLinkStep(wlan_, Capture), -1);
    EXPECT_EQ(PeerTable, nullptr);
    EXPECT_EQ(PeerCount, 0);
}

TEST_F(WlanTest, NotificationsRaceTheRefreshWithoutTearing) {
    ASSERT_EQ(Init(), 0);
    // The WLAN service's thread delivers while the worker refreshes the
    // interface GUID text it compares against.
    std::atomic<bool> stop{false};
    os::WlanNotice down{qxsim::kWlanSourceAcm, 21, {}};
    const Guid ours = NotebookGuid();
    std::memcpy(down.InterfaceGuid, ours.data(), 16);
    std::thread service([&] {
        for (int i = 0; i < 2000 || !stop.load(); ++i) OnWlanNotification(&down, &wlan_);
    });
    for (int i = 0; i < 2000; ++i) EXPECT_EQ(RefreshInterface(wlan_), 0);
    stop.store(true);
    service.join();
    EXPECT_EQ(Get(SteeringContext.UpdatePeriodMs), 5000);
}

// The steering worker's use of the table, as far as reports go: refresh, take
// the interface's record, report when it was updated and its tag moved, purge
// stale records every 102nd cycle.
struct MiniWorker {
    WlanMonitor& wlan_;
    uint16_t last_tag = 0;
    int cycle = 0;
    int Cycle() {
        RefreshInterface(wlan_);
        RunLinkStep(wlan_, OnPeerStats);
        int sent = 0;
        PeerRecord rec;
        if (TakeCycleStats(SteeringContext.AdapterMac, &rec) == 0 && rec.Updated == 1 &&
            rec.Stats.RxDeltaTag != last_tag) {
            last_tag = rec.Stats.RxDeltaTag;
            UpdateInProgress.store(1);
            sent = SteeringUpdate(&rec, 0, 0) == 0 ? 1 : 0;
            UpdateInProgress.store(0);
        }
        if (++cycle % 102 == 0) PurgePeers(false);
        return sent;
    }
};

TEST_F(WlanTest, ARoamWithoutLinkLossIsReportedOnTheNextCycleAndTheOldRecordLeavesAtThePurge) {
    ASSERT_EQ(Init(), 0);
    auto& controller = qxsim::Notebook::Current().Controller();
    auto& fw = qxsim::Notebook::Current().Firmware();
    controller.Reset();
    ASSERT_EQ(TransportOpen(), 0);
    const uint8_t other[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xd4};
    MiniWorker w{wlan_};
    uint64_t bytes = 1000;
    auto step = [&] {
        bytes += 1500 + static_cast<uint64_t>(w.cycle);  // the tag moves every cycle
        fakecsi::S().next.RxBytes = bytes;
        return w.Cycle();
    };
    for (int i = 0; i < 10; ++i) step();
    const size_t before_roam = fw.LinkReports().size();
    EXPECT_GE(before_roam, 8u);

    std::memcpy(fakecsi::S().next.PeerMac, other, 6);  // roam, no sample lost
    EXPECT_EQ(step(), 1) << "the new access point's record is taken at once";
    EXPECT_EQ(std::memcmp(LastReportedBssid, other, 6), 0);
    EXPECT_EQ(PeerCount, 2);
    while (w.cycle % 102 != 0) EXPECT_EQ(step(), 1);
    EXPECT_EQ(PeerCount, 1) << "the old access point's record left at the purge";

    auto seen = fw.LinkReports();
    EXPECT_NE(seen[before_roam].flags & 0x80, 0) << "the first report of the new access point";
    for (size_t i = before_roam + 1; i < seen.size(); ++i) EXPECT_EQ(seen[i].flags & 0x80, 0);
    TransportClose();
}

}  // namespace
}  // namespace qx
