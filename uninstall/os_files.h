// OS seam of the uninstaller: the installed files.
//
// On Windows GetWindowsDirectoryW, DeleteFileW and MoveFileExW; on the
// virtual notebook the file model (sim/file_model.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qx::os {

// GetWindowsDirectoryW: the length without terminator; 0 on failure, the
// size needed (>= capacity) when it does not fit.
size_t FilesWindowsDirectory(char16_t* out, size_t capacity);
// DeleteFileW: 0 or the Win32 error.
int32_t FilesDelete(const char16_t* path);
// MoveFileExW(path, no destination, MOVEFILE_DELAY_UNTIL_REBOOT).
void FilesDeleteAtRestart(const char16_t* path);

}  // namespace qx::os
