// The process seam's contract (daemon/base/os_process.h) as the daemon builds
// on it: its output, its exit and its heap. Each row runs as a process of its
// own with standard output to a pipe, through a rig per half: a forked child
// on the notebook (_sim) and, under Wine, this test started again as a child
// (_win32). Each rig is one file beside this one; the console seam's
// contract runs its rows through the same rigs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qxtest {

struct Ended {
    uint32_t exit_code = 0;  // whole, as GetExitCodeProcess answers it
    std::string out;         // standard output
};

class ProcessRig {
  public:
    virtual ~ProcessRig() = default;
    // Runs body, row `row` of the table, in a process of its own; a body that
    // returns ends it with 0.
    virtual Ended RunAlone(int row, const std::function<void()>& body) = 0;
};

// The half linked into this test.
ProcessRig& Rig();

// In the child the win32 rig starts: the row to run, or -1 in the test itself.
int ChildRow();

}  // namespace qxtest
