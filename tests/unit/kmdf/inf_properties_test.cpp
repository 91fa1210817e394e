// The INF reader against Windows' own rules: the install section Windows on
// x64 takes, string substitution, quoting, comments, continued lines, the
// encodings; and every INF it cannot read is an error, never a quiet default.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "kmdf/inf/inf_properties.h"

namespace {

using kmdfsim::InfDeviceProperties;

constexpr char kSy[] = "D:P(A;;GA;;;SY)";

// Text as the WDK's tools write an INF: UTF-16 LE after its byte-order mark.
std::string Utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

TEST(InfPropertiesTest, ReadsTheHardwareSectionAsWindowsDoes) {
    struct Case {
        const char* name;
        std::string inf;
        const char* error;  // part of the error; nullptr: it reads
        const char* security;
        bool exclusive;
        uint32_t characteristics;
    };
    const std::string sy_wd =
        "[SY]\nHKR,,Security,,\"D:P(A;;GA;;;SY)\"\n[WD]\nHKR,,Security,,\"D:P(A;;GA;;;WD)\"\n";
    const Case cases[] = {
        {"the .ntamd64 install section wins over .nt",
         "[D.NT]\n[D.NTamd64]\n[D.NT.HW]\nAddReg=WD\n[D.NTamd64.HW]\nAddReg=SY\n" + sy_wd, nullptr,
         kSy, false, 0},
        {"without install sections, the .ntamd64 hardware section wins",
         "[D.HW]\nAddReg=WD\n[D.NTamd64.HW]\nAddReg=SY\n[D.nt.hw]\nAddReg=WD\n" + sy_wd, nullptr,
         kSy, false, 0},
        {"the install section taken has no .HW: the .nt one is not read",
         "[D.NT]\n[D.NTamd64]\n[D.NT.HW]\nAddReg=WD\n" + sy_wd, nullptr, "", false, 0},
        {"another architecture's hardware section is not read",
         "[D.NTarm64.HW]\nAddReg=WD\n" + sy_wd, nullptr, "", false, 0},
        {"%strkey% from the Strings section, keys in any case",
         "[D.HW]\nAddReg=%Reg%\n[R]\nHKR,,Security,,%SDDL%\n"
         "HKR,,DeviceCharacteristics,0x10001,%secure%\n"
         "[Strings]\nreg = R\nsddl = \"D:P(A;;GA;;;SY)\"  ; who may open it\nSECURE=0x100\n",
         nullptr, kSy, false, 0x100},
        {"%% is one percent sign, %12% a folder id",
         "[D.HW]\nAddReg=R\n[R]\nHKR,,Security,,\"100%% %12%\\x\"\n", nullptr, "100% %12%\\x",
         false, 0},
        {"the en-US strings win, then the language's, then the undecorated ones",
         "[D.HW]\nAddReg=R\n[R]\nHKR,,Security,,%S%\n[Strings]\nS=WD\n[Strings.0407]\nS=DE\n"
         "[Strings.0809]\nS=GB\n[Strings.0409]\nS=US\n",
         nullptr, "US", false, 0},
        {"an English one before the undecorated ones",
         "[D.HW]\nAddReg=R\n[R]\nHKR,,Security,,%S%\n[Strings]\nS=WD\n[Strings.0809]\nS=GB\n",
         nullptr, "GB", false, 0},
        {"continued lines, a comment after the backslash; a backslash in quotes is text",
         "[D.HW]\nAddReg = R, \\\n   X\n"
         "[R]\nHKR,,Security,,\"D:P(A;;GA;;;SY)\\\"\n"
         "[X]\nHKR,,Exclusive,0x10001,\\ ; the value follows\n1\n",
         nullptr, "D:P(A;;GA;;;SY)\\", true, 0},
        {"quotes keep blanks and commas; \"\" is a quote; CR LF and lone CR end lines",
         "[D.HW]\r\nAddReg=R\r[R]\r\nHKR, , \"Security\" ,, \" a, \"\"b\"\"; c \" \r\n", nullptr,
         " a, \"b\"; c ", false, 0},
        {"only 1 makes the device exclusive; no-clobber keeps an earlier value",
         "[D.HW]\nAddReg=R,S\n[R]\nHKR,,Exclusive,0x10001,2\n"
         "[S]\nHKR,,DeviceCharacteristics,0x10001,1\nHKR,,DeviceCharacteristics,0x10003,0x100\n"
         "HKLM,Software\\X,Exclusive,0x10001,1\n",
         nullptr, "", false, 1},
        {"an undefined %strkey%", "[D.HW]\nAddReg=R\n[R]\nHKR,,Security,,%Nope%\n",
         "line 4: %Nope% is not defined in the Strings section: HKR,,Security,,%Nope%", "", false,
         0},
        {"a lone %", "[D.HW]\nAddReg=R%\n", "line 2: a lone %", "", false, 0},
        {"a quote left open", "[D.HW]\nAddReg=R\n[R]\nHKR,,Security,,\"D:P(\n",
         "line 4: a quoted string is not closed", "", false, 0},
        {"a section name without its ]", "[D.HW\nAddReg=R\n", "line 1: a section name without", "",
         false, 0},
        {"characteristics an INF cannot give",
         "[D.HW]\nAddReg=R\n[R]\nHKR,,DeviceCharacteristics,0x10001,0x200\n",
         "DeviceCharacteristics an INF cannot give", "", false, 0},
        {"characteristics as a string",
         "[D.HW]\nAddReg=R\n[R]\nHKR,,DeviceCharacteristics,,0x100\n",
         "DeviceCharacteristics is not a DWORD value", "", false, 0},
        {"a flag this reader does not model", "[D.HW]\nAddReg=R\n[R]\nHKR,,Security,0x4,\"D:\"\n",
         "Security with flags other than its type and no-clobber", "", false, 0},
        {"Include and Needs read other INFs",
         "[D.HW]\nInclude=machine.inf\nNeeds=PciIoSpaceNotRequired\n",
         "has the directive include, which this reader does not follow", "", false, 0},
        {"not a registry root", "[D.HW]\nAddReg=R\n[R]\nHKX,,Security,,\"D:\"\n",
         "line 4: not a registry root", "", false, 0},
        {"UTF-16 LE with its byte-order mark",
         Utf16("[D.HW]\r\nAddReg=R\r\n[R]\r\nHKR,,Exclusive,0x10001,1\r\n"), nullptr, "", true, 0},
        {"a character beyond the BMP in a comment",
         Utf16("[D.HW]\n; ") + std::string("\x3D\xD8\x00\xDE", 4) +
             Utf16("\nAddReg=R\n[R]\nHKR,,Exclusive,0x10001,1\n").substr(2),
         nullptr, "", true, 0},
        {"half a surrogate pair", Utf16("; ") + std::string("\x00\xDE", 2),
         "half a UTF-16 surrogate pair at byte 6", "", false, 0},
        {"a zero character", Utf16("[D.HW]\n") + std::string("\0\0", 2),
         "a zero character at byte 16", "", false, 0},
        {"UTF-16 without its byte-order mark", Utf16("[D.HW]\n").substr(2),
         "a zero byte at byte 1 (UTF-16 without its byte-order mark?)", "", false, 0},
        {"UTF-16 big-endian", "\xFE\xFF", "UTF-16 big-endian", "", false, 0},
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF[D.HW]\n",
         "UTF-8 text with a byte-order mark", "", false, 0},
    };
    for (const Case& c : cases) {
        InfDeviceProperties p;
        std::string error;
        const bool ok = kmdfsim::DevicePropertiesFromInfBytes(c.inf, &p, &error);
        if (c.error != nullptr) {
            EXPECT_FALSE(ok) << c.name;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
            continue;
        }
        ASSERT_TRUE(ok) << c.name << ": " << error;
        EXPECT_EQ(p.device.security, c.security) << c.name;
        EXPECT_EQ(p.device.exclusive, c.exclusive) << c.name;
        EXPECT_EQ(p.device_characteristics, c.characteristics) << c.name;
    }
}

// The driver's INF saved as the WDK's tools write it reads the same, and a
// path that is no INF fails with its name.
TEST(InfPropertiesTest, TheDriverInfInUtf16AndPathsThatAreNoInf) {
    std::ifstream in(kmdfsim::VeltraneInfPath(), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    InfDeviceProperties ansi, utf16;
    std::string error;
    ASSERT_TRUE(kmdfsim::DevicePropertiesFromInf(kmdfsim::VeltraneInfPath(), &ansi, &error))
        << error;
    const std::string path = testing::TempDir() + "QXVeltrane-utf16.inf";
    {
        std::ofstream out(path, std::ios::binary);
        out << Utf16(text.str());
    }
    ASSERT_TRUE(kmdfsim::DevicePropertiesFromInf(path, &utf16, &error)) << error;
    EXPECT_EQ(utf16.device.security, ansi.device.security);
    EXPECT_EQ(utf16.device.exclusive, ansi.device.exclusive);
    EXPECT_EQ(utf16.device_characteristics, ansi.device_characteristics);
    unlink(path.c_str());

    const std::string dir = testing::TempDir();
    EXPECT_FALSE(kmdfsim::DevicePropertiesFromInf(dir, &utf16, &error));
    EXPECT_EQ(error, dir + " is a directory, not an INF");
    EXPECT_FALSE(kmdfsim::DevicePropertiesFromInf("/no/such.inf", &utf16, &error));
    EXPECT_EQ(error, "cannot read /no/such.inf: No such file or directory");
}

}  // namespace
