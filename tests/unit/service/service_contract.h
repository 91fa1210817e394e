// The service host's OS seam (service/os_service.h) as the service builds on
// it, run against each half through a rig that provides the daemon's stand-in:
// the notebook's service manager and process models (_sim) and, under Wine,
// this test's own executable started again as the child (_win32). Each rig is
// one file beside this one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qxtest {

class ServiceRig {
  public:
    virtual ~ServiceRig() = default;
    // Runs body outside the service manager, as a program started from a
    // console is, and checks that it left no child or handle behind; returns
    // what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // The full path of the stand-in daemon, and its file name alone (which is
    // not in the current directory).
    virtual std::u16string Program() = 0;
    virtual std::u16string ProgramName() = 0;
    // The command line of a stand-in that, once it runs, leaves a mark and
    // then ends at once with exit_code, or runs until it is ended when
    // exit_code is negative.
    virtual std::u16string CommandLine(int exit_code) = 0;
    // True when the last stand-in started has left its mark within ms.
    virtual bool Ran(uint32_t ms) = 0;
    // GetExitCodeProcess of the last stand-in that ran, whose handle is still open.
    virtual uint32_t ExitCode() = 0;
    // True for a row whose point this half is known to answer otherwise than
    // Windows (the rig says why).
    virtual bool LeavesOut(const char* /*row*/) { return false; }
};

// The row on what a cut module path holds.
constexpr const char* kCutPathRow = "a module path cut a unit short keeps its start, terminated";

// The half linked into this test.
ServiceRig& Rig();

}  // namespace qxtest
