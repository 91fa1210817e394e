#include <string>

#include "sim/console_model.h"
#include "sim/process_model.h"
#include "uninstall/os_program.h"
#include "sim/notebook.h"

namespace qx::os {

bool ProgramHasModule() {
    return true;
}

void ProgramHideConsole() {
    // The virtual notebook's console has no window to hide.
}

void ProgramPrint(const char16_t* text) {
    // The virtual console is 8-bit: units beyond ASCII show as '?'.
    std::string out;
    for (const char16_t* p = text; *p != 0; ++p) {
        out.push_back(*p > 0x7F ? '?' : static_cast<char>(*p));
    }
    qxsim::Notebook::Current().Console().Write(out.data(), out.size());
}

uint32_t ProgramRunAndWait(const char16_t* command_line, bool, uint32_t* exit_code) {
    auto& processes = qxsim::Notebook::Current().Processes();
    uint32_t error = 0;
    const uintptr_t child = processes.Start(command_line, &error);
    if (child == 0) return error;
    processes.Wait(child, qxsim::kInfinite);
    processes.ExitCode(child, exit_code);
    processes.Close(child);
    return 0;
}

}  // namespace qx::os
