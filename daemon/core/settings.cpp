#include "daemon/core/settings.h"

#include <cstring>

#include "daemon/base/getopt.h"
#include "daemon/base/numbers.h"
#include "daemon/base/os_process.h"

namespace qx {

namespace {
// Copies at most kTextOptionLimit - 1 characters and terminates; a longer
// argument is cut there.
void CopyTextOption(char* dest, const char* text) {
    size_t n = std::strlen(text);
    if (n > kTextOptionLimit - 1) n = kTextOptionLimit - 1;
    std::memcpy(dest, text, n);
    dest[n] = '\0';
}
}  // namespace

ParseOutcome ParseDaemonOptions(int argc, char* const* argv, DaemonSettingsT& s) {
    OptionScanner scanner{argc, argv, kOptionString};
    for (;;) {
        const int c = NextOption(scanner);
        if (c == kOptionsEnd) return ParseOutcome::kRun;
        const char* a = scanner.arg;
        switch (c) {
            case 'i':
                CopyTextOption(s.InterfaceName, a);
                break;
            case 'd':
                CopyTextOption(s.DriverInterface, a);
                break;
            case 'r':
                s.UpdateRateMs = ParseDecimal(a);
                // A negative period would make the worker sleep for ever
                // (-1 is INFINITE) or for weeks, and 0 (also what a word
                // without digits reads as: "-r abc", "-rv") would make it cycle
                // without sleeping, flooding the bus with reports and burning
                // a core: refuse both like a bad option.
                if (s.UpdateRateMs <= 0) return ParseOutcome::kUsage;
                break;
            case 'p':
                s.OptionP = ParseDecimal(a);
                break;
            case 'm':
                s.DebugMask = ParseDecimal(a);
                break;
            case 'a':
                s.SteeringMode = ParseDecimal(a);
                break;
            case 'e':
                s.AntennaEnable = ParseDecimal(a);
                break;
            case 't':
                s.TestMode = ParseDecimal(a);
                break;
            case 'o':
                s.MSwitch = ParseDecimal(a);
                break;
            case 's':
                s.SLimit = ParseDecimal(a);
                break;
            case 'w':
                s.WLimit = ParseDecimal(a);
                break;
            case 'c':
                s.CycleRateMs = ParseDecimal(a);
                break;
            case 'b':
                s.BiDirectionalSpi = ParseDecimal(a);
                break;
            case 'n':
                s.AntennaChainConfig = ParseDecimal(a);
                break;
            case 'u':
                s.RemoteUdpAddress = ParseUnsignedAuto(a);
                break;
            case 'v':
                s.Verbosity.store(ParseDecimal(a), std::memory_order_relaxed);
                break;
            case 'z':
                s.OptionZ = 1;
                break;
            case 'x':
                s.FillTxRateFromRx = 1;
                break;
            case 'f':
                s.ForceLoad = 1;
                break;
            case 'g':
                s.UseAverageCsi = 1;
                break;
            default:
                return ParseOutcome::kUsage;  // -h, '?' and anything unlisted
        }
    }
}

const char* ProgramNameOf(const char* argv0) {
    const char* slash = std::strrchr(argv0, '/');
    return slash != nullptr ? slash + 1 : argv0;
}

void PrintUsage(const char* program_name) {
    os::StdoutPrintf("\nUsage: %s [OPTIONS] ... \n", program_name);
    static const char* const kLines[] = {
        "\n\tOPTIONS:\n\n",
        "\t-i interface net interface for steering (e.g. wifi0 / MAC addr for Windows).\n",
        "\t-d driver    driver interface.\n",
        "\t-r <num>     update rate in milliseconds.\n",
        "\t-l           idle latency multiplier.\n",
        "\t-m <num>     debug mask.\n",
        "\t-a <num>     vt mode.\n",
        "\t-e <num>     antenna enable signal.\n",
        "\t-t <num>     test mode.\n",
        "\t-o <num>     mswitch.\n",
        "\t-s <num>     slimit.\n",
        "\t-w <num>     wlimit.\n",
        "\t-c <num>     cycle rate in ms (default 4000).\n",
        "\t-b <num>     bi-directional spi interface.\n",
        "\t-n <num>     antenna chain config.\n",
        "\t-x           fill tx rate with rx data for broken drivers.\n",
        "\t-f           force load / ignore micro errors\n",
        "\t-u <num>     remote udp ip specified as net long (def is 0).\n",
        "\t-g           use average CSI.\n",
        "\t-v <level>   verbosity.\n",
        "\t-h           show this message.\n",
        "\n\n",
    };
    for (const char* line : kLines) os::StdoutPrintf("%s", line);
}

}  // namespace qx
