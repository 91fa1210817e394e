// qxsim's and qxdecode's input on the paths users meet by mistake: NaN
// times, MAC addresses that are not hex, raw control bytes, scenarios that
// never end, directories and endless files, and a stream read as it arrives.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "tools/qxdecode/decode_text.h"
#include "tools/qxdecode/sigrok_text.h"
#include "tools/qxsim/scenario.h"

namespace {

using qxsim::ParseScenario;
using qxsim::Scenario;

TEST(InputBoundsTest, TimesThatAreNoNumbersAreRefused) {
    for (const char* text :
         {"nan", "NaN", "-nan", "nans", "nanms", "inf", "infinity", "1e10", "1e300m"}) {
        int64_t ms = -1;
        EXPECT_FALSE(qxsim::ParseVirtualTime(text, &ms)) << text;
    }
    Scenario s;
    std::string error;
    EXPECT_FALSE(ParseScenario("nan ctrl-c\n", &s, &error));
    EXPECT_EQ(error, "line 1: not a time: nan");
}

TEST(InputBoundsTest, MacAddressesTakeHexDigitsOnly) {
    struct Case {
        const char* mac;
        bool ok;
    };
    const Case cases[] = {
        {"10:6f:3f:a1:b2:d4", true},   {"10:6F:3F:A1:B2:D4", true},   {"1:2:3:4:5:6", true},
        {"-1:-1:-1:-1:-1:-1", false},  {"+1:2:3:4:5:6", false},       {"1:2:3:4:5:-6", false},
        {"0x1:2:3:4:5:6", false},      {"100:2:3:4:5:6", false},      {"10:6f:3f:a1:b2", false},
        {"10:6f:3f:a1:b2:d4:", false}, {"10:6f:3f:a1:b2:d4x", false}, {"10::3f:a1:b2:d4", false},
        {"g0:6f:3f:a1:b2:d4", false},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_EQ(ParseScenario(std::string("1s roam ") + c.mac + "\n", &s, &error), c.ok) << c.mac;
        if (!c.ok) {
            EXPECT_EQ(error, std::string("line 1: not a MAC address: ") + c.mac);
        }
    }
}

TEST(InputBoundsTest, RssiIsInDbmFromMinus128To0) {
    const struct {
        const char* values;
        bool ok;
    } cases[] = {
        {"0 0", true},    {"-128 -128", true}, {"1 -60", false},
        {"-60 1", false}, {"-129 -60", false}, {"-60 +1", false},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_EQ(ParseScenario(std::string("1s rssi ") + c.values + "\n", &s, &error), c.ok)
            << c.values;
        if (!c.ok) {
            EXPECT_EQ(error, "line 1: rssi wants two dBm values from -128 to 0");
        }
    }
}

TEST(InputBoundsTest, BadBytesAreShownEscaped) {
    struct Case {
        std::string text;
        std::string error;
    };
    const Case cases[] = {
        {"1s da\x1b[2Jnce\n", "line 1: unknown action: da\\x1B[2Jnce"},
        {"\x7f"
         "1s ctrl-c\n",
         "line 1: not a time: \\x7F1s"},
        {"1s roam 10:6f:3f:a1:b2:\xc3\xa4\n",
         "line 1: not a MAC address: 10:6f:3f:a1:b2:\\xC3\\xA4"},
        {std::string("5s\x01 ctrl-c\n"), "line 1: not a time: 5s\\x01"},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(c.text, &s, &error));
        EXPECT_EQ(error, c.error);
    }
}

TEST(InputBoundsTest, AScenarioMustEndTheDaemon) {
    struct Case {
        const char* text;
        bool ends;
    };
    const Case cases[] = {
        {"", false},
        {"# only a comment\n\n", false},
        {"0s note nothing ends this\n10s suspend\n", false},
        {"5s ctrl-c\n", true},
        {"5s ctrl-break\n", true},
        {"5s close\n", true},
        {"5s shutdown\n", true},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        ASSERT_TRUE(ParseScenario(c.text, &s, &error)) << error;
        EXPECT_EQ(qxsim::ScenarioEnds(s), c.ends) << c.text;
    }
}

TEST(InputBoundsTest, ScenarioFilesAreBounded) {
    std::string text, error;
    EXPECT_FALSE(qxsim::ReadScenarioFile("/tmp", &text, &error));
    EXPECT_EQ(error, "/tmp is a directory, not a scenario file");
    EXPECT_FALSE(qxsim::ReadScenarioFile("/dev/zero", &text, &error));
    EXPECT_EQ(error, "/dev/zero is larger than 1048576 bytes; that is no scenario");
    EXPECT_FALSE(qxsim::ReadScenarioFile("/no/such/file", &text, &error));
    EXPECT_EQ(error, "cannot open /no/such/file: No such file or directory");

    // At the limit it is read; one byte more is refused.
    char path[] = "/tmp/qx-scenario-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    const std::string full(qxsim::kMaxScenarioBytes, '#');
    ASSERT_EQ(write(fd, full.data(), full.size()), static_cast<ssize_t>(full.size()));
    EXPECT_TRUE(qxsim::ReadScenarioFile(path, &text, &error)) << error;
    EXPECT_EQ(text.size(), qxsim::kMaxScenarioBytes);
    ASSERT_EQ(write(fd, "\n", 1), 1);
    EXPECT_FALSE(qxsim::ReadScenarioFile(path, &text, &error));
    close(fd);
    unlink(path);
}

TEST(InputBoundsTest, HexStreamDecodesEachFrameAsItsEndArrives) {
    qxdecode::HexStream stream;
    std::string out, err;
    stream.Line("03 02 7D", &out, &err);  // half a frame: nothing yet
    EXPECT_EQ(out, "");
    stream.Line("BC 7E", &out, &err);
    EXPECT_EQ(out,
              "frame 1 (5 bytes): 03 02 7D BC 7E\n  ReadRequest: asks for ControllerVersion (type "
              "2, 3 data bytes)\n  checksum BC: ok\n");
    out.clear();
    stream.Line("", &out, &err);
    stream.Line("hello \x1b", &out, &err);  // reported, passed over
    EXPECT_EQ(err, "qxdecode: line 4: not hex: 'h' at character 1\n");
    stream.Line("0x03 0x02 0x7D 0xBD 0x7E", &out, &err);
    EXPECT_EQ(out.rfind("frame 2 (5 bytes)", 0), 0u) << out;  // numbered through the stream
    EXPECT_NE(err.find("qxdecode: frame 2: checksum mismatch"), std::string::npos) << err;
    EXPECT_EQ(stream.Finish(&out, &err), qxdecode::kBadInput);

    qxdecode::HexStream empty;
    out.clear();
    err.clear();
    empty.Line("  ", &out, &err);
    EXPECT_EQ(empty.Finish(&out, &err), qxdecode::kBadInput);
    EXPECT_EQ(err, "qxdecode: no bytes to decode\n");
}

TEST(InputBoundsTest, SigrokStreamDecodesATransactionAtItsStopOrWhenTheNextBegins) {
    qxdecode::SigrokStream stream;
    std::string out, err;
    for (const char* line :
         {"i2c-1: Address write: 2C", "i2c-1: Data write: 03", "i2c-1: Data write: 02",
          "i2c-1: Data write: 7D", "i2c-1: Data write: BC", "i2c-1: Data write: 7E"}) {
        stream.Line(line, &out, &err);
    }
    EXPECT_EQ(out, "");
    stream.Line("i2c-1: Address read: 2C", &out, &err);
    EXPECT_EQ(out.rfind("transaction 1 (line 1): write to 2C, 5 bytes\n", 0), 0u) << out;
    out.clear();
    stream.Line("i2c-1: Data read: \x1b[31m", &out, &err);
    EXPECT_EQ(err,
              "qxdecode: line 8: a data byte needs a hex value: i2c-1: Data read: \\x1B[31m\n");
    stream.Line("i2c-1: Stop", &out, &err);
    EXPECT_EQ(out.rfind("transaction 2 (line 7): read from 2C, 0 bytes\n", 0), 0u) << out;
    out.clear();
    EXPECT_EQ(stream.Finish(&out, &err), qxdecode::kBadInput);
    EXPECT_EQ(out, "");
}

TEST(InputBoundsTest, AnEndlessTransactionIsCut) {
    qxdecode::SigrokStream stream;
    std::string out, err;
    stream.Line("i2c-1: Address write: 2C", &out, &err);
    for (int i = 0; i < 65536 + 10; ++i) stream.Line("i2c-1: Data write: 00", &out, &err);
    EXPECT_EQ(err,
              "qxdecode: line 65538: a transaction of more than 65536 bytes; the rest is dropped: "
              "i2c-1: Data write: 00\n");
    EXPECT_EQ(stream.Finish(&out, &err), qxdecode::kBadInput);
    EXPECT_NE(out.find("write to 2C, 65536 bytes"), std::string::npos);
}

}  // namespace
