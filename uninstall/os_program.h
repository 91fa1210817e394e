// OS seam of the uninstaller: its own process, its console and the programs
// it runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qx::os {

// GetModuleHandleW(NULL) answered.
bool ProgramHasModule();
// Hides the console window, if the process has one.
void ProgramHideConsole();
// Writes UTF-16 text to standard output as printf's %ls would, and flushes.
void ProgramPrint(const char16_t* text);
// GetSystemDirectoryW: the length without terminator; 0 on failure, the size
// needed (>= capacity) when it does not fit.
size_t ProgramSystemDirectory(char16_t* out, size_t capacity);
// CreateProcessW of the program file `application` (a full path: nothing is
// searched) with the command line (a writable copy), waits for the end and
// returns 0 with the exit code in *exit_code, or the error of the start.
// `hidden` starts it without a console window.
uint32_t ProgramRunAndWait(const char16_t* application, const char16_t* command_line, bool hidden,
                           uint32_t* exit_code);

}  // namespace qx::os
