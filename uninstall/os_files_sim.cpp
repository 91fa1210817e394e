#include <cstring>

#include "sim/file_model.h"
#include "uninstall/os_files.h"
#include "sim/notebook.h"

namespace qx::os {

size_t FilesWindowsDirectory(char16_t* out, size_t capacity) {
    const std::u16string dir = qxsim::Notebook::Current().Files().WindowsDirectory();
    // As GetWindowsDirectoryW: the size needed, terminator included, when it
    // does not fit.
    if (dir.size() + 1 > capacity) return dir.size() + 1;
    std::memcpy(out, dir.c_str(), (dir.size() + 1) * sizeof(char16_t));
    return dir.size();
}

int32_t FilesDelete(const char16_t* path) {
    return qxsim::Notebook::Current().Files().Delete(path);
}

void FilesDeleteAtRestart(const char16_t* path) {
    qxsim::Notebook::Current().Files().DeleteAtRestart(path);
}

}  // namespace qx::os
