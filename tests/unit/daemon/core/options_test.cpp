// The daemon's command line: scanning rules, number conversions and the
// settings they produce. Built for the host and for Windows, so glibc and
// MinGW builds are held to the same behaviour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "daemon/base/getopt.h"
#include "daemon/base/numbers.h"
#include "daemon/core/settings.h"

namespace qx {
namespace {

struct Parsed {
    ParseOutcome outcome;
    DaemonSettingsT* s;
};

class OptionsTest : public ::testing::Test {
  protected:
    Parsed Parse(std::vector<std::string> words) {
        words.insert(words.begin(), "quellix.exe");
        args_.clear();
        for (auto& w : words) args_.push_back(w.data());
        args_.push_back(nullptr);
        storage_ = words;
        // Fresh defaults for every parse, as in a new process.
        settings_ = std::make_unique<DaemonSettingsT>();
        std::fill(std::begin(name_), std::end(name_), '\0');
        settings_->InterfaceName = name_;
        ParseOutcome o =
            ParseDaemonOptions(static_cast<int>(words.size()), args_.data(), *settings_);
        return {o, settings_.get()};
    }
    std::vector<std::string> storage_;
    std::vector<char*> args_;
    char name_[kInterfaceNameSize] = {};
    std::unique_ptr<DaemonSettingsT> settings_;
};

TEST_F(OptionsTest, NoArgumentsKeepEveryDefault) {
    Parsed p = Parse({});
    ASSERT_EQ(p.outcome, ParseOutcome::kRun);
    EXPECT_EQ(p.s->UpdateRateMs, 100);
    EXPECT_EQ(p.s->OptionP, 0);
    EXPECT_EQ(p.s->DebugMask, 0);
    EXPECT_EQ(p.s->SteeringMode, 0);
    EXPECT_EQ(p.s->AntennaEnable, -1);
    EXPECT_EQ(p.s->TestMode, 0);
    EXPECT_EQ(p.s->MSwitch, 0x0804010A);
    EXPECT_EQ(p.s->SLimit, 50);
    EXPECT_EQ(p.s->WLimit, 10);
    EXPECT_EQ(p.s->CycleRateMs, 4000);
    EXPECT_EQ(p.s->BiDirectionalSpi, 0);
    EXPECT_EQ(p.s->AntennaChainConfig, 0x302);
    EXPECT_EQ(p.s->RemoteUdpAddress, 0u);
    EXPECT_EQ(p.s->Verbosity.load(), 0);
    EXPECT_EQ(p.s->OptionZ + p.s->FillTxRateFromRx + p.s->ForceLoad + p.s->UseAverageCsi, 0);
    EXPECT_STREQ(name_, "");
}

TEST_F(OptionsTest, TheServiceCommandLine) {
    Parsed p = Parse({"-a", "3", "-n", "515", "-o", "134349066", "-r", "250"});
    ASSERT_EQ(p.outcome, ParseOutcome::kRun);
    EXPECT_EQ(p.s->SteeringMode, 3);
    EXPECT_EQ(p.s->AntennaChainConfig, 0x203);
    EXPECT_EQ(p.s->MSwitch, 0x0802010A);
    EXPECT_EQ(p.s->UpdateRateMs, 250);
}

TEST_F(OptionsTest, EveryNumericOptionReachesItsSetting) {
    Parsed p = Parse({"-p1", "-m2", "-a3", "-e4", "-t5", "-o6", "-s7", "-w8", "-c9", "-b10", "-n11",
                      "-u012", "-v13", "-r14", "-z", "-g"});
    ASSERT_EQ(p.outcome, ParseOutcome::kRun);
    EXPECT_EQ(p.s->OptionP, 1);
    EXPECT_EQ(p.s->DebugMask, 2);
    EXPECT_EQ(p.s->SteeringMode, 3);
    EXPECT_EQ(p.s->AntennaEnable, 4);
    EXPECT_EQ(p.s->TestMode, 5);
    EXPECT_EQ(p.s->MSwitch, 6);
    EXPECT_EQ(p.s->SLimit, 7);
    EXPECT_EQ(p.s->WLimit, 8);
    EXPECT_EQ(p.s->CycleRateMs, 9);
    EXPECT_EQ(p.s->BiDirectionalSpi, 10);
    EXPECT_EQ(p.s->AntennaChainConfig, 11);
    EXPECT_EQ(p.s->RemoteUdpAddress, 10u);  // leading 0: octal
    EXPECT_EQ(p.s->Verbosity.load(), 13);
    EXPECT_EQ(p.s->UpdateRateMs, 14);
    EXPECT_EQ(p.s->OptionZ, 1);
    EXPECT_EQ(p.s->UseAverageCsi, 1);
}

TEST_F(OptionsTest, ScanningRules) {
    // Attached and separate arguments are the same; flags group.
    EXPECT_EQ(Parse({"-r250"}).s->UpdateRateMs, 250);
    EXPECT_EQ(Parse({"-r", "250"}).s->UpdateRateMs, 250);
    Parsed grouped = Parse({"-fx"});
    EXPECT_EQ(grouped.s->ForceLoad, 1);
    EXPECT_EQ(grouped.s->FillTxRateFromRx, 1);
    // A group may end in an option that takes the rest of the word or the next one.
    Parsed tail = Parse({"-fv", "2"});
    EXPECT_EQ(tail.s->ForceLoad, 1);
    EXPECT_EQ(tail.s->Verbosity.load(), 2);
    // The next word is the argument even when it begins with '-'.
    EXPECT_EQ(Parse({"-t", "-5"}).s->TestMode, -5);
    EXPECT_EQ(Parse({"-v", "-1"}).s->Verbosity.load(), -1);
    // The last of a repeated option wins.
    EXPECT_EQ(Parse({"-a", "1", "-a", "2"}).s->SteeringMode, 2);
    // Parsing stops at the first plain word, at "-" and after "--".
    EXPECT_EQ(Parse({"word", "-v", "3"}).s->Verbosity.load(), 0);
    EXPECT_EQ(Parse({"-", "-v", "3"}).s->Verbosity.load(), 0);
    Parsed dashes = Parse({"-v", "1", "--", "-v", "3"});
    EXPECT_EQ(dashes.outcome, ParseOutcome::kRun);
    EXPECT_EQ(dashes.s->Verbosity.load(), 1);
}

TEST_F(OptionsTest, UsageCases) {
    const std::vector<std::vector<std::string>> usage = {
        {"-h"},
        {"-l"},
        {"-q"},
        {"-r"},
        {"-v", "1", "-r"},
        {"-fh"},
        {"-:"},
        {"-f-"},
        // A negative period would sleep for ever (-1 is INFINITE), a zero
        // one not at all, and a word without digits reads as 0: refused.
        {"-r", "-1"},
        {"-r-100"},
        {"-r", "0"},
        {"-r0"},
        {"-r", "abc"},
        {"-rv"},
        {"-rv", "3"},
        {"-r", " +0"},
    };
    for (const auto& words : usage) {
        std::string line;
        for (auto& w : words) line += w + " ";
        EXPECT_EQ(Parse(words).outcome, ParseOutcome::kUsage) << line;
    }
    // The smallest period there is, and a leading zero that is still decimal.
    EXPECT_EQ(Parse({"-r", "1"}).s->UpdateRateMs, 1);
    EXPECT_EQ(Parse({"-r", "0250"}).s->UpdateRateMs, 250);
}

TEST_F(OptionsTest, TextOptionsStoreAtMost29Characters) {
    const std::string long_name(40, 'x');
    Parsed p = Parse({"-i", long_name, "-d", "SPI-over-a-very-long-name-indeed"});
    ASSERT_EQ(p.outcome, ParseOutcome::kRun);
    EXPECT_EQ(std::string(name_), std::string(29, 'x'));
    EXPECT_STREQ(p.s->DriverInterface, "SPI-over-a-very-long-name-ind");
    EXPECT_STREQ(Parse({"-d", "I2C"}).s->DriverInterface, "I2C");
}

struct DecimalCase {
    const char* text;
    int32_t value;
};

TEST(NumbersTest, DecimalBehavesLikeAtoiWithSaturation) {
    const DecimalCase cases[] = {
        {"250", 250},
        {"  42", 42},
        {"\t-7", -7},
        {"+9", 9},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"-", 0},
        {"0x10", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"2147483648", 2147483647},
        {"3000000000", 2147483647},
        {"99999999999999999999", 2147483647},
        {"-2147483648", INT32_MIN},
        {"-2147483649", INT32_MIN},
        {"- 5", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseDecimal(c.text), c.value) << "\"" << c.text << "\"";
}

struct UnsignedCase {
    const char* text;
    uint32_t value;
};

TEST(NumbersTest, UnsignedAutoBaseBehavesLikeStrtoul) {
    const UnsignedCase cases[] = {
        {"167772161", 0x0A000001},   // 10.0.0.1 in decimal
        {"0x0A000001", 0x0A000001},  // and in hexadecimal
        {"0X0a000001", 0x0A000001},
        {"012", 10},  // octal
        {"09", 0},    // octal stops at 9
        {"0x", 0},
        {"-1", 0xFFFFFFFF},  // a minus wraps
        {"-2", 0xFFFFFFFE},
        {"4294967295", 0xFFFFFFFF},
        {"4294967296", 0xFFFFFFFF},  // overflow saturates
        {"-4294967296", 0xFFFFFFFF},
        {"0xFFFFFFFFF", 0xFFFFFFFF},
        {"  +77", 77},
        {"x1", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseUnsignedAuto(c.text), c.value) << "\"" << c.text << "\"";
    }
}

TEST(ProgramNameTest, OnlyForwardSlashesSeparate) {
    EXPECT_STREQ(ProgramNameOf("/usr/bin/quellix"), "quellix");
    EXPECT_STREQ(ProgramNameOf("quellix.exe"), "quellix.exe");
    EXPECT_STREQ(ProgramNameOf("C:\\Windows\\Halvorn\\quellix.exe"),
                 "C:\\Windows\\Halvorn\\quellix.exe");
    EXPECT_STREQ(ProgramNameOf("C:\\a/b\\quellix.exe"), "b\\quellix.exe");
    EXPECT_STREQ(ProgramNameOf("dir/"), "");
}

}  // namespace
}  // namespace qx
