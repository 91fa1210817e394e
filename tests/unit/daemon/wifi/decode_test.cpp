// The two vendor decoders: bytes of the Intel statistics result and of the
// QCA PPDU log record in, CsiRecord fields out.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "daemon/wifi/intel_provider.h"
#include "daemon/wifi/qca_provider.h"

namespace qx {
namespace {

void Put(std::vector<uint8_t>& b, size_t at, uint64_t v, int size) {
    for (int i = 0; i < size; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A statistics result whose every field holds a value of its own, so that a
// field read from the wrong offset shows.
std::vector<uint8_t> IntelBss() {
    std::vector<uint8_t> b(kIntelBssSize, 0xEE);
    Put(b, 0, 0, 4);
    Put(b, 4, 2, 4);
    const uint8_t peer[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3};
    std::memcpy(&b[8], peer, 6);
    Put(b, 14, 0x0102030405060708ull, 8);
    Put(b, 22, 0x1112131415161718ull, 8);
    Put(b, 30, 390, 2);
    b[32] = 8;
    b[33] = 2;
    b[34] = 2;
    b[36] = 1;
    Put(b, 37, 0x2122232425262728ull, 8);
    Put(b, 45, 0x3132333435363738ull, 8);
    Put(b, 53, static_cast<uint32_t>(-52), 4);
    Put(b, 57, static_cast<uint32_t>(-58), 4);
    Put(b, 61, static_cast<uint32_t>(-71), 4);
    Put(b, 65, 433, 2);
    b[67] = 9;
    b[68] = 1;
    b[69] = 1;
    b[71] = 0;
    return b;
}

TEST(IntelDecodeTest, EveryFieldFromItsOffset) {
    std::vector<uint8_t> b = IntelBss();
    CsiRecord r;
    std::memset(&r, 0x5A, sizeof r);
    DecodeIntelBss(b.data(), &r);
    const uint8_t peer[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3};
    EXPECT_EQ(r.Status, 0u);
    EXPECT_EQ(r.ConnectionState, 2u);
    EXPECT_EQ(std::memcmp(r.PeerMac, peer, 6), 0);
    EXPECT_EQ(r.TxBytes, 0x0102030405060708ull);
    EXPECT_EQ(r.TxPackets, 0x1112131415161718ull);
    EXPECT_EQ(r.TxRate, 390);
    EXPECT_EQ(r.TxMcs, 8);
    EXPECT_EQ(r.TxNss, 2);
    EXPECT_EQ(r.TxBandwidth, 2);
    EXPECT_EQ(r.TxShortGi, 1);
    EXPECT_EQ(r.RxBytes, 0x2122232425262728ull);
    EXPECT_EQ(r.RxPackets, 0x3132333435363738ull);
    EXPECT_EQ(r.Rssi[0], -52);
    EXPECT_EQ(r.Rssi[1], -58);
    EXPECT_EQ(r.Rssi[2], -71);
    EXPECT_EQ(r.Rssi[3], -100);
    for (int32_t average : r.RssiAverage) EXPECT_EQ(average, 0);
    EXPECT_EQ(r.RxRate, 433);
    EXPECT_EQ(r.RxMcs, 9);
    EXPECT_EQ(r.RxNss, 1);
    EXPECT_EQ(r.RxBandwidth, 1);
    EXPECT_EQ(r.RxShortGi, 0);
    // Reserved bytes are not the decoder's to write.
    EXPECT_EQ(r.Reserved0[0], 0x5A);
    EXPECT_EQ(r.Reserved1[1], 0x5A);
    EXPECT_EQ(r.Reserved2[0], 0x5A);
}

TEST(IntelDecodeTest, ConnectionStateAndGuardInterval) {
    struct Case {
        uint32_t state;
        uint8_t tx_gi, rx_gi;
        uint32_t want_state;
        uint8_t want_tx_gi, want_rx_gi;
    };
    const Case cases[] = {
        {0, 0, 1, 0, 0, 1},    {1, 1, 0, 1, 1, 0},    {2, 2, 2, 2, 0, 0},
        {3, 0xFF, 1, 3, 0, 1}, {5, 1, 0x81, 3, 1, 0}, {0xFFFFFFFFu, 0, 0, 3, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> b = IntelBss();
        Put(b, 4, c.state, 4);
        b[36] = c.tx_gi;
        b[71] = c.rx_gi;
        CsiRecord r{};
        DecodeIntelBss(b.data(), &r);
        EXPECT_EQ(r.ConnectionState, c.want_state) << "state " << c.state;
        EXPECT_EQ(r.TxShortGi, c.want_tx_gi) << "tx gi " << int(c.tx_gi);
        EXPECT_EQ(r.RxShortGi, c.want_rx_gi) << "rx gi " << int(c.rx_gi);
    }
}

// An adapter list exactly as large as the request declared, so that a walk
// past the 20th entry leaves the allocation (reported by the ASan build).
std::unique_ptr<uint8_t[]> IntelList(uint32_t count, const std::vector<uint32_t>& flags) {
    std::unique_ptr<uint8_t[]> list(new uint8_t[kIntelAdapterListSize]());
    std::memcpy(list.get(), &count, 4);
    for (size_t i = 0; i < flags.size() && i < kIntelMaxAdapters; ++i) {
        std::memcpy(list.get() + 4 + i * kIntelAdapterEntrySize + kIntelAdapterFlagOffset,
                    &flags[i], 4);
    }
    return list;
}

TEST(IntelAdapterListTest, LastFlaggedEntryWithinTheDeclaredRoom) {
    struct Case {
        uint32_t count;
        std::vector<uint32_t> flags;
        int32_t want;
    };
    std::vector<uint32_t> all20(20, 0);
    all20[19] = 1;
    const Case cases[] = {
        {0, {1}, -1},  // flags beyond the count are not entries
        {1, {0}, -1},
        {1, {1}, 0},
        {3, {1, 0, 1}, 2},  // the last flagged entry wins
        {3, {1, 7, 0}, 1},  // any nonzero flag counts
        {2, {1, 1, 1}, 1},
        {20, all20, 19},
        {25, all20, 19},  // a count above 20 reads only 20
        {0xFFFFFFFFu, {0, 1}, 1},
    };
    for (const Case& c : cases) {
        auto list = IntelList(c.count, c.flags);
        EXPECT_EQ(LastFlaggedIntelAdapter(list.get()), c.want) << "count " << c.count;
    }
    EXPECT_EQ(LastFlaggedIntelAdapter(nullptr), -1);
}

// A PPDU log record: chain signal bytes per word in the order 1, 0, 3, 2.
struct Ppdu {
    uint8_t valid = 1;
    uint8_t type = kPpduVht;
    uint32_t sig1 = 0;
    uint32_t sig2 = 0;
    uint8_t chains[4] = {43, 37, 0, 0};  // chain 0..3, dBm + 95
    uint8_t averages[4] = {42, 38, 0, 0};

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> b(kPpduRecordSize, 0);
        Put(b, 0, 0xDEADBEEF, 4);
        b[4] = valid;
        b[8] = chains[0];
        b[7] = chains[1];
        b[10] = chains[2];
        b[9] = chains[3];
        b[14] = type;
        Put(b, 15, sig1, 3);
        Put(b, 19, sig2, 3);
        b[24] = averages[0];
        b[23] = averages[1];
        b[26] = averages[2];
        b[25] = averages[3];
        const uint8_t peer[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3};
        const uint8_t own[6] = {0x3c, 0xa9, 0xf4, 0x51, 0x7e, 0x20};
        std::memcpy(&b[27], peer, 6);
        std::memcpy(&b[33], own, 6);
        return b;
    }
};

TEST(PpduDecodeTest, Modulation) {
    struct Case {
        const char* what;
        uint8_t type;
        uint32_t sig1, sig2;
        uint8_t mcs, nss, bw, sgi;
    };
    const Case cases[] = {
        // VHT: bandwidth in SIG-A1 bits 0-1, streams-1 in bits 10-12; short GI
        // in SIG-A2 bit 0, MCS in bits 4-7.
        {"vht 20", kPpduVht, 0x000000, 0x000000, 0, 1, 0, 0},
        {"vht 40 2ss mcs7 sgi", kPpduVht, 0x000401, 0x000071, 7, 2, 1, 1},
        {"vht 80 4ss mcs9", kPpduVhtOther, 0x000C02, 0x000090, 9, 4, 2, 0},
        {"vht 160 reads as 20", kPpduVht, 0x000003, 0x000000, 0, 1, 0, 0},
        {"vht other bits ignored", kPpduVht, 0xFFFFFC, 0xFFFF0E, 0, 8, 0, 0},
        // HT: MCS bits 0-2, streams-1 in bits 3-6; 40 MHz = SIG1 bit 7,
        // short GI = SIG2 bit 7.
        {"ht mcs7 20", kPpduHt, 0x000007, 0x000000, 7, 1, 0, 0},
        {"ht mcs15 40 sgi", kPpduHt, 0x00008F, 0x000080, 7, 2, 1, 1},
        {"ht greenfield mcs 3", kPpduHtGreenfield, 0x000083, 0x000000, 3, 1, 1, 0},
        {"ht bits 4 and 6 are not 40 MHz or sgi", kPpduHt, 0x000050, 0x000050, 0, 11, 0, 0},
        // Legacy and unknown types: MCS 0, one stream, 20 MHz, long GI.
        {"legacy", kPpduLegacy, 0xFFFFFF, 0xFFFFFF, 0, 1, 0, 0},
        {"unknown type", 0, 0xFFFFFF, 0xFFFFFF, 0, 1, 0, 0},
    };
    for (const Case& c : cases) {
        Ppdu p;
        p.type = c.type;
        p.sig1 = c.sig1;
        p.sig2 = c.sig2;
        CsiRecord r;
        std::memset(&r, 0x5A, sizeof r);
        DecodePpduRecord(p.Bytes().data(), &r);
        EXPECT_EQ(r.RxMcs, c.mcs) << c.what;
        EXPECT_EQ(r.RxNss, c.nss) << c.what;
        EXPECT_EQ(r.RxBandwidth, c.bw) << c.what;
        EXPECT_EQ(r.RxShortGi, c.sgi) << c.what;
        // Both rates are left to the consumer's table; TX is the RX modulation.
        EXPECT_EQ(r.RxRate, 0) << c.what;
        EXPECT_EQ(r.TxRate, 0) << c.what;
        EXPECT_EQ(r.TxMcs, c.mcs) << c.what;
        EXPECT_EQ(r.TxNss, c.nss) << c.what;
        EXPECT_EQ(r.TxBandwidth, c.bw) << c.what;
        EXPECT_EQ(r.TxShortGi, c.sgi) << c.what;
        EXPECT_EQ(r.RxBytes + r.TxBytes + r.RxPackets + r.TxPackets, 0u) << c.what;
    }
}

TEST(PpduDecodeTest, ValidBitGivesStatusAndLink) {
    struct Case {
        uint8_t byte4;
        uint32_t status, state;
    };
    const Case cases[] = {{0x00, 0, 0}, {0x01, 1, 2}, {0xFE, 0, 0}, {0xFF, 1, 2}};
    for (const Case& c : cases) {
        Ppdu p;
        p.valid = c.byte4;
        CsiRecord r{};
        DecodePpduRecord(p.Bytes().data(), &r);
        EXPECT_EQ(r.Status, c.status) << int(c.byte4);
        EXPECT_EQ(r.ConnectionState, c.state) << int(c.byte4);
        const uint8_t peer[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3};
        EXPECT_EQ(std::memcmp(r.PeerMac, peer, 6), 0);
    }
}

TEST(PpduDecodeTest, SignalBytesPerChain) {
    struct Case {
        uint8_t chains[4];
        uint8_t averages[4];
        int32_t rssi[4];
        int32_t average[4];
    };
    const Case cases[] = {
        {{0, 0, 0, 0}, {0, 0, 0, 0}, {-95, -95, -95, -95}, {-95, -95, -95, -95}},
        {{35, 35, 35, 35}, {35, 35, 35, 35}, {-60, -60, -60, -60}, {-60, -60, -60, -60}},
        // Distinct chains catch a swapped byte order.
        {{43, 37, 20, 10}, {44, 36, 21, 11}, {-52, -58, -75, -85}, {-51, -59, -74, -84}},
        {{255, 95, 1, 200}, {0, 0, 0, 0}, {160, 0, -94, 105}, {-95, -95, -95, -95}},
    };
    for (const Case& c : cases) {
        Ppdu p;
        std::memcpy(p.chains, c.chains, 4);
        std::memcpy(p.averages, c.averages, 4);
        CsiRecord r{};
        DecodePpduRecord(p.Bytes().data(), &r);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(r.Rssi[k], c.rssi[k]) << "chain " << k;
            EXPECT_EQ(r.RssiAverage[k], c.average[k]) << "chain " << k;
        }
    }
}

}  // namespace
}  // namespace qx
