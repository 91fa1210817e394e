// The one controller responder, as the virtual notebook and the WDM double
// play it: scripts of bus writes and reads against the answers and the log.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/responder.h"
#include "protocol/wire.h"
#include "tests/support/hex_bytes.h"

namespace qxproto {
namespace {

using qxtest::Bytes;
using qxtest::Hex;
using qxtest::ToHex;

// Frames records given as unescaped hex, separated by '|', the way the
// daemon's builders do: each record escaped and closed by a separator, then
// the checksum (escaped) and the flag.
std::string Framed(const std::string& records) {
    uint8_t buf[400];
    size_t pos = 0;
    size_t from = 0;
    while (from <= records.size()) {
        size_t bar = records.find('|', from);
        if (bar == std::string::npos) bar = records.size();
        Bytes rec = Hex(records.substr(from, bar - from));
        memcpy(buf + pos, rec.data(), rec.size());
        pos += rec.size() + EscapeInPlace(buf, sizeof buf, pos, pos + rec.size());
        buf[pos++] = kRecordSeparator;
        from = bar + 1;
    }
    buf[pos] = Checksum(buf, pos);
    pos += 1 + EscapeInPlace(buf, sizeof buf, pos, pos + 1);
    buf[pos++] = kEndFlag;
    return ToHex(buf, pos);
}

const std::string kConfigWrite = "0A 04 5A C3 96 3C 40 00 0A 32 32 00";
const std::string kConfigFrame = "0A 04 5A C3 96 3C 40 00 0A 32 32 00 7D 06 03 7D 93 7E";
const std::string kVersionQuery = "03 02 7D BC 7E";
const std::string kLinkReport = "0C 07 01 40 E2 01 00 80 2C 01 C8 A0 00 00 7D C0 7E";

std::string Summary(const ResponderLog& l) {
    char s[200];
    snprintf(s, sizeof s, "ok %u bad %u (%d) wake %u cfg %u echo %u ver %u sw %u lr %u ign %u",
             l.frames_ok, l.frames_bad, l.last_reject, l.wake_bytes, l.config_writes, l.echo_reads,
             l.version_reads, l.switch_tables, l.link_reports, l.ignored_records);
    return s;
}

// Steps, one per line: "W hex" writes, "R n" reads n bytes, "T ms" lets time
// pass. Returns the read bytes, one line each, then the log summary.
std::string RunScript(Responder& r, const std::vector<std::string>& steps) {
    std::string out;
    int64_t now = 1000;
    for (const auto& step : steps) {
        const std::string arg = step.substr(2);
        if (step[0] == 'W') {
            Bytes w = Hex(arg);
            r.Write(w.data(), w.size(), now);
        } else if (step[0] == 'R') {
            uint8_t buf[32];
            memset(buf, 0xEE, sizeof buf);
            size_t n = static_cast<size_t>(atoi(arg.c_str()));
            r.Read(buf, n, now);
            out += "R " + ToHex(buf, n) + "\n";
        } else if (step[0] == 'T') {
            now += atoi(arg.c_str());
        }
    }
    return out + Summary(r.log);
}

TEST(ResponderTest, Scripts) {
    struct Case {
        const char* name;
        void (*settings)(ResponderSettings&);
        std::vector<std::string> steps;
        std::string result;
    };
    auto none = [](ResponderSettings&) {};
    const Case cases[] = {
        {"version query answered with the power-on firmware 1.3.7",
         none,
         {"W " + kVersionQuery, "R 5", "R 5"},
         "R 03 02 07 03 01\nR 00 00 00 00 00\n"
         "ok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 1 sw 0 lr 0 ign 0"},
        {"configuration echoed; a longer read gets zeros behind the echo",
         none,
         {"W 00", "W " + kConfigFrame, "R 10"},
         "R 06 03 40 00 0A 32 32 00 00 00\n"
         "ok 1 bad 0 (0) wake 1 cfg 1 echo 1 ver 0 sw 0 lr 0 ign 0"},
        {"a shorter read takes the start of the answer and uses it up",
         none,
         {"W " + kVersionQuery, "R 2", "R 5"},
         "R 03 02\nR 00 00 00 00 00\nok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 1 sw 0 lr 0 ign 0"},
        {"no echo before the first configuration",
         none,
         {"W " + Framed("06 03"), "R 8"},
         "R 00 00 00 00 00 00 00 00\nok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 0 ign 1"},
        {"records act in frame order: an echo request ahead of the write is not answered",
         none,
         {"W " + Framed("06 03|" + kConfigWrite), "R 8"},
         "R 00 00 00 00 00 00 00 00\nok 1 bad 0 (0) wake 0 cfg 1 echo 0 ver 0 sw 0 lr 0 ign 1"},
        {"a later echo request gets the last configuration",
         none,
         {"W " + kConfigFrame, "W " + Framed("0A 04 5A C3 96 3C 40 03 0A 32 23 00"), "R 8",
          "W " + Framed("06 03"), "R 8"},
         "R 06 03 40 00 0A 32 32 00\nR 06 03 40 03 0A 32 23 00\n"
         "ok 3 bad 0 (0) wake 0 cfg 2 echo 2 ver 0 sw 0 lr 0 ign 0"},
        {"another access code is not taken, so nothing is echoed",
         none,
         {"W " + Framed("0A 04 5A C3 96 3D 40 00 0A 32 32 00|06 03"), "R 8"},
         "R 00 00 00 00 00 00 00 00\nok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 0 ign 2"},
        {"escaped settings are echoed unescaped",
         none,
         {"W " + Framed("0A 04 5A C3 96 3C 40 7E 7D 81 32 00|06 03"), "R 8"},
         "R 06 03 40 7E 7D 81 32 00\nok 1 bad 0 (0) wake 0 cfg 1 echo 1 ver 0 sw 0 lr 0 ign 0"},
        {"wrong echo once: lowest bit of the last byte, then right again",
         [](ResponderSettings& s) { s.wrong_echo = 1; },
         {"W " + kConfigFrame, "R 8", "W " + kConfigFrame, "R 8"},
         "R 06 03 40 00 0A 32 32 01\nR 06 03 40 00 0A 32 32 00\n"
         "ok 2 bad 0 (0) wake 0 cfg 2 echo 2 ver 0 sw 0 lr 0 ign 0"},
        {"wrong echo always",
         [](ResponderSettings& s) { s.wrong_echo = -1; },
         {"W " + kConfigFrame, "R 8", "W " + kConfigFrame, "R 8"},
         "R 06 03 40 00 0A 32 32 01\nR 06 03 40 00 0A 32 32 01\n"
         "ok 2 bad 0 (0) wake 0 cfg 2 echo 2 ver 0 sw 0 lr 0 ign 0"},
        {"silent: takes the configuration, answers nothing",
         [](ResponderSettings& s) { s.silent = 1; },
         {"W " + kConfigFrame, "R 8", "W " + kVersionQuery, "R 5"},
         "R 00 00 00 00 00 00 00 00\nR 00 00 00 00 00\n"
         "ok 2 bad 0 (0) wake 0 cfg 1 echo 0 ver 0 sw 0 lr 0 ign 0"},
        {"a late answer: zeros before it is ready, the answer from then on",
         [](ResponderSettings& s) { s.reply_delay_ms = 20; },
         {"W " + kVersionQuery, "T 19", "R 5", "T 1", "R 5"},
         "R 00 00 00 00 00\nR 03 02 07 03 01\nok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 1 sw 0 lr 0 "
         "ign 0"},
        {"a request the firmware cannot answer leaves the prepared answer",
         none,
         {"W " + kVersionQuery, "W " + Framed("05 02"), "W " + Framed("03 05"), "R 5"},
         "R 03 02 07 03 01\nok 3 bad 0 (0) wake 0 cfg 0 echo 0 ver 1 sw 0 lr 0 ign 2"},
        {"bad checksum: nothing of the frame counts",
         none,
         {"W 0A 04 5A C3 96 3C 40 00 0A 32 32 00 7D 06 03 7D 94 7E", "R 8"},
         "R 00 00 00 00 00 00 00 00\nok 0 bad 1 (-4) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 0 ign 0"},
        {"one write is one frame: a second frame behind it spoils both",
         none,
         {"W " + kVersionQuery + " " + kVersionQuery, "R 5"},
         "R 00 00 00 00 00\nok 0 bad 1 (-8) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 0 ign 0"},
        {"a wake byte glued to a frame is no wake byte",
         none,
         {"W 00 " + kVersionQuery, "R 5"},
         "R 00 00 00 00 00\nok 0 bad 1 (-6) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 0 ign 0"},
        {"an empty write is no transaction",
         none,
         {"W ", "W " + kVersionQuery, "W ", "R 5"},
         "R 03 02 07 03 01\nok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 1 sw 0 lr 0 ign 0"},
        {"unframed bytes other than the lone wake byte are a bad frame",
         none,
         {"W 00 00", "W 03 02 7D BC"},
         "ok 0 bad 2 (-1) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 0 ign 0"},
        {"link reports: one entry, two entries; length and count must agree, n >= 1",
         none,
         {"W " + kLinkReport,
          "W " + Framed("13 07 02 40 E2 01 00 80 2C 01 C8 A0 00 00 00 2C 01 C8 A0 00 00"),
          "W " + Framed("0C 07 02 40 E2 01 00 80 2C 01 C8 A0 00 00"),
          "W " + Framed("0D 07 01 40 E2 01 00 80 2C 01 C8 A0 00 00 00"),
          "W " + Framed("05 07 00 40 E2 01 00"), "W " + Framed("04 07 00 40 E2 01")},
         "ok 6 bad 0 (0) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 2 ign 4"},
        {"switch table of eight bytes only",
         none,
         {"W 08 09 1A 84 1A 84 00 00 00 00 7D CD 7E", "W " + Framed("07 09 1A 84 1A 84 00 00 00")},
         "ok 2 bad 0 (0) wake 0 cfg 0 echo 0 ver 0 sw 1 lr 0 ign 1"},
        {"configuration of the wrong length is not taken: one byte short, one byte over",
         none,
         {"W " + Framed("09 04 5A C3 96 3C 40 00 0A 32 32|06 03"), "R 8",
          "W " + Framed("0B 04 5A C3 96 3C 40 00 0A 32 32 00 00|06 03"), "R 8"},
         "R 00 00 00 00 00 00 00 00\nR 00 00 00 00 00 00 00 00\n"
         "ok 2 bad 0 (0) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 0 ign 4"},
        {"an echo asked for with another length is not answered",
         none,
         {"W " + Framed(kConfigWrite + "|05 03"), "R 8", "W " + Framed("07 03"), "R 8"},
         "R 00 00 00 00 00 00 00 00\nR 00 00 00 00 00 00 00 00\n"
         "ok 2 bad 0 (0) wake 0 cfg 1 echo 0 ver 0 sw 0 lr 0 ign 2"},
    };
    for (const auto& c : cases) {
        Responder r;
        r.Reset();
        c.settings(r.settings);
        EXPECT_EQ(RunScript(r, c.steps), c.result) << c.name;
    }
}

TEST(ResponderTest, KeepsWhatItTook) {
    Responder r;
    r.Reset();
    RunScript(r, {"W " + kConfigFrame, "W 08 09 1A 84 1A 84 00 00 00 00 7D CD 7E"});
    EXPECT_EQ(ToHex(r.log.access_code, 4), "5A C3 96 3C");
    EXPECT_EQ(ToHex(r.log.settings, 6), "40 00 0A 32 32 00");
    EXPECT_EQ(ToHex(r.log.switch_table, 8), "1A 84 1A 84 00 00 00 00");
    EXPECT_EQ(r.log.has_settings, 1);
    // Faults go, what was received stays.
    r.settings.silent = 1;
    r.ClearFaults();
    EXPECT_EQ(r.settings.silent, 0);
    EXPECT_EQ(r.log.config_writes, 1u);
    // Power-on forgets it all.
    r.Reset();
    EXPECT_EQ(r.log.has_settings, 0);
    EXPECT_EQ(
        RunScript(r, {"W " + Framed("06 03"), "R 8"}),
        "R 00 00 00 00 00 00 00 00\nok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 0 sw 0 lr 0 ign 1");
}

TEST(ResponderTest, TransferOutcomes) {
    struct Case {
        Outcome outcome;
        int32_t count;
        const char* sequence;  // outcomes of the next five transfers
    } cases[] = {
        {Outcome::Complete, -1, "CCCCC"}, {Outcome::FailNow, 2, "FFCCC"},
        {Outcome::Pending, 1, "PCCCC"},   {Outcome::Pending, -1, "PPPPP"},
        {Outcome::FailNow, 0, "CCCCC"},
    };
    const char letter[] = {'C', 'P', 'F'};
    for (const auto& c : cases) {
        for (bool writes : {true, false}) {
            Responder r;
            r.Reset();
            (writes ? r.settings.write_outcome : r.settings.read_outcome) = c.outcome;
            (writes ? r.settings.write_count : r.settings.read_count) = c.count;
            std::string got;
            for (int i = 0; i < 5; ++i) {
                Outcome o = writes ? r.NextWriteOutcome() : r.NextReadOutcome();
                got += letter[static_cast<int>(o)];
                // The other direction is never touched.
                EXPECT_EQ(writes ? r.NextReadOutcome() : r.NextWriteOutcome(), Outcome::Complete);
            }
            EXPECT_EQ(got, c.sequence) << (writes ? "writes " : "reads ") << c.count;
        }
    }
}

TEST(ResponderTest, SinkSeesTakenRecordsOnly) {
    std::string seen;
    RecordSink sink = {[](void* context, const uint8_t* record, uint16_t size) {
                           *static_cast<std::string*>(context) += ToHex(record, size) + "\n";
                       },
                       &seen};
    Responder r;
    r.Reset();
    const std::vector<std::string> writes = {
        kConfigFrame, kVersionQuery, Framed("0C 07 02 40 E2 01 00 80 2C 01 C8 A0 00 00"),
        "0C 07 01 81 5E 00 00 00 00 2C 01 C8 A0 00 00 7D 50 7E"};
    for (const auto& w : writes) {
        Bytes b = Hex(w);
        r.Write(b.data(), b.size(), 0, &sink);
    }
    EXPECT_EQ(seen,
              "0A 04 5A C3 96 3C 40 00 0A 32 32 00\n"
              "0C 07 01 7E 00 00 00 00 2C 01 C8 A0 00 00\n");
}

TEST(ResponderTest, DroppedReplyIsGone) {
    Responder r;
    r.Reset();
    EXPECT_EQ(RunScript(r, {"W " + kVersionQuery}),
              "ok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 1 sw 0 lr 0 ign 0");
    r.DropReply();
    EXPECT_EQ(RunScript(r, {"R 5"}),
              "R 00 00 00 00 00\nok 1 bad 0 (0) wake 0 cfg 0 echo 0 ver 1 sw 0 lr 0 ign 0");
}

}  // namespace
}  // namespace qxproto
