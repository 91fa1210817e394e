#include "common/win/win32.h"

#include <cstdio>
#include <cstring>

#include "uninstall/os_program.h"

namespace qx::os {

static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW of 64-bit Windows");

bool ProgramHasModule() {
    return ::GetModuleHandleW(nullptr) != nullptr;
}

void ProgramHideConsole() {
    HWND console = ::GetConsoleWindow();
    if (console != nullptr) ::ShowWindow(console, SW_HIDE);
}

void ProgramPrint(const char16_t* text) {
    std::printf("%ls", win::W(text));
    std::fflush(stdout);
}

size_t ProgramSystemDirectory(char16_t* out, size_t capacity) {
    return ::GetSystemDirectoryW(win::W(out), static_cast<UINT>(capacity));
}

uint32_t ProgramRunAndWait(const char16_t* application, const char16_t* command_line, bool hidden,
                           uint32_t* exit_code) {
    // CreateProcessW may write into the command line, so it gets a copy.
    size_t units = 0;
    while (command_line[units] != 0) ++units;
    wchar_t copy[MAX_PATH + 64];
    if (units >= sizeof copy / sizeof copy[0]) return ERROR_BUFFER_OVERFLOW;
    std::memcpy(copy, command_line, (units + 1) * sizeof(wchar_t));
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    win::UniqueProcessInformation process;
    const DWORD flags = hidden ? CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS;
    if (!::CreateProcessW(win::W(application), copy, nullptr, nullptr, FALSE, flags, nullptr,
                          nullptr, &startup, process.put())) {
        return ::GetLastError();
    }
    ::WaitForSingleObject(process.get().hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process.get().hProcess, &code);
    *exit_code = code;
    return 0;
}

}  // namespace qx::os
