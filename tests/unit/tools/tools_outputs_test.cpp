// qxdecode --sigrok's reading of sigrok-cli annotations, qxsim's I2C waveform
// bit by bit, and the timeline page's marks and size.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "tools/qxdecode/decode_text.h"
#include "tools/qxdecode/sigrok_text.h"
#include "tools/qxsim/i2c_vcd.h"
#include "tools/qxsim/timeline.h"

namespace {

using qxdecode::DecodeSigrok;

// ---- qxdecode --sigrok ----

// The version query and its answer, as sigrok-cli prints them with -A.
const char kVersionExchange[] =
    "i2c-1: Address write: 2C\n"
    "i2c-1: Data write: 03\n"
    "i2c-1: Data write: 02\n"
    "i2c-1: Data write: 7D\n"
    "i2c-1: Data write: BC\n"
    "i2c-1: Data write: 7E\n"
    "i2c-1: Address read: 2C\n"
    "i2c-1: Data read: 03\n"
    "i2c-1: Data read: 02\n"
    "i2c-1: Data read: 05\n"
    "i2c-1: Data read: 04\n"
    "i2c-1: Data read: 02\n";

TEST(SigrokTest, WriteAndReadDecode) {
    std::string out, err;
    EXPECT_EQ(DecodeSigrok(kVersionExchange, &out, &err), qxdecode::kAllGood) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(out,
              "transaction 1 (line 1): write to 2C, 5 bytes\n"
              "frame 1 (5 bytes): 03 02 7D BC 7E\n"
              "  ReadRequest: asks for ControllerVersion (type 2, 3 data bytes)\n"
              "  checksum BC: ok\n"
              "transaction 2 (line 7): read from 2C, 5 bytes\n"
              "  bytes: 03 02 05 04 02\n"
              "  reply: ControllerVersion 2.4.5\n");
}

TEST(SigrokTest, CasesTable) {
    struct Case {
        const char* name;
        std::string text;
        int rc;
        const char* out_has;  // a line the output must contain ("" for none)
        const char* err;      // the whole error text
    } cases[] = {
        {"wake byte alone", "i2c-1: Address write: 2C\ni2c-1: Data write: 00\n", qxdecode::kAllGood,
         "wake byte: 00\n", ""},
        {"bus conditions and CRLF pass",
         "i2c-1: Start\r\ni2c-1: Address write: 2C\r\ni2c-1: Write\r\ni2c-1: ACK\r\n"
         "i2c-1: 0\r\ni2c-1: Data write: 00\r\ni2c-1: ACK\r\ni2c-1: Stop\r\n\r\n",
         qxdecode::kAllGood, "wake byte: 00\n", ""},
        {"an echo reply",
         "i2c-1: Address read: 2C\n" +
             [] {
                 std::string s;
                 for (const char* b : {"06", "03", "40", "03", "0A", "32", "23", "00"})
                     s += std::string("i2c-1: Data read: ") + b + "\n";
                 return s;
             }(),
         qxdecode::kAllGood, "  reply: ConfigEcho, settings 40 03 0A 32 23 00\n", ""},
        {"a silent controller reads zeros",
         "i2c-1: Address read: 2C\ni2c-1: Data read: 00\ni2c-1: Data read: 00\n",
         qxdecode::kAllGood, "  reply: zeros (the controller had nothing to say)\n", ""},
        {"a short reply", "i2c-1: Address read: 2C\ni2c-1: Data read: 06\ni2c-1: Data read: 03\n",
         qxdecode::kAllGood, "  reply: not a whole record (length byte 6, 2 bytes read)\n", ""},
        {"bad checksum: frame verdict and where it began",
         "\ni2c-1: Address write: 2C\ni2c-1: Data write: 03\ni2c-1: Data write: 02\n"
         "i2c-1: Data write: 7D\ni2c-1: Data write: BD\ni2c-1: Data write: 7E\n",
         qxdecode::kBadFrame, "  checksum BD: MISMATCH (computed BC)\n",
         "qxdecode: transaction 1 (line 2): frame 1: checksum mismatch: got BD, computed BC\n"},
        {"an unknown line is named, the rest still decodes",
         "i2c-1: Address write: 2C\ni2c-1: Data write: 00\nhello there\n", qxdecode::kBadInput,
         "wake byte: 00\n", "qxdecode: line 3: not a sigrok annotation: hello there\n"},
        {"data before any address", "i2c-1: Data write: 7E\ni2c-1: Address write: 2C\n",
         qxdecode::kBadInput, "  no data bytes\n",
         "qxdecode: line 1: data before any address: i2c-1: Data write: 7E\n"},
        {"read data inside a write",
         "i2c-1: Address write: 2C\ni2c-1: Data read: 00\ni2c-1: Data write: 00\n",
         qxdecode::kBadInput, "wake byte: 00\n",
         "qxdecode: line 2: data read inside a write: i2c-1: Data read: 00\n"},
        {"a data value that is not one hex byte",
         "i2c-1: Address write: 2C\ni2c-1: Data write: 100\ni2c-1: Data write: 00\n",
         qxdecode::kBadInput, "wake byte: 00\n",
         "qxdecode: line 2: a data byte needs a hex value: i2c-1: Data write: 100\n"},
        {"another decoder's annotation", "uart-1: RX: 41\n", qxdecode::kBadInput, "",
         "qxdecode: line 1: not an I2C address or data annotation: uart-1: RX: 41\n"
         "qxdecode: no I2C transactions to decode\n"},
        {"a decoder name with a space is no annotation",
         "i2c-1: Address write: 2C\ni2c-1: Data write: 00\ni2c 1: Stop\n", qxdecode::kBadInput,
         "wake byte: 00\n", "qxdecode: line 3: not a sigrok annotation: i2c 1: Stop\n"},
        {"data between a stop and the next address",
         "i2c-1: Address write: 2C\ni2c-1: Data write: 00\ni2c-1: Stop\ni2c-1: Data write: 00\n",
         qxdecode::kBadInput, "wake byte: 00\n",
         "qxdecode: line 4: data after a stop, before the next address: i2c-1: Data write: 00\n"},
        {"empty input", "", qxdecode::kBadInput, "", "qxdecode: no I2C transactions to decode\n"},
    };
    for (auto& c : cases) {
        std::string out, err;
        EXPECT_EQ(DecodeSigrok(c.text, &out, &err), c.rc) << c.name;
        EXPECT_NE(out.find(c.out_has), std::string::npos) << c.name << "\n" << out;
        EXPECT_EQ(err, c.err) << c.name;
    }
}

// A bus shared with another device at 15: its write would be a bad frame,
// and it counts only when 15 is taken for the controller.
TEST(SigrokTest, AddressPicksTheController) {
    const std::string shared =
        "i2c-1: Address write: 2C\ni2c-1: Data write: 00\ni2c-1: Stop\n"
        "i2c-1: Address write: 15\ni2c-1: Data write: 7E\n"
        "i2c-1: Address read: 15\ni2c-1: Data read: 41\ni2c-1: Stop\n";
    const struct {
        int address;
        int rc;
        const char* out_has;
    } cases[] = {
        {qxdecode::kAnyAddress, qxdecode::kBadFrame, "frame 1 (1 bytes): 7E\n"},
        {0x2C, qxdecode::kAllGood,
         "wake byte: 00\ntransaction 2 (line 4): write to 15, 1 byte: another device's traffic\n"
         "  bytes: 7E\ntransaction 3 (line 6): read from 15, 1 byte: another device's traffic\n"
         "  bytes: 41\n"},
        {0x15, qxdecode::kBadFrame, "write to 2C, 1 byte: another device's traffic\n  bytes: 00\n"},
        {0x40, qxdecode::kBadInput, "read from 15"},
    };
    for (const auto& c : cases) {
        std::string out, err;
        EXPECT_EQ(DecodeSigrok(shared, &out, &err, c.address), c.rc) << c.address;
        EXPECT_NE(out.find(c.out_has), std::string::npos) << c.address << "\n" << out;
        if (c.rc == qxdecode::kBadInput) {
            EXPECT_EQ(err, "qxdecode: none of the 3 I2C transactions is with address 40\n");
        }
    }
}

// ---- The waveform ----

struct Wave {
    std::vector<int> bits;          // SDA at every rising SCL edge that clocks a bit
    std::vector<uint64_t> starts;   // SDA falling while SCL high
    std::vector<uint64_t> stops;    // SDA rising while SCL high
    std::vector<std::string> vars;  // declared wires
};

// Plays the VCD text back as a receiver sees it.
Wave Play(const std::string& vcd) {
    Wave w;
    std::istringstream in(vcd);
    std::string line;
    int scl = 1, sda = 1;
    uint64_t t = 0;
    bool defs = true;
    while (std::getline(in, line)) {
        if (defs) {
            if (line.rfind("$var", 0) == 0) {
                std::istringstream v(line);
                std::string a, type, width, id, name;
                v >> a >> type >> width >> id >> name;
                w.vars.push_back(id + "=" + name);
            }
            if (line.rfind("$enddefinitions", 0) == 0) defs = false;
            continue;
        }
        if (line.empty() || line[0] == '$') continue;
        if (line[0] == '#') {
            t = std::stoull(line.substr(1));
            continue;
        }
        int value = line[0] - '0';
        if (line.substr(1) == "!") {
            if (value == 1 && scl == 0) w.bits.push_back(sda);
            scl = value;
        } else {
            if (scl == 1 && sda == 1 && value == 0) w.starts.push_back(t);
            if (scl == 1 && sda == 0 && value == 1) {
                // The clock rose for the stop condition, not for a bit.
                w.stops.push_back(t);
                if (!w.bits.empty()) w.bits.pop_back();
            }
            sda = value;
        }
    }
    return w;
}

std::vector<int> Bits(std::initializer_list<std::pair<uint8_t, int>> bytes) {
    std::vector<int> bits;
    for (auto& b : bytes) {
        for (int i = 7; i >= 0; --i) bits.push_back(b.first >> i & 1);
        bits.push_back(b.second);  // 0: ACK, 1: NACK
    }
    return bits;
}

TEST(I2cVcdTest, WriteAndReadOnTheWire) {
    qxsim::I2cVcdWriter vcd(qxsim::I2cSpeed::Standard);
    vcd.WriteToString();
    const uint8_t written[] = {0xA5, 0x7E};
    const uint8_t read[] = {0x03, 0x02, 0x81};
    vcd.Transfer(1000, true, written, 2);
    vcd.Transfer(1010, false, read, 3);
    ASSERT_TRUE(vcd.Close());
    std::string text = vcd.TakeText();
    EXPECT_NE(text.find("$timescale 1us $end"), std::string::npos);
    Wave w = Play(text);
    EXPECT_EQ(w.vars, (std::vector<std::string>{"!=scl", "\"=sda"}));
    // Address 2C with the write bit, then with the read bit; the controller
    // acknowledges, the host acknowledges every read byte but the last.
    std::vector<int> expected = Bits({{0x58, 0}, {0xA5, 0}, {0x7E, 0}});
    std::vector<int> second = Bits({{0x59, 0}, {0x03, 0}, {0x02, 0}, {0x81, 1}});
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(w.bits, expected);
    // Start and stop conditions at virtual time (1 ms = 1000 units).
    EXPECT_EQ(w.starts, (std::vector<uint64_t>{1000000, 1010000}));
    ASSERT_EQ(w.stops.size(), 2u);
    EXPECT_LT(w.stops[0], 1010000u);
    // 100 kHz: one byte and its acknowledge take 90 us.
    EXPECT_EQ(w.stops[0] - w.starts[0], 5u + 3 * 90 + 10);
}

TEST(I2cVcdTest, TransfersInTheSameMillisecondQueueUp) {
    for (auto speed : {qxsim::I2cSpeed::Standard, qxsim::I2cSpeed::Fast}) {
        qxsim::I2cVcdWriter vcd(speed);
        vcd.WriteToString();
        const uint8_t b[17] = {0x0C};
        vcd.Transfer(5, true, b, sizeof b);
        vcd.Transfer(5, true, b, sizeof b);  // would overlap the first
        vcd.Transfer(5, false, b, 1);
        ASSERT_TRUE(vcd.Close());
        Wave w = Play(vcd.TakeText());
        ASSERT_EQ(w.starts.size(), 3u);
        ASSERT_EQ(w.stops.size(), 3u);
        for (int i = 0; i < 2; ++i) EXPECT_GT(w.starts[i + 1], w.stops[i]);
        EXPECT_EQ(w.bits.size(), (18u + 18u + 2u) * 9u);
    }
}

TEST(I2cVcdTest, UnwritableFileIsRefused) {
    qxsim::I2cVcdWriter vcd(qxsim::I2cSpeed::Fast);
    EXPECT_FALSE(vcd.Open("/nonexistent-dir/bus.vcd"));
}

// ---- The timeline page ----

// Link-report frames as the daemon wrote them (qxdecode's test trace): one
// with a new BSSID, RSSI C8 / A0; one without, RSSI 00 / FF, escapes inside.
const std::vector<uint8_t> kFreshReport = {0x0C, 0x07, 0x01, 0x40, 0xE2, 0x01, 0x00, 0x80, 0x2C,
                                           0x01, 0xC8, 0xA0, 0x00, 0x00, 0x7D, 0xC0, 0x7E};
const std::vector<uint8_t> kPlainReport = {0x0C, 0x07, 0x01, 0x81, 0x5E, 0x00, 0x00, 0x00, 0x00,
                                           0x2C, 0x01, 0x00, 0xFF, 0x00, 0x00, 0x7D, 0x54, 0x7E};

size_t Count(const std::string& s, const std::string& what) {
    size_t n = 0;
    for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) ++n;
    return n;
}

std::string Attribute(const std::string& page, const std::string& element, const char* attr) {
    size_t p = page.find(element);
    if (p == std::string::npos) return "";
    p = page.find(std::string(attr) + "=\"", p);
    size_t e = page.find('"', p + strlen(attr) + 2);
    return page.substr(p + strlen(attr) + 2, e - p - strlen(attr) - 2);
}

TEST(TimelineTest, AnHourAtQuarterSecondsStaysLight) {
    qxsim::SessionTimeline tl;
    auto& plain = kPlainReport;
    auto& fresh = kFreshReport;
    const uint8_t config[] = {0x0A, 0x04, 1, 2, 3, 4, 0x40, 3, 0x0A, 0x32, 0x23, 0, 0x7D, 0, 0x7E};
    tl.OnWrite(0, config, sizeof config);  // checksum left wrong: not a set-up
    tl.OnNodeReset(0);
    tl.OnScenario(600000, "suspend");
    tl.OnScenario(660000, "resume-user");
    tl.OnScenario(1200000, "linkloss");  // never back: closed at the end
    size_t n = 0;
    for (qxsim::VTime t = 1000; t < 3600000; t += 250, ++n) {
        auto& f = n % 1000 == 0 ? fresh : plain;
        tl.OnWrite(t, f.data(), f.size());
    }
    tl.OnWriteFailed(3600000);
    tl.OnMessage(5, "QUELLIX: <Veltrane> & \"friends\"\n");
    tl.Finish(3600100);

    ASSERT_EQ(tl.reports().size(), n);
    EXPECT_EQ(tl.setups().size(), 0u);
    ASSERT_EQ(tl.link_downs().size(), 1u);
    EXPECT_EQ(tl.link_downs()[0].to, 3600100);
    std::string page = tl.Html("an hour");
    // Every report keeps its mark; the curves are thinned to the pixel columns.
    std::string d = Attribute(page, "<path class=\"reports\"", "d");
    EXPECT_EQ(Count(d, "M"), n);
    EXPECT_EQ(Attribute(page, "<g class=\"newbssid\"", "data-count"), std::to_string(n / 1000 + 1));
    std::string chain0 = Attribute(page, "<path class=\"curve chain0\"", "d");
    EXPECT_LE(Count(chain0, "L") + Count(chain0, "M"), 4u * 1110);
    EXPECT_GT(Count(chain0, "L"), 1000u);
    EXPECT_LT(page.size(), 600u * 1024) << "the page of an hour should open quickly";
    // Text is escaped and nothing is fetched.
    EXPECT_NE(page.find("QUELLIX: &lt;Veltrane&gt; &amp; &quot;friends&quot;</title>"),
              std::string::npos);
    EXPECT_EQ(page.find("<script"), std::string::npos);
    EXPECT_EQ(page.find("href="), std::string::npos);
    EXPECT_EQ(Count(page, "<rect class=\"suspend\""), 1u);
}

TEST(TimelineTest, SetUpsAndGapsInTheCurves) {
    qxsim::SessionTimeline tl;
    // The configuration frame of a real set-up (qxdecode's test trace).
    const uint8_t config[] = {0x0A, 0x04, 0x5A, 0xC3, 0x96, 0x3C, 0x40, 0x00, 0x0A,
                              0x32, 0x32, 0x00, 0x7D, 0x06, 0x03, 0x7D, 0x93, 0x7E};
    tl.OnWrite(100, config, sizeof config);
    auto& r = kPlainReport;
    tl.OnWrite(1000, r.data(), r.size());
    tl.OnWrite(2000, r.data(), r.size());
    tl.OnWrite(60000, r.data(), r.size());  // after a long silence: a new stroke
    tl.Finish(61000);
    EXPECT_EQ(tl.setups(), std::vector<qxsim::VTime>{100});
    std::string chain1 = Attribute(tl.Html("t"), "<path class=\"curve chain1\"", "d");
    EXPECT_EQ(Count(chain1, "M"), 2u) << chain1;
    EXPECT_EQ(Count(chain1, "L"), 1u) << chain1;
}

}  // namespace
