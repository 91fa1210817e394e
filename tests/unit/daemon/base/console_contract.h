// The console seam's contract (daemon/base/os_console.h) as the daemon's
// shutdown builds on it. The handler is one per process and the default
// handler ends the process, so each row is a process of its own, run through
// the process contract's rig (process_contract.h); a rig per half beside this
// file raises the events: the notebook's console model (_sim) and, under
// Wine, a console of the child's own (_win32).
#pragma once

#include <cstdint>

namespace qxtest {

// What a row needs of a half.
enum class Needs {
    kCtrlC,            // Ctrl+C can be raised
    kCtrlBreak,        // Ctrl+Break can be raised
    kDefaultExitCode,  // the default handler ends the process as Windows does
};
bool Can(Needs n);
// Readies this process to be sent console events; before the handler is
// installed, since taking a console resets the handlers on Windows.
void Prepare();
// Raises the event for this process, as the console does.
void Raise(uint32_t ctrl_type);

}  // namespace qxtest
