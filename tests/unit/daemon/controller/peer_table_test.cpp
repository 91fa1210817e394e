// The peer table's list invariants, its limits, and the link report the
// steering update sends (or, by test mode and debug mask, does not).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "daemon/controller/peer_table.h"
#include "daemon/transport/transport.h"
#include "sim/notebook.h"
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "sim/memory_model.h"
#include "sim/vkernel.h"

namespace qx {
namespace {

const uint8_t kAdapter[6] = {0x3c, 0xa9, 0xf4, 0x51, 0x7e, 0x20};

PeerRecord Sample(uint8_t peer_last, const uint8_t* adapter = kAdapter) {
    PeerRecord r;
    std::memset(&r, 0, sizeof r);
    const uint8_t peer[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, peer_last};
    std::memcpy(r.PeerMac, peer, 6);
    std::memcpy(r.Stats.PeerMac, peer, 6);
    std::memcpy(r.AdapterMac, adapter, 6);
    r.Stats.LinkState = 1;
    return r;
}

// Walks the table both ways and checks every link, the head's Prev and the count.
std::vector<uint8_t> CheckedOrder() {
    std::vector<uint8_t> order;
    PeerRecord* last = nullptr;
    for (PeerRecord* p = PeerTable; p != nullptr; p = p->Next) {
        if (p != PeerTable) {
            EXPECT_EQ(p->Prev, last) << "Prev of record " << order.size();
        }
        order.push_back(p->PeerMac[5]);
        last = p;
    }
    if (PeerTable != nullptr) {
        EXPECT_EQ(PeerTable->Prev, last) << "head's Prev is the last record";
    }
    EXPECT_EQ(PeerCount, static_cast<int32_t>(order.size()));
    return order;
}

class PeerTableTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PurgePeers(true);
        ResetPeerTable();
        UpdateInProgress.store(0);
        std::memset(LastReportedBssid, 0, 6);
    }
    void TearDown() override { PurgePeers(true); }

    void Add(std::initializer_list<uint8_t> peers) { Add(std::vector<uint8_t>(peers)); }
    void Add(const std::vector<uint8_t>& peers) {
        for (uint8_t p : peers) {
            PeerRecord r = Sample(p);
            ASSERT_EQ(OnPeerStats(&r), 0);
        }
    }
};

TEST_F(PeerTableTest, PurgeKeepsTheListConsistentInEveryUnlinkCase) {
    struct Case {
        const char* what;
        std::vector<uint8_t> peers;
        std::vector<uint8_t> stale;
        std::vector<uint8_t> kept;
    };
    const Case cases[] = {
        {"only record", {1}, {1}, {}},
        {"head", {1, 2, 3}, {1}, {2, 3}},
        {"middle", {1, 2, 3}, {2}, {1, 3}},
        {"last", {1, 2, 3}, {3}, {1, 2}},
        {"head and last", {1, 2, 3, 4}, {1, 4}, {2, 3}},
        {"all but the last", {1, 2, 3}, {1, 2}, {3}},
        {"every record", {1, 2, 3}, {1, 2, 3}, {}},
        {"none", {1, 2}, {}, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PurgePeers(true);
        for (uint8_t p : c.peers) {
            PeerRecord r = Sample(p);
            ASSERT_EQ(OnPeerStats(&r), 0);
        }
        for (uint8_t s : c.stale) {
            const uint8_t mac[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, s};
            MarkPeerStale(mac);
        }
        EXPECT_EQ(PurgePeers(false), static_cast<int32_t>(c.kept.size()));
        EXPECT_EQ(CheckedOrder(), c.kept);
        // The table still takes appends at the right end.
        Add({200});
        std::vector<uint8_t> expected = c.kept;
        expected.push_back(200);
        EXPECT_EQ(CheckedOrder(), expected);
    }
}

TEST_F(PeerTableTest, PurgeAllEmptiesTheTable) {
    Add({1, 2, 3});
    EXPECT_EQ(PurgePeers(true), 0);
    EXPECT_EQ(PeerTable, nullptr);
    EXPECT_EQ(PeerCount, 0);
}

// A reset that only dropped the head would leak every linked record and leave
// PeerCount behind, so that a full table before the reset would refuse every
// new peer after it. The table and its count change together.
TEST_F(PeerTableTest, ResetEmptiesTableAndCountTogether) {
    for (const int before : {0, 3, kMaxPeers}) {
        for (int i = 0; i < before; ++i) {
            PeerRecord r = Sample(static_cast<uint8_t>(i));
            ASSERT_EQ(OnPeerStats(&r), 0) << i;
        }
        ResetPeerTable();
        EXPECT_EQ(PeerTable, nullptr) << before;
        EXPECT_EQ(PeerCount, 0) << before;
        for (int i = 0; i < kMaxPeers; ++i) {
            PeerRecord r = Sample(static_cast<uint8_t>(i));
            ASSERT_EQ(OnPeerStats(&r), 0) << before << " then " << i;
        }
        EXPECT_EQ(CheckedOrder().size(), static_cast<size_t>(kMaxPeers));
        PurgePeers(true);
    }
}

TEST_F(PeerTableTest, The129thPeerIsRefusedUntilAPurgeMakesRoom) {
    for (int i = 0; i < kMaxPeers; ++i) {
        PeerRecord r = Sample(static_cast<uint8_t>(i));
        ASSERT_EQ(OnPeerStats(&r), 0) << i;
    }
    PeerRecord extra = Sample(200);
    extra.PeerMac[4] = 0x77;
    EXPECT_EQ(OnPeerStats(&extra), -1);
    EXPECT_EQ(PeerCount, kMaxPeers);
    EXPECT_EQ(FindPeer(extra.PeerMac), nullptr);
    // A known peer is still refreshed while the table is full.
    PeerRecord known = Sample(5);
    known.Stats.RxPackets = 99;
    EXPECT_EQ(OnPeerStats(&known), 0);
    EXPECT_EQ(FindPeer(known.PeerMac)->Stats.RxPackets, 99u);

    for (uint8_t s : {10, 20, 30}) {
        const uint8_t mac[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, s};
        MarkPeerStale(mac);
    }
    EXPECT_EQ(PurgePeers(false), kMaxPeers - 3);
    for (int i = 0; i < 3; ++i) {
        extra.PeerMac[5] = static_cast<uint8_t>(i);
        EXPECT_EQ(OnPeerStats(&extra), 0) << i;
    }
    extra.PeerMac[5] = 3;
    EXPECT_EQ(OnPeerStats(&extra), -1);
    CheckedOrder();
}

TEST_F(PeerTableTest, AFailedAllocationDropsTheSample) {
    qxsim::Notebook::Current().Memory().FailNext(sizeof(PeerRecord), 1);
    PeerRecord r = Sample(1);
    EXPECT_EQ(OnPeerStats(&r), -1);
    EXPECT_EQ(PeerTable, nullptr);
    EXPECT_EQ(PeerCount, 0);
}

TEST_F(PeerTableTest, AStalePeerReportedAgainIsRefreshedAndSurvivesThePurge) {
    Add({1, 2});
    const uint8_t one[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 1};
    MarkPeerStale(one);
    EXPECT_EQ(FindPeer(one)->Stale, 1);
    PeerRecord again = Sample(1);
    again.Stats.RxPackets = 4242;
    EXPECT_EQ(OnPeerStats(&again), 0);
    EXPECT_EQ(FindPeer(one)->Stale, 0);
    EXPECT_EQ(FindPeer(one)->Updated, 1);
    EXPECT_EQ(PurgePeers(false), 2);
    EXPECT_EQ(FindPeer(one)->Stats.RxPackets, 4242u);
}

TEST_F(PeerTableTest, NoMergeWhileAnUpdateIsInProgress) {
    Add({1});
    PeerRecord r = Sample(1);
    r.Stats.RxPackets = 7;
    UpdateInProgress.store(1);
    EXPECT_EQ(OnPeerStats(&r), 0);
    EXPECT_EQ(FindPeer(r.PeerMac)->Stats.RxPackets, 0u);
    // A new peer is still inserted (as a copy), but not marked updated.
    PeerRecord fresh = Sample(2);
    EXPECT_EQ(OnPeerStats(&fresh), 0);
    EXPECT_EQ(FindPeer(fresh.PeerMac)->Updated, 0);
    UpdateInProgress.store(0);
    EXPECT_EQ(OnPeerStats(&r), 0);
    EXPECT_EQ(FindPeer(r.PeerMac)->Stats.RxPackets, 7u);
    CheckedOrder();
}

TEST_F(PeerTableTest, TakeCycleStatsCopiesTheInterfacesOldestRecord) {
    const uint8_t other_adapter[6] = {0, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
    PeerRecord a = Sample(1, other_adapter);
    PeerRecord b = Sample(2);
    PeerRecord c = Sample(3);
    ASSERT_EQ(OnPeerStats(&a), 0);
    ASSERT_EQ(OnPeerStats(&b), 0);
    ASSERT_EQ(OnPeerStats(&c), 0);
    PeerRecord out;
    ASSERT_EQ(TakeCycleStats(kAdapter, &out), 0);
    EXPECT_EQ(out.PeerMac[5], 2);
    EXPECT_EQ(out.Updated, 1);
    const uint8_t nobody[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ(TakeCycleStats(nobody, &out), -1);
}

TEST_F(PeerTableTest, TakeCycleStatsPrefersTheCurrentAccessPointOverStaleRecords) {
    // Which record is taken, by the table's records of the adapter (in
    // insertion order) and which of them are stale.
    const struct {
        std::vector<uint8_t> peers;
        std::vector<uint8_t> stale;
        uint8_t taken;
    } rows[] = {
        {{1, 2}, {1}, 2},        // A->B: B, although A is older
        {{1, 2, 3}, {1, 2}, 3},  // A->B->C
        {{1, 2}, {2}, 1},        // A->B->A: A fresh again, B stale
        {{1, 2, 3}, {1, 3}, 2},  // the fresh one in the middle
        {{1, 2}, {1, 2}, 1},     // link lost, all stale: the oldest as before
        {{1, 2}, {}, 1},         // none stale: the oldest
    };
    for (const auto& row : rows) {
        PurgePeers(true);
        const uint8_t other_adapter[6] = {0, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
        PeerRecord foreign = Sample(9, other_adapter);  // another adapter's fresh record first
        ASSERT_EQ(OnPeerStats(&foreign), 0);
        Add(row.peers);
        for (uint8_t s : row.stale) {
            const uint8_t mac[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, s};
            MarkPeerStale(mac);
        }
        PeerRecord out;
        ASSERT_EQ(TakeCycleStats(kAdapter, &out), 0);
        EXPECT_EQ(out.PeerMac[5], row.taken)
            << "peers " << row.peers.size() << " stale " << row.stale.size();
    }
}

TEST_F(PeerTableTest, RoamMarksOnlyTheAdaptersOtherPeersStale) {
    const uint8_t other_adapter[6] = {0, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
    PeerRecord foreign = Sample(9, other_adapter);
    ASSERT_EQ(OnPeerStats(&foreign), 0);
    Add({1, 2});
    const uint8_t two[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 2};
    MarkOtherPeersStale(kAdapter, two);
    EXPECT_EQ(PurgePeers(false), 2);
    EXPECT_EQ(CheckedOrder(), (std::vector<uint8_t>{9, 2}));
}

TEST(LinkReportValues, RssiBytes) {
    const struct {
        int8_t dbm;
        uint8_t byte;
    } rows[] = {{-128, 0},   {-101, 0},  {-100, 0},  {-99, 4}, {-60, 0xA0},
                {-50, 0xC8}, {-37, 252}, {-36, 255}, {0, 255}, {127, 255}};
    for (const auto& r : rows) EXPECT_EQ(RssiToReportByte(r.dbm), r.byte) << int(r.dbm);
}

TEST(LinkReportValues, TrafficIsTheHalvedWrappingSumCutTo16Bits) {
    const struct {
        uint32_t rx, tx;
        uint16_t value;
    } rows[] = {
        {1000, 3001, 2000},         {0, 0, 0},
        {0xFFFFFFFFu, 1, 0},  // the sum wraps to 0 before the halving
        {0xFFFFFFFFu, 3, 1},        {0x80000000u, 0x80000000u, 0},  // 2^32 wraps to 0
        {0x30000, 0x10002, 0x0001},                                 // 0x20001 cut to 16 bits
    };
    for (const auto& r : rows) EXPECT_EQ(TrafficValue(r.rx, r.tx), r.value) << r.rx << "+" << r.tx;
}

TEST(LinkReportValues, FormatMacIsLowerCaseColonSeparated) {
    const uint8_t mac[6] = {0x3c, 0xA9, 0x04, 0x51, 0x7e, 0xff};
    char buf[32];
    std::memset(buf, 'x', sizeof buf);
    FormatMac(mac, buf);
    EXPECT_STREQ(buf, "3c:a9:04:51:7e:ff");
    EXPECT_EQ(buf[18], 'x') << "nothing beyond 18 characters";
}

TEST(LinkReportValues, UnixTimeMovesInWholeMillisecondsWithTheClock) {
    tv_t a, b;
    UnixTimeNow(&a);
    qxsim::Notebook::Current().Kernel().Sleep(1234);
    UnixTimeNow(&b);
    EXPECT_EQ(a.tv_usec % 1000, 0);
    const int64_t ms_a = int64_t(a.tv_sec) * 1000 + a.tv_usec / 1000;
    const int64_t ms_b = int64_t(b.tv_sec) * 1000 + b.tv_usec / 1000;
    EXPECT_EQ(ms_b - ms_a, 1234);
    // The notebook's clock is set to 2026.
    EXPECT_GE(a.tv_sec, 1767225600);  // 2026-01-01
    EXPECT_LT(a.tv_sec, 1798761600);  // 2027-01-01
}

class SteeringUpdateTest : public PeerTableTest {
  protected:
    void SetUp() override {
        PeerTableTest::SetUp();
        qxsim::Notebook::Current().Controller().Reset();
        ASSERT_EQ(TransportOpen(), 0);
    }
    void TearDown() override {
        TransportClose();
        PeerTableTest::TearDown();
    }
    static std::vector<qxsim::LinkReportSeen> Reports() {
        return qxsim::Notebook::Current().Firmware().LinkReports();
    }
};

TEST_F(SteeringUpdateTest, TheFirstReportCarriesTheNewBssidFlagTheNextDoesNot) {
    PeerRecord r = Sample(1);
    r.Stats.RxPackets = 1000;
    r.Stats.TxPackets = 3001;
    r.Stats.Rssi[0] = -50;
    r.Stats.Rssi[1] = -60;
    ASSERT_EQ(SteeringUpdate(&r, 0, 0), 0);
    ASSERT_EQ(SteeringUpdate(&r, 0, 0), 0);
    auto seen = Reports();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].flags & 0x80, 0);
    EXPECT_EQ(seen[1].flags & 0x80, 0);
    EXPECT_EQ(seen[0].traffic, 2000);
    EXPECT_EQ(seen[0].rssi0, 0xC8);
    EXPECT_EQ(seen[0].rssi1, 0xA0);
    tv_t now;
    UnixTimeNow(&now);
    const uint64_t ms = uint64_t(now.tv_sec) * 1000 + now.tv_usec / 1000;
    EXPECT_EQ(seen[1].timestamp, static_cast<uint32_t>(ms));
}

TEST_F(SteeringUpdateTest, AnAllZeroPeerIsNotNewAtStart) {
    PeerRecord r = Sample(0);
    std::memset(r.PeerMac, 0, 6);
    ASSERT_EQ(SteeringUpdate(&r, 0, 0), 0);
    auto seen = Reports();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].flags & 0x80, 0);
}

TEST_F(SteeringUpdateTest, TestModeSuppressesWithoutMovingTheBssidButDebugMaskMovesIt) {
    const struct {
        int32_t debug_mask;
        int32_t test_mode;
        bool written;
        bool bssid_moves;
    } rows[] = {
        {0, 0x100, false, false},       {0, 0x200, false, false}, {0, 0x1000, false, false},
        {0x20000, 0x100, false, false},  // suppressed before the entry is built
        {0x20000, 0, false, true},      {0, 0x400, true, true},  // other test bits do not suppress
        {0x10000, 0, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << "mask " << row.debug_mask << " mode " << row.test_mode);
        std::memset(LastReportedBssid, 0, 6);
        qxsim::Notebook::Current().Controller().Reset();
        TransportClose();
        ASSERT_EQ(TransportOpen(), 0);
        PeerRecord r = Sample(1);
        EXPECT_EQ(SteeringUpdate(&r, row.debug_mask, row.test_mode), 0);
        EXPECT_EQ(Reports().size(), row.written ? 1u : 0u);
        // The next written report shows whether the new-BSSID memory moved.
        EXPECT_EQ(SteeringUpdate(&r, 0, 0), 0);
        auto seen = Reports();
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ((seen.back().flags & 0x80) != 0, !row.bssid_moves);
    }
}

TEST_F(SteeringUpdateTest, AFailedWriteIsReported) {
    qxsim::Notebook::Current().Firmware().SetWriteOutcome(qxsim::TransferOutcome::FailNow, 1);
    PeerRecord r = Sample(1);
    EXPECT_EQ(SteeringUpdate(&r, 0, 0), -1);
    EXPECT_TRUE(Reports().empty());
}

}  // namespace
}  // namespace qx
