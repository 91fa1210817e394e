// qxdecode: a captured trace decodes to the expected text; bad input gives a
// message and a non-zero exit, never a crash.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "tools/qxdecode/decode_text.h"

namespace qxdecode {
namespace {

// Set-up and two link reports as the bus carried them (wake byte included).
const char kTrace[] =
    "00 0A 04 5A C3 96 3C 40 00 0A 32 32 00 7D 06 03 7D 93 7E\n"
    "03 02 7D BC 7E\n"
    "08 09 1A 84 1A 84 00 00 00 00 7D CD 7E\n"
    "0C07014 0E20100802C01C8A000007DC07E\n"
    "0C 07 01 81 5E 00 00 00 00 2C 01 00 FF 00 00 7D 54 7E\n";

TEST(QxdecodeTest, CapturedTraceDecodes) {
    std::string out, err;
    EXPECT_EQ(DecodeText(kTrace, &out, &err), kAllGood) << err;
    EXPECT_EQ(err, "");
    EXPECT_EQ(out,
              "wake byte: 00\n"
              "frame 1 (18 bytes): 0A 04 5A C3 96 3C 40 00 0A 32 32 00 7D 06 03 7D 93 7E\n"
              "  ConfigWrite: access code 5A C3 96 3C, settings 40 00 0A 32 32 00 (steering mode "
              "0, w-limit 10, "
              "s-limit 50, chains 32 00)\n"
              "  ReadRequest: asks for ConfigEcho (type 3, 6 data bytes)\n"
              "  checksum 93: ok\n"
              "frame 2 (5 bytes): 03 02 7D BC 7E\n"
              "  ReadRequest: asks for ControllerVersion (type 2, 3 data bytes)\n"
              "  checksum BC: ok\n"
              "frame 3 (13 bytes): 08 09 1A 84 1A 84 00 00 00 00 7D CD 7E\n"
              "  MSwitchTable: 1A 84 1A 84 00 00 00 00\n"
              "  checksum CD: ok\n"
              "frame 4 (17 bytes): 0C 07 01 40 E2 01 00 80 2C 01 C8 A0 00 00 7D C0 7E\n"
              "  LinkReport: 1 entry, time stamp 123456 ms\n"
              "    entry 1: new BSSID 1, flags 0x00, traffic 300, RSSI chain 0 C8 (-50.00 dBm), "
              "chain 1 A0 "
              "(-60.00 dBm), reserved 00 00\n"
              "  checksum C0: ok\n"
              "frame 5 (18 bytes): 0C 07 01 81 5E 00 00 00 00 2C 01 00 FF 00 00 7D 54 7E\n"
              "  LinkReport: 1 entry, time stamp 126 ms\n"
              "    entry 1: new BSSID 0, flags 0x00, traffic 300, RSSI chain 0 00 (-100.00 dBm or "
              "below), chain 1 FF "
              "(-36.25 dBm or above), reserved 00 00\n"
              "  checksum 54: ok\n");
}

// A record that is not laid out as its type says is shown as bytes, not
// read as if it were: a link report without entries tells nothing.
TEST(QxdecodeTest, MalformedRecordsAreShownRaw) {
    std::string out, err;
    EXPECT_EQ(DecodeText("05 07 00 40 E2 01 00 7D 54 7E", &out, &err), kAllGood) << err;
    EXPECT_EQ(out,
              "frame 1 (10 bytes): 05 07 00 40 E2 01 00 7D 54 7E\n"
              "  record type 7 (LinkReport), 5 data bytes: 00 40 E2 01 00\n"
              "  checksum 54: ok\n");
}

TEST(QxdecodeTest, BadInputIsReported) {
    struct Case {
        const char* text;
        int rc;
        const char* err;
    } cases[] = {
        {"03 02 7D BG 7E", kBadInput, "qxdecode: not hex: 'G' at character 11\n"},
        {"03 02 7D B", kBadInput,
         "qxdecode: odd number of hex digits (a lone digit at character 10)\n"},
        {"  \n", kBadInput, "qxdecode: no bytes to decode\n"},
        {"03 02 7D BC", kBadFrame, "qxdecode: frame 1: frame without its end flag (7E)\n"},
        {"03 02 7D 81 7E", kBadFrame,
         "qxdecode: frame 1: bad escape (81 must be followed by 5E, 5D or A1)\n"},
        {"03 02 7D BD 7E", kBadFrame,
         "qxdecode: frame 1: checksum mismatch: got BD, computed BC\n"},
        // A bad frame does not hide the good one behind it.
        {"0302BC7E 03027DBC7E", kBadFrame,
         "qxdecode: frame 1: frame without a record separator (7D)\n"},
        {"0x03 0x02 0x7D 0xBC 0x7E", kAllGood, ""},
    };
    for (const auto& c : cases) {
        std::string out, err;
        EXPECT_EQ(DecodeText(c.text, &out, &err), c.rc) << c.text;
        EXPECT_EQ(err, c.err) << c.text;
    }
    std::string out, err;
    DecodeText("0302BC7E 03027DBC7E", &out, &err);
    EXPECT_NE(out.find("frame 2 (5 bytes): 03 02 7D BC 7E\n  ReadRequest"), std::string::npos)
        << out;
}

TEST(QxdecodeTest, RandomBytesNeverCrash) {
    std::mt19937 rng(7);
    const char digits[] = "0123456789ABCDEF";
    const char* specials[] = {"7D", "7E", "81", "00"};
    for (int i = 0; i < 2000; ++i) {
        std::string text;
        int n = static_cast<int>(rng() % 700);
        for (int k = 0; k < n; ++k) {
            if (rng() % 3 == 0) {
                text += specials[rng() % 4];
            } else {
                text += digits[rng() % 16];
                text += digits[rng() % 16];
            }
        }
        std::string out, err;
        int rc = DecodeText(text, &out, &err);
        EXPECT_TRUE(rc == kAllGood || rc == kBadFrame || rc == kBadInput);
        if (rc != kAllGood) {
            EXPECT_FALSE(err.empty());
        }
    }
}

std::string RunCommand(const std::string& command, int* rc) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    *rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

TEST(QxdecodeTest, CommandLineAndStandardInput) {
    int rc = -1;
    std::string out = RunCommand(std::string(QXDECODE_PATH) + " 03 02 7D BC7E", &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out,
              "frame 1 (5 bytes): 03 02 7D BC 7E\n  ReadRequest: asks for ControllerVersion (type "
              "2, 3 data bytes)\n"
              "  checksum BC: ok\n");
    std::string piped =
        RunCommand("printf '03 02 7D\\nBC 7E\\n' | " + std::string(QXDECODE_PATH), &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(piped, out);
    out = RunCommand(std::string(QXDECODE_PATH) + " hello 2>&1", &rc);
    EXPECT_EQ(rc, kBadInput);
    EXPECT_EQ(out, "qxdecode: not hex: 'h' at character 1\n");
    out = RunCommand(std::string(QXDECODE_PATH) + " 03 02 7D BD 7E 2>/dev/null", &rc);
    EXPECT_EQ(rc, kBadFrame);
}

}  // namespace
}  // namespace qxdecode
