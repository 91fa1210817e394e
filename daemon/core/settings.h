// Reading the daemon's settings from its command line; the record itself,
// DaemonSettingsT, and its one instance are in daemon/base/daemon_state.h.
#pragma once

#include <cstdint>

#include "daemon/base/daemon_state.h"

namespace qx {

constexpr const char* kOptionString = "i:d:r:p:m:a:e:t:o:s:w:c:b:n:u:v:zxfgh";
// -i and -d copy their argument with this limit, terminating zero included.
constexpr int kTextOptionLimit = 30;

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
