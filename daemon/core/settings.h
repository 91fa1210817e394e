// The daemon's settings, read from its command line; the process's one
// instance, DaemonSettings, is in daemon_state.h.
#pragma once

#include <atomic>
#include <cstdint>

namespace qx {

constexpr const char* kOptionString = "i:d:r:p:m:a:e:t:o:s:w:c:b:n:u:v:zxfgh";
constexpr int kInterfaceNameSize = 256;
constexpr int kDriverInterfaceSize = 32;
// -i and -d copy their argument with this limit, terminating zero included.
constexpr int kTextOptionLimit = 30;

struct DaemonSettingsT {
    char* InterfaceName = nullptr;  // 256-byte buffer allocated by main
    char DriverInterface[kDriverInterfaceSize] = {};
    int32_t UpdateRateMs = 100;
    int32_t OptionP = 0;
    int32_t DebugMask = 0;
    int32_t SteeringMode = 0;
    int32_t AntennaEnable = -1;
    int32_t TestMode = 0;
    int32_t MSwitch = 134480138;  // 0x0804010A
    int32_t SLimit = 50;
    int32_t WLimit = 10;
    int32_t CycleRateMs = 4000;
    int32_t BiDirectionalSpi = 0;
    int32_t AntennaChainConfig = 770;  // 0x302
    uint32_t RemoteUdpAddress = 0;
    // Read by every thread that logs, the console handler among them, which
    // may run while main still parses: atomic, same width, relaxed.
    std::atomic<int32_t> Verbosity{0};
    uint8_t OptionZ = 0;
    uint8_t FillTxRateFromRx = 0;
    uint8_t ForceLoad = 0;
    uint8_t UseAverageCsi = 0;
};

// Not settable: the usage text lists -l, but 'l' is not an option letter.
constexpr int32_t IdleLatencyMultiplier = 4;
// First field of the controller configuration; the cycle steers only while it is 1.
constexpr int32_t ControllerMode = 1;

enum class ParseOutcome {
    kRun,    // settings read; go on
    kUsage,  // -h, an unknown letter, a missing or unusable argument
};

// Reads the options into settings (only the fields the options name; the
// InterfaceName buffer must be allocated). Stops at the first non-option.
ParseOutcome ParseDaemonOptions(int argc, char* const* argv, DaemonSettingsT& settings);

// The part of argv[0] after its last '/', or all of it.
const char* ProgramNameOf(const char* argv0);

// Writes the usage text with the program name.
void PrintUsage(const char* program_name);

}  // namespace qx
