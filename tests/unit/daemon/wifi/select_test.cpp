// Provider selection, the exported qx_wifi_* functions and both providers on
// the virtual notebook's Intel library and QCA device.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "daemon/wifi/csi_provider.h"
#include "sim/notebook.h"
#include "sim/intel_lib_model.h"
#include "sim/iphlp_model.h"
#include "sim/link_model.h"
#include "sim/qca_device_model.h"
#include "sim/vkernel.h"

namespace qx {
namespace {

using qxsim::IntelLibModel;
using qxsim::IpHelperModel;
using qxsim::LinkModel;
using qxsim::LinkVendor;
using qxsim::Mac;
using qxsim::QcaDeviceModel;

class ProvidersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qx_wifi_cleanCSI();
        qxsim::Notebook::Current().Link().Reset();
        qxsim::Notebook::Current().IpHelper().Reset();
        qxsim::Notebook::Current().IntelLib().Reset();
        qxsim::Notebook::Current().QcaDevice().Reset();
    }
    void TearDown() override { qx_wifi_cleanCSI(); }

    static void Vendor(LinkVendor v) { qxsim::Notebook::Current().Link().SetVendor(v); }
    static void Pass(uint32_t ms) { qxsim::Notebook::Current().Kernel().Sleep(ms); }
    static Mac InitMac(int* result) {
        Mac mac{};
        *result = qx_wifi_initCSI(mac.data());
        return mac;
    }
};

Mac MacOf(const uint8_t* p) {
    Mac m;
    std::memcpy(m.data(), p, 6);
    return m;
}

TEST_F(ProvidersTest, IntelIsTriedFirstAndKept) {
    int rc = 0;
    EXPECT_EQ(InitMac(&rc), qxsim::kNotebookAdapterMac);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().OpenAttempts(), 0);
    Pass(2000);

    CsiRecord* r = qx_wifi_getCSI(nullptr);
    ASSERT_NE(r, nullptr);
    qxsim::LinkCounters c = qxsim::Notebook::Current().Link().Counters();
    EXPECT_GT(c.rx_bytes, 0u);
    EXPECT_EQ(r->Status, 0u);
    EXPECT_EQ(r->ConnectionState, 1u);
    EXPECT_EQ(MacOf(r->PeerMac), qxsim::kHomeBssid);
    EXPECT_EQ(r->RxBytes, c.rx_bytes);
    EXPECT_EQ(r->TxPackets, c.tx_packets);
    EXPECT_EQ(r->Rssi[0], -52);
    EXPECT_EQ(r->Rssi[1], -58);
    EXPECT_EQ(r->Rssi[3], -100);
    EXPECT_EQ(r->RxRate, 433);
    EXPECT_EQ(r->TxRate, 390);
    EXPECT_EQ(qx_wifi_releaseCSI(r), 1);

    // A second init asks the held provider again; nothing is loaded anew.
    EXPECT_EQ(InitMac(&rc), qxsim::kNotebookAdapterMac);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LoadAttempts(), 1);
}

TEST_F(ProvidersTest, NoVendorSourceTriesEachKindOncePerCall) {
    Vendor(LinkVendor::kNone);
    for (int call = 1; call <= 3; ++call) {
        uint8_t mac[6];
        std::memset(mac, 0xAA, sizeof mac);
        EXPECT_EQ(qx_wifi_initCSI(mac), 0);
        EXPECT_EQ(mac[0], 0xAA);
        EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LoadAttempts(), call);
        EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().OpenAttempts(), call);
        EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
    }
}

TEST_F(ProvidersTest, ReleaseAndCleanWithoutAnything) {
    EXPECT_EQ(qx_wifi_releaseCSI(nullptr), 1);
    EXPECT_EQ(qx_wifi_cleanCSI(), 1);
    EXPECT_EQ(qx_wifi_cleanCSI(), 1);
    EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
}

TEST_F(ProvidersTest, CleanUnloadsAndTheNextInitSelectsAnew) {
    int rc = 0;
    InitMac(&rc);
    ASSERT_EQ(rc, 1);
    CsiRecord* kept = qx_wifi_getCSI(nullptr);
    ASSERT_NE(kept, nullptr);
    EXPECT_EQ(qx_wifi_cleanCSI(), 1);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LoadedNow(), 0);
    EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
    // A record outlives the provider until it is released.
    EXPECT_EQ(MacOf(kept->PeerMac), qxsim::kHomeBssid);
    qx_wifi_releaseCSI(kept);

    Vendor(LinkVendor::kQca);
    InitMac(&rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LoadAttempts(), 2);
    EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().Opens(), 1);
}

TEST_F(ProvidersTest, IntelWithoutAnExportIsUnloadedAndItsListLeftAlone) {
    // The list the library returned is its memory: freeing it with our
    // allocator would be reported by the sanitizer build.
    for (const char* missing : {"WifiGetBSSConfigurationStatistics", "WifiGetAdapterList"}) {
        SetUp();
        qxsim::Notebook::Current().IntelLib().SetMissingExport(missing);
        int rc = -1;
        InitMac(&rc);
        EXPECT_EQ(rc, 0) << missing;
        EXPECT_EQ(qxsim::Notebook::Current().IntelLib().Loads(), 1) << missing;
        EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LoadedNow(), 0) << missing;
        EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().OpenAttempts(), 1) << missing;
    }
}

TEST_F(ProvidersTest, IntelWithoutFlaggedAdapterStaysHeldButGivesNothing) {
    qxsim::Notebook::Current().IntelLib().SetAdapters({{1, qxsim::kNotebookAdapterMac, 0, true}});
    for (int i = 0; i < 3; ++i) {
        int rc = -1;
        InitMac(&rc);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
    }
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LoadAttempts(), 1);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().StatisticsCalls(), 1);  // Open's only
}

TEST_F(ProvidersTest, IntelBindsTheAdapterItSamples) {
    const Mac a = {0x02, 0, 0, 0, 0, 0xA1};
    const Mac b = {0x02, 0, 0, 0, 0, 0xB2};
    qxsim::Notebook::Current().IntelLib().SetAdapters({
        {11, a, 1, false},
        {12, b, 0, false},
        {13, qxsim::kNotebookAdapterMac, 1, true},
    });
    int rc = 0;
    EXPECT_EQ(InitMac(&rc), qxsim::kNotebookAdapterMac);
    EXPECT_EQ(rc, 1);
    CsiRecord* r = qx_wifi_getCSI(nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LastStatisticsId(), 13u);
    EXPECT_EQ(MacOf(r->PeerMac), qxsim::kHomeBssid);
    qx_wifi_releaseCSI(r);
}

TEST_F(ProvidersTest, IntelReadsNoMoreEntriesThanTheRequestHadRoomFor) {
    std::vector<qxsim::SimIntelAdapter> adapters;
    for (uint32_t i = 0; i < 20; ++i)
        adapters.push_back({100 + i, Mac{0x02, 0, 0, 0, 0, uint8_t(i)}, 0, false});
    adapters[6] = {106, qxsim::kNotebookAdapterMac, 1, true};
    qxsim::Notebook::Current().IntelLib().SetAdapters(adapters);
    qxsim::Notebook::Current().IntelLib().SetReportedCount(1000);
    int rc = 0;
    EXPECT_EQ(InitMac(&rc), qxsim::kNotebookAdapterMac);
    EXPECT_EQ(rc, 1);
    CsiRecord* r = qx_wifi_getCSI(nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LastStatisticsId(), 106u);
    qx_wifi_releaseCSI(r);
}

TEST_F(ProvidersTest, IntelFailedAdapterListCountsAsEmpty) {
    qxsim::Notebook::Current().IntelLib().SetAdapters({{0, qxsim::kNotebookAdapterMac, 1, true}});
    qxsim::Notebook::Current().IntelLib().FailAdapterList(31, 1);
    int rc = -1;
    InitMac(&rc);
    EXPECT_EQ(rc, 0);  // open (adapter 0 answers) but no adapter to bind
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().Loads(), 1);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LastStatisticsId(), 0u);
    EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().ListCalls(), 1);  // never asked again
}

TEST_F(ProvidersTest, IntelStatisticsFailuresGiveNoRecordForThatCycle) {
    int rc = 0;
    InitMac(&rc);
    ASSERT_EQ(rc, 1);
    qxsim::Notebook::Current().IntelLib().FailStatistics(5, 1);
    EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
    qxsim::Notebook::Current().IntelLib().SetBssStatusWord(2);
    EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
    qxsim::Notebook::Current().IntelLib().SetBssStatusWord(0);
    CsiRecord* r = qx_wifi_getCSI(nullptr);
    EXPECT_NE(r, nullptr);
    qx_wifi_releaseCSI(r);
    qxsim::Notebook::Current().Link().SetProviderAvailable(false);
    EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
}

TEST_F(ProvidersTest, QcaWhenIntelIsAbsent) {
    Vendor(LinkVendor::kQca);
    int rc = 0;
    EXPECT_EQ(InitMac(&rc), qxsim::kNotebookAdapterMac);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(qxsim::Notebook::Current().IntelLib().LoadAttempts(), 1);
    Pass(3000);

    CsiRecord* r = qx_wifi_getCSI(nullptr);
    ASSERT_NE(r, nullptr);
    qxsim::LinkCounters c = qxsim::Notebook::Current().Link().Counters();
    EXPECT_EQ(r->Status, 1u);
    EXPECT_EQ(r->ConnectionState, 2u);
    EXPECT_EQ(MacOf(r->PeerMac), qxsim::kHomeBssid);
    EXPECT_EQ(r->Rssi[0], -52);
    EXPECT_EQ(r->Rssi[1], -58);
    EXPECT_EQ(r->Rssi[2], -95);  // -100 dBm is below what a signal byte holds
    EXPECT_EQ(r->RssiAverage[0], -53);
    EXPECT_EQ(r->RssiAverage[1], -57);
    EXPECT_EQ(r->RxMcs, 9);
    EXPECT_EQ(r->RxNss, 1);
    EXPECT_EQ(r->RxBandwidth, 2);
    EXPECT_EQ(r->RxShortGi, 1);
    EXPECT_EQ(r->TxMcs, 9);
    EXPECT_EQ(r->RxRate, 0);
    // The interface table has two rows and needs the second, larger try.
    EXPECT_GT(c.rx_bytes, 0u);
    EXPECT_EQ(r->RxBytes, static_cast<uint32_t>(c.rx_bytes));
    EXPECT_EQ(r->TxBytes, static_cast<uint32_t>(c.tx_bytes));
    EXPECT_EQ(r->RxPackets, static_cast<uint32_t>(c.rx_packets));
    EXPECT_EQ(r->TxPackets, static_cast<uint32_t>(c.tx_packets));
    qx_wifi_releaseCSI(r);
    EXPECT_TRUE(qxsim::Notebook::Current().QcaDevice().Logging());

    qx_wifi_cleanCSI();
    const std::vector<std::string> want = {
        "ppdulog_stop", "ppdulog_start",                   // Open
        "ppdulog_stop", "ppdulog_read",  "ppdulog_start",  // GetMac
        "ppdulog_stop", "ppdulog_read",  "ppdulog_start",  // GetCsi
        "ppdulog_stop",                                    // Close
    };
    EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().Commands(), want);
    EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().OpenHandles(), 0);
    EXPECT_FALSE(qxsim::Notebook::Current().QcaDevice().Logging());
}

TEST_F(ProvidersTest, QcaWaitsForAFirstPpduBeforeBinding) {
    Vendor(LinkVendor::kQca);
    qxsim::Notebook::Current().QcaDevice().SetPpduLogged(false);
    uint8_t mac[6];
    std::memset(mac, 0xAA, sizeof mac);
    EXPECT_EQ(qx_wifi_initCSI(mac), 0);
    EXPECT_EQ(mac[5], 0xAA);
    EXPECT_TRUE(qxsim::Notebook::Current().QcaDevice().Logging());
    // No own address yet: no interface row can be ours.
    CsiRecord* r = qx_wifi_getCSI(nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->ConnectionState, 0u);
    EXPECT_EQ(r->RxBytes + r->TxBytes, 0u);
    qx_wifi_releaseCSI(r);

    qxsim::Notebook::Current().QcaDevice().SetPpduLogged(true);
    EXPECT_EQ(qx_wifi_initCSI(mac), 1);
    EXPECT_EQ(MacOf(mac), qxsim::kNotebookAdapterMac);
    EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().Opens(), 1);
}

TEST_F(ProvidersTest, QcaFailedOpenClosesItsHandle) {
    Vendor(LinkVendor::kQca);
    qxsim::Notebook::Current().QcaDevice().FailCommand("ppdulog_start", 1);
    int rc = -1;
    InitMac(&rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().Opens(), 1);
    EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().OpenHandles(), 0);
    InitMac(&rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(qxsim::Notebook::Current().QcaDevice().OpenHandles(), 1);
}

TEST_F(ProvidersTest, QcaCountersStayZeroWithoutItsInterfaceRow) {
    Vendor(LinkVendor::kQca);
    int rc = 0;
    InitMac(&rc);
    ASSERT_EQ(rc, 1);
    Pass(1000);
    struct Case {
        const char* what;
        bool listed;
        uint32_t fail_code;
        int fail_count;
    };
    const Case cases[] = {
        {"adapter not in the table", false, 0, 0},
        {"table call fails", true, 5, 1},
        {"too small twice: no endless retry", true, 122, 2},
    };
    for (const Case& c : cases) {
        qxsim::Notebook::Current().IpHelper().SetWifiAdapterListed(c.listed);
        qxsim::Notebook::Current().IpHelper().FailIfTable(c.fail_code, c.fail_count);
        CsiRecord* r = qx_wifi_getCSI(nullptr);
        ASSERT_NE(r, nullptr) << c.what;
        EXPECT_EQ(r->RxBytes + r->TxBytes + r->RxPackets + r->TxPackets, 0u) << c.what;
        EXPECT_EQ(r->ConnectionState, 2u) << c.what;
        qx_wifi_releaseCSI(r);
    }
}

TEST_F(ProvidersTest, QcaReadsNoRowOfTheInterfaceTableThatDoesNotFitWhole) {
    // The Wi-Fi row comes last, behind the Ethernet row. Cut short by 4 bytes
    // (the table forgot its own header), it is not there whole: counters 0.
    // Cut short into its counters' end, the same. Whole again, it is read.
    Vendor(LinkVendor::kQca);
    int rc = 0;
    InitMac(&rc);
    ASSERT_EQ(rc, 1);
    Pass(1000);
    for (uint32_t short_by : {4u, 300u, 0u}) {
        qxsim::Notebook::Current().IpHelper().SetIfTableShortBy(short_by);
        CsiRecord* r = qx_wifi_getCSI(nullptr);
        ASSERT_NE(r, nullptr) << short_by;
        EXPECT_EQ(r->RxBytes != 0, short_by == 0) << short_by;
        EXPECT_EQ(r->TxPackets != 0, short_by == 0) << short_by;
        qx_wifi_releaseCSI(r);
    }
}

TEST_F(ProvidersTest, QcaFailedReadOrLostLink) {
    Vendor(LinkVendor::kQca);
    int rc = 0;
    InitMac(&rc);
    ASSERT_EQ(rc, 1);
    qxsim::Notebook::Current().QcaDevice().FailCommand("ppdulog_read", 1);
    EXPECT_EQ(qx_wifi_getCSI(nullptr), nullptr);
    qxsim::Notebook::Current().Link().LinkLossAt(qxsim::Notebook::Current().Kernel().Now());
    Pass(10);
    CsiRecord* r = qx_wifi_getCSI(nullptr);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->Status, 0u);
    EXPECT_EQ(r->ConnectionState, 0u);
    qx_wifi_releaseCSI(r);
}

TEST_F(ProvidersTest, QcaHtAndLegacyThroughTheDevice) {
    Vendor(LinkVendor::kQca);
    qxsim::Notebook::Current().Link().Change([](qxsim::LinkState& s) { s.rx = {0, 7, 2, 1, 1}; });
    int rc = 0;
    InitMac(&rc);
    ASSERT_EQ(rc, 1);
    struct Case {
        uint8_t type, mcs, nss, bw, sgi;
    };
    const Case cases[] = {{8, 7, 2, 1, 1}, {9, 7, 2, 1, 1}, {4, 0, 1, 0, 0}, {13, 7, 2, 1, 1}};
    for (const Case& c : cases) {
        qxsim::Notebook::Current().QcaDevice().SetPpduType(c.type);
        CsiRecord* r = qx_wifi_getCSI(nullptr);
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->RxMcs, c.mcs) << int(c.type);
        EXPECT_EQ(r->RxNss, c.nss) << int(c.type);
        EXPECT_EQ(r->RxBandwidth, c.bw) << int(c.type);
        EXPECT_EQ(r->RxShortGi, c.sgi) << int(c.type);
        qx_wifi_releaseCSI(r);
    }
}

}  // namespace
}  // namespace qx
