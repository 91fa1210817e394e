// Runs a piece of the simulated process in a forked child, the way the
// daemon runs as a process of its own: whatever it writes to standard output
// and its exit code come back to the test, and ExitProcess really ends it.
// Scenarios that only want fresh simulated state run in this process instead.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

struct ChildResult {
    int exit_code = -1;  // low 8 bits of the exit code; -1 when killed
    int signal = 0;      // the signal that killed the child, if any
    std::string out;     // standard output
};

// body runs in the child; if it returns, the child exits with 0.
ChildResult RunInChild(const std::function<void()>& body, int timeout_seconds = 60);

// body runs here, on the notebook reset to power-on state, with standard
// output captured: for a scenario that only needs fresh simulated state and
// neither ends the process nor leaves a virtual thread behind. A thread left
// running is reported on standard error and gives exit code 3, and the
// notebook is reset again so that the next scenario starts clean.
ChildResult RunOnFreshNotebook(const std::function<void()>& body);

// A seam contract's row on a fresh notebook: the text body returned and
// printed, or "exit 3: " before it when the row left a virtual thread running.
std::string RunRowOnFreshNotebook(const std::function<std::string()>& body);

}  // namespace qxtest

namespace qxtest {
// printf straight to file descriptor 1, unbuffered, so that a test's own lines
// keep their place among the simulated process's output.
void Print(const char* format, ...) __attribute__((format(printf, 1, 2)));
}  // namespace qxtest
