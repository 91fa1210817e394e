#include <cstring>
#include <string>

#include "sim/console_model.h"
#include "sim/file_model.h"
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

size_t ProgramSystemDirectory(char16_t* out, size_t capacity) {
    const std::u16string dir = qxsim::Notebook::Current().Files().SystemDirectory();
    // As GetSystemDirectoryW: the size needed, terminator included, when it
    // does not fit.
    if (dir.size() + 1 > capacity) return dir.size() + 1;
    std::memcpy(out, dir.c_str(), (dir.size() + 1) * sizeof(char16_t));
    return dir.size();
}

uint32_t ProgramRunAndWait(const char16_t* application, const char16_t* command_line, bool,
                           uint32_t* exit_code) {
    auto& processes = qxsim::Notebook::Current().Processes();
    uint32_t error = 0;
    const uintptr_t child = processes.Start(application, command_line, false, &error);
    if (child == 0) return error;
    processes.Wait(child, qxsim::kInfinite);
    processes.ExitCode(child, exit_code);
    processes.Close(child);
    return 0;
}

}  // namespace qx::os
