// The protocol library's wire layer: checksum, escapes, the receiver's
// decoder against well-formed and malformed frames, and the link report's
// layout rules.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "tests/support/hex_bytes.h"

namespace qxproto {
namespace {

using qxtest::Bytes;
using qxtest::Hex;
using qxtest::ToHex;

TEST(WireChecksumTest, KnownValuesAndTheBitwiseDefinition) {
    struct Case {
        Bytes in;
        uint8_t crc;
    } cases[] = {
        {Hex("01 02 03"), 0xC9},
        {Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x25},
        {Bytes{}, 0x00},
        {Hex("03 02 7D"), 0xBC},
        {Hex("0C 07 01 40 E2 01 00 80 2C 01 C8 A0 00 00 7D"), 0xC0},
    };
    for (const auto& c : cases) EXPECT_EQ(Checksum(c.in.data(), c.in.size()), c.crc);
    // The table against the register shifted bit by bit, for every byte value.
    for (int b = 0; b < 256; ++b) {
        uint8_t crc = static_cast<uint8_t>(b);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xD9 : crc >> 1;
        const uint8_t byte = static_cast<uint8_t>(b);
        EXPECT_EQ(Checksum(&byte, 1), crc) << b;
    }
}

TEST(WireEscapeTest, InPlaceWithinCapacity) {
    struct Case {
        const char* before;
        size_t capacity, start, end;
        int32_t markers;
        const char* after;
    } cases[] = {
        {"7E 7D 81 5E", 8, 0, 4, 3, "81 5E 81 5D 81 A1 5E"},
        {"11 7E 22 33", 4, 1, 3, 1, "11 81 5E 22"},  // exactly fills the capacity
        {"11 7E 22 33", 3, 1, 3, -1, "11 7E 22"},    // one byte short: untouched
        {"7E 00", 2, 1, 3, -1, "7E 00"},             // range beyond the buffer
        {"7E 00", 2, 1, 0, -1, "7E 00"},             // range backwards
        {"7E 7D 81", 8, 0, 0, 0, "7E 7D 81"},        // empty range
        {"7E 7D 81", 8, 1, 2, 1, "7E 81 5D"},        // the byte after the range is overwritten
        {"00 5E 5D A1 FF", 5, 0, 5, 0, "00 5E 5D A1 FF"},
    };
    for (const auto& c : cases) {
        uint8_t buf[16];
        memset(buf, 0xEE, sizeof buf);
        Bytes in = Hex(c.before);
        memcpy(buf, in.data(), in.size());
        EXPECT_EQ(EscapeInPlace(buf, c.capacity, c.start, c.end), c.markers) << c.before;
        Bytes want = Hex(c.after);
        EXPECT_EQ(ToHex(buf, want.size()), c.after) << c.before;
        EXPECT_EQ(buf[c.capacity], c.capacity < in.size() ? in[c.capacity] : 0xEE)
            << "wrote past the capacity: " << c.before;
    }
}

TEST(WireDecoderTest, StatusOfEachFrame) {
    struct Case {
        const char* wire;
        int status;        // DecodeFrame
        int exact_status;  // DecodeExactFrame
    } cases[] = {
        {"03 02 7D BC 7E", kDecodeOk, kDecodeOk},
        {"03 02 7D BD 7E", kBadChecksum, kBadChecksum},
        {"03 02 7D BC", kNoEndFlag, kNoEndFlag},
        {"", kNoEndFlag, kNoEndFlag},
        {"03 02 BC 7E", kNoSeparator, kNoSeparator},
        {"03 02 7D 81 7E", kBadEscape, kBadEscape},     // 0x81 right before the flag
        {"03 81 7D BC 7E", kBadEscape, kBadEscape},     // 0x81 right before a separator
        {"03 81 41 7D 00 7E", kBadEscape, kBadEscape},  // pair for a byte that needs no escape
        {"03 02 7D BC BC 7E", kBadChecksumField, kBadChecksumField},
        {"03 02 7D 7E", kBadChecksumField, kBadChecksumField},
        {"03 02 7D 81 5E 81 5E 7E", kBadChecksumField, kBadChecksumField},
        {"02 07 01 7D 00 7E", kBadRecord, kBadRecord},  // length byte says 2, one data byte
        {"07 7D 00 7E", kBadRecord, kBadRecord},        // one byte is no record
        {"0C 07 01 81 5E 00 00 00 00 2C 01 C8 A0 00 00 7D 50 7E", kDecodeOk, kDecodeOk},
        {"03 02 7D BC 7E 00", kDecodeOk, kTrailingBytes},  // a second transfer's worth behind it
        {"03 02 7D BC 7E 03 02 7D BC 7E", kDecodeOk, kTrailingBytes},
        {"0A 04 5A C3 96 3C 40 00 0A 32 32 00 7D 06 03 7D 93 7E", kDecodeOk, kDecodeOk},
    };
    Frame frame;
    for (const auto& c : cases) {
        Bytes w = Hex(c.wire);
        EXPECT_EQ(DecodeFrame(w.data(), w.size(), &frame), c.status) << c.wire;
        EXPECT_EQ(DecodeExactFrame(w.data(), w.size(), &frame), c.exact_status) << c.wire;
        EXPECT_STRNE(DecodeStatusText(c.status), "unknown error");
    }
}

TEST(WireDecoderTest, RecordsOfAGoodFrame) {
    Frame frame;
    Bytes w = Hex("0A 04 5A C3 96 3C 40 81 5E 81 5D 81 A1 32 00 7D 06 03 7D DB 7E");
    ASSERT_EQ(DecodeFrame(w.data(), w.size(), &frame), kDecodeOk);
    EXPECT_EQ(frame.wire_length, w.size());
    EXPECT_EQ(frame.checksum, 0xDB);
    ASSERT_EQ(frame.record_count, 2);
    EXPECT_EQ(ToHex(frame.RecordBytes(0), frame.records[0].size),
              "0A 04 5A C3 96 3C 40 7E 7D 81 32 00");
    EXPECT_EQ(frame.records[0].type, kTypeConfigWrite);
    EXPECT_EQ(frame.records[0].read_request, 0);
    EXPECT_EQ(frame.records[1].length, kConfigEchoLen);
    EXPECT_EQ(frame.records[1].type, kTypeConfigEcho);
    EXPECT_EQ(frame.records[1].read_request, 1);
    // A bad checksum still tells both values, for a tool that shows them.
    w[w.size() - 2] = 0xDC;
    EXPECT_EQ(DecodeFrame(w.data(), w.size(), &frame), kBadChecksum);
    EXPECT_EQ(frame.checksum, 0xDC);
    EXPECT_EQ(frame.computed, 0xDB);
}

TEST(WireDecoderTest, LimitsOfOneFrame) {
    Frame frame;
    // One record more than the record table holds.
    Bytes w;
    for (int i = 0; i < static_cast<int>(kMaxRecords) + 1; ++i) {
        for (uint8_t b : {0x01, 0x09, 0x00, 0x7D}) w.push_back(b);
    }
    uint8_t sum[2] = {Checksum(w.data(), w.size())};
    w.insert(w.end(), sum, sum + 1 + EscapeInPlace(sum, 2, 0, 1));
    w.push_back(kEndFlag);
    EXPECT_EQ(DecodeFrame(w.data(), w.size(), &frame), kTooLong);
    // More unescaped record bytes than the frame holds.
    w.clear();
    for (int r = 0; r < 3; ++r) {
        w.push_back(0xFF);
        w.push_back(0x09);
        for (int i = 0; i < 255; ++i) w.push_back(0x11);
        w.push_back(kRecordSeparator);
    }
    w.push_back(0x00);
    w.push_back(kEndFlag);
    EXPECT_EQ(DecodeFrame(w.data(), w.size(), &frame), kTooLong);
}

TEST(WireLinkReportTest, EntriesOnlyWhenLengthAndCountAgree) {
    struct Case {
        const char* record;
        int entries;
    } cases[] = {
        {"0C 07 01 40 E2 01 00 80 2C 01 C8 A0 00 00", 1},
        {"13 07 02 40 E2 01 00 80 2C 01 C8 A0 00 00 01 2C 01 C8 A0 00 00", 2},
        {"0C 07 02 40 E2 01 00 80 2C 01 C8 A0 00 00", -1},     // count says two
        {"0D 07 01 40 E2 01 00 80 2C 01 C8 A0 00 00 00", -1},  // a byte too many
        {"05 07 00 40 E2 01 00", -1},                          // no entry
        {"04 07 01 40 E2 01", -1},                             // no room for the head
        {"0C 09 01 40 E2 01 00 80 2C 01 C8 A0 00 00", -1},     // not a link report
        {"0C 07 01 40 E2 01 00 80 2C 01 C8 A0 00", -1},        // shorter than its length byte
        // 37 entries would need 264 bytes: a truncated length byte of 8 never agrees.
        {"08 07 25 40 E2 01 00 80 2C 01", -1},
    };
    for (const auto& c : cases) {
        Bytes r = Hex(c.record);
        EXPECT_EQ(LinkReportEntries(r.data(), r.size()), c.entries) << c.record;
    }
    Bytes r = Hex("13 07 02 40 E2 01 00 80 2C 01 C8 A0 00 00 01 2D 01 C7 A1 05 06");
    EXPECT_EQ(LinkReportTimestamp(r.data()), 123456u);
    const LinkEntry e0 = LinkReportEntry(r.data(), 0), e1 = LinkReportEntry(r.data(), 1);
    EXPECT_EQ(e0.flags, kLinkEntryNewBssid);
    EXPECT_EQ(e0.traffic, 300);
    EXPECT_EQ(e0.rssi0, 0xC8);
    EXPECT_EQ(e0.rssi1, 0xA0);
    EXPECT_EQ(e1.flags, 0x01);
    EXPECT_EQ(e1.traffic, 0x12D);
    EXPECT_EQ(e1.rssi0, 0xC7);
    EXPECT_EQ(e1.rssi1, 0xA1);
    EXPECT_EQ(e1.reserved[0], 5);
    EXPECT_EQ(e1.reserved[1], 6);
    EXPECT_EQ(LinkReportLen(1), 12);
    EXPECT_EQ(LinkReportLen(35), 250);
}

}  // namespace
}  // namespace qxproto
