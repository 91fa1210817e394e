// Runs the real daemon as a process of its own on the virtual notebook,
// with a scenario, and brings back its output and what the controller saw.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace qxtest {

struct ReportSeen {
    int64_t at_ms;
    uint8_t flags;
    uint16_t traffic;
    uint8_t rssi0;
    uint8_t rssi1;
};

struct DaemonRun {
    ChildResult child;
    std::string out;  // the daemon's standard output
    std::vector<ReportSeen> reports;
    int setups = 0;
    int disables = 0;
    int enables = 0;
    int rejected = 0;
    int bus_errors = 0;
    int64_t end_ms = -1;  // virtual time at exit
    int exit_code = -1;   // the full exit code the daemon gave ExitProcess

    // Lines of out that contain text.
    int Count(const std::string& text) const;
    // Virtual time of the first report at or after t, or -1.
    int64_t FirstReportAfter(int64_t t) const;
};

// args are the daemon's options (without argv[0]). setup runs in the child
// before the daemon starts, after the notebook was reset to its defaults. A
// child still running after timeout_seconds of wall time is killed.
DaemonRun RunDaemon(const std::vector<std::string>& args, const std::string& scenario,
                    const std::function<void()>& setup = {}, int timeout_seconds = 60);

}  // namespace qxtest
