// Frame codec and command builders against known wire bytes, the receiver's
// decoder against malformed frames, and a round trip of random records. The
// checksum and the escapes are the protocol library's (its own tests).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "daemon/controller/commands.h"
#include "daemon/controller/frame_codec.h"
#include "protocol/wire.h"
#include "tests/support/hex_bytes.h"

namespace qx {
namespace {

using qxtest::Bytes;
using qxtest::Hex;
using qxtest::ToHex;

LinkReportEntry Entry(uint8_t new_bssid, uint16_t traffic, uint8_t r0, uint8_t r1) {
    LinkReportEntry e = {};
    e.NewBssid = new_bssid;
    e.Traffic = traffic;
    e.Rssi0 = r0;
    e.Rssi1 = r1;
    return e;
}

ControllerSettings Settings(int32_t a, int32_t w, int32_t s, int32_t n) {
    ControllerConfig c = {1, a, w, s, 1, n, 134480138};
    return BuildControllerSettings(c);
}

TEST(FrameBuildersTest, WireBytesAndSizes) {
    struct Case {
        const char* name;
        std::function<int32_t(FrameBuffer&)> build;
        const char* wire;
        int32_t result;  // rw_size or frame length
    } cases[] = {
        {"version query", [](FrameBuffer& b) { return VersionQuery(b); }, "03 02 7D BC 7E",
         5 | 5 << 8},
        {"link report",
         [](FrameBuffer& b) { return LinkReport(b, 123456, Entry(1, 300, 0xC8, 0xA0)); },
         "0C 07 01 40 E2 01 00 80 2C 01 C8 A0 00 00 7D C0 7E", 17},
        // Checksum over the escaped bytes.
        {"link report, escaped time stamp",
         [](FrameBuffer& b) { return LinkReport(b, 0x7E, Entry(0, 300, 0xC8, 0xA0)); },
         "0C 07 01 81 5E 00 00 00 00 2C 01 C8 A0 00 00 7D 50 7E", 18},
        // The checksum itself escaped.
        {"link report, escaped checksum",
         [](FrameBuffer& b) { return LinkReport(b, 0x0C, Entry(1, 300, 0xC8, 0xA0)); },
         "0C 07 01 0C 00 00 00 80 2C 01 C8 A0 00 00 7D 81 A1 7E", 18},
        // Only the low 32 bits of the time stamp travel.
        {"link report, 64-bit time",
         [](FrameBuffer& b) {
             return LinkReport(b, 0x123400000000ull + 123456, Entry(1, 300, 0xC8, 0xA0));
         },
         "0C 07 01 40 E2 01 00 80 2C 01 C8 A0 00 00 7D C0 7E", 17},
        {"config, defaults",
         [](FrameBuffer& b) { return ConfigFrame(b, Settings(0, 10, 50, 770)); },
         "0A 04 5A C3 96 3C 40 00 0A 32 32 00 7D 06 03 7D 93 7E", 18 | 8 << 8},
        {"config, escaped settings",
         [](FrameBuffer& b) { return ConfigFrame(b, Settings(126, 125, 129, 770)); },
         "0A 04 5A C3 96 3C 40 81 5E 81 5D 81 A1 32 00 7D 06 03 7D DB 7E", 21 | 8 << 8},
        {"switch table",
         [](FrameBuffer& b) {
             const uint8_t m2s[16] = {0x0A, 0x01, 0x02, 0x08, 0x0A, 0x01, 0x02, 0x08};
             return MSwitchTable(b, m2s);
         },
         "08 09 1A 82 1A 82 00 00 00 00 7D 02 7E", 13},
    };
    for (const auto& c : cases) {
        FrameBuffer buf;
        memset(buf, 0xEE, sizeof buf);
        int32_t r = c.build(buf);
        EXPECT_EQ(r, c.result) << c.name;
        Bytes want = Hex(c.wire);
        EXPECT_EQ(RwWriteSize(r), want.size()) << c.name;
        EXPECT_EQ(ToHex(buf, want.size()), c.wire) << c.name;
    }
}

TEST(CommandBytesTest, SettingsAndSwitchNibbles) {
    struct Case {
        int32_t a, w, s, n;
        const char* settings;
    } cases[] = {
        {0, 10, 50, 770, "40 00 0A 32 32 00"},
        {3, 10, 50, 515, "40 03 0A 32 23 00"},
        {126, 125, 129, 770, "40 7E 7D 81 32 00"},
        {0x1FF, 10, 50, 0x0F0F0F0F, "40 FF 0A 32 FF FF"},  // low byte only; nibbles overlap
        {0, 10, 50, 0x11223344, "40 00 0A 32 74 32"},      // values above 15 overlap and lose bits
    };
    for (const auto& c : cases) {
        uint8_t out[6];
        SettingsBytes(Settings(c.a, c.w, c.s, c.n), out);
        EXPECT_EQ(ToHex(out, 6), c.settings) << c.a << " " << c.n;
    }
    struct Pack {
        uint32_t value;
        const char* bytes;
    } packs[] = {{134349066, "1A 82"}, {134480138, "1A 84"}, {0, "00 00"}, {0xFFFFFFFF, "FF FF"}};
    for (const auto& p : packs) {
        uint8_t out[2];
        PackNibblePairs(p.value, out);
        EXPECT_EQ(ToHex(out, 2), p.bytes) << p.value;
    }
}

TEST(FrameBuildersTest, RefusesWhatWouldRunOffTheBuffer) {
    FrameBuffer buf = {};
    uint8_t data[40] = {};
    EXPECT_DEBUG_DEATH(EXPECT_EQ(PutRecord(buf, 140, 1, data, 20), kFrameTooLong), "fit");
    // A full range of escapable bytes cannot double in place near the end.
    memset(buf, 0x7E, sizeof buf);
    EXPECT_DEBUG_DEATH(EXPECT_EQ(EscapeRange(buf, 100, 150), kFrameTooLong), "fit");
    EXPECT_EQ(buf[100], 0x7E);  // untouched
    EXPECT_DEBUG_DEATH(EXPECT_EQ(CloseFrame(buf, 158), kFrameTooLong), "fit");
    uint8_t pos = 150;
    EXPECT_DEBUG_DEATH(EXPECT_EQ(FinishRecord(buf, &pos, 10), kFrameTooLong), "fit");
    EXPECT_EQ(pos, 150);
}

// Random records through the builders and the receiver's decoder come back
// unchanged, and the wire keeps the framing promises.
TEST(FrameRoundTripTest, RandomRecordsSurviveTheWire) {
    std::mt19937 rng(20261207);
    const uint8_t special[] = {0x7D, 0x7E, 0x81, 0x5D, 0x5E, 0xA1, 0x00, 0xFF};
    qxproto::Frame frame;
    for (int iter = 0; iter < 3000; ++iter) {
        // Worst case every byte doubles: 2 * (2 + L) per record, a separator
        // each, two checksum bytes and the flag must fit 160.
        int budget = kFrameBufferSize - 3;
        int records = 1 + static_cast<int>(rng() % 4);
        std::vector<Bytes> sent;
        FrameBuffer buf;
        memset(buf, 0xEE, sizeof buf);
        uint8_t pos = 0;
        for (int r = 0; r < records; ++r) {
            int room = (budget - 1) / 2 - 2;
            if (room < 0) break;
            int len = static_cast<int>(rng() % (room < 40 ? room + 1 : 41));
            Bytes data(len);
            for (auto& b : data)
                b = (rng() % 3 == 0) ? special[rng() % 8] : static_cast<uint8_t>(rng());
            uint8_t type = (rng() % 4 == 0) ? special[rng() % 3] : static_cast<uint8_t>(rng());
            ASSERT_EQ(PutRecord(buf, pos, type, data.data(), static_cast<uint8_t>(len)), 2 + len);
            ASSERT_EQ(FinishRecord(buf, &pos, static_cast<uint8_t>(2 + len)), 0);
            Bytes rec(2 + len);
            rec[0] = static_cast<uint8_t>(len);
            rec[1] = type;
            if (len) memcpy(&rec[2], data.data(), len);
            sent.push_back(rec);
            budget -= 2 * (2 + len) + 1;
        }
        uint8_t seps = pos;
        int32_t total = CloseFrame(buf, pos);
        ASSERT_GT(total, 0);
        ASSERT_LE(total, static_cast<int32_t>(kFrameBufferSize));

        int raw_seps = 0;
        for (int i = 0; i < total; ++i) {
            if (buf[i] == RecordSeparator) ++raw_seps;
            if (buf[i] == EndFlag) {
                EXPECT_EQ(i, total - 1) << "raw 7E inside the frame";
            }
            if (buf[i] == EscapeMarker) {
                ASSERT_LT(i + 1, total);
                uint8_t e = buf[i + 1];
                EXPECT_TRUE(e == 0x5E || e == 0x5D || e == 0xA1) << ToHex(buf, total);
                ++i;
            }
        }
        EXPECT_EQ(raw_seps, static_cast<int>(sent.size()));
        EXPECT_EQ(buf[seps - 1], RecordSeparator);

        ASSERT_EQ(qxproto::DecodeExactFrame(buf, total, &frame), qxproto::kDecodeOk)
            << ToHex(buf, total);
        EXPECT_EQ(frame.wire_length, static_cast<size_t>(total));
        ASSERT_EQ(frame.record_count, sent.size());
        for (size_t r = 0; r < sent.size(); ++r) {
            Bytes got(frame.bytes + frame.records[r].offset,
                      frame.bytes + frame.records[r].offset + frame.records[r].size);
            EXPECT_EQ(ToHex(got), ToHex(sent[r]));
        }
    }
}

}  // namespace
}  // namespace qx
