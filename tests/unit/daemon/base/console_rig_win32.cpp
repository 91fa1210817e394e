// The contract's console rig under Wine (os_console_win32.cpp): the child
// takes a console of its own, its output still going to the pipe, and raises
// the event on it. Wine delivers Ctrl+C so. GenerateConsoleCtrlEvent with
// CTRL_BREAK_EVENT fails under Wine, where Windows delivers it to the
// process group, and Wine's default handler ends the process with 0 where
// Windows' ends it with STATUS_CONTROL_C_EXIT: those rows are the
// notebook's alone.
#include "common/win/win32.h"

#include <gtest/gtest.h>

#include "tests/unit/daemon/base/console_contract.h"

namespace qxtest {

bool Can(Needs n) {
    return n == Needs::kCtrlC;
}

void Prepare() {
    FreeConsole();
    if (!AllocConsole()) ADD_FAILURE() << "AllocConsole: " << GetLastError();
}

void Raise(uint32_t ctrl_type) {
    if (!GenerateConsoleCtrlEvent(ctrl_type, 0))
        ADD_FAILURE() << "GenerateConsoleCtrlEvent: " << GetLastError();
}

}  // namespace qxtest
