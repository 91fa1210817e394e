#include "common/win/win32.h"

#include "uninstall/os_files.h"

namespace qx::os {

size_t FilesWindowsDirectory(char16_t* out, size_t capacity) {
    return ::GetWindowsDirectoryW(win::W(out), static_cast<UINT>(capacity));
}

int32_t FilesDelete(const char16_t* path) {
    return ::DeleteFileW(win::W(path)) ? 0 : static_cast<int32_t>(::GetLastError());
}

void FilesDeleteAtRestart(const char16_t* path) {
    ::MoveFileExW(win::W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace qx::os
