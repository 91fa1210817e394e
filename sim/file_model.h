// The virtual notebook's files, as far as an uninstaller and CreateProcessW's
// search for a program meet them: which files and folders exist, what
// deleting one answers, and what is left for the next restart. Paths compare
// without regard to ASCII case, as on Windows. A folder exists once a file or
// folder was added in it, and stays when its files go, as a real one does.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace qxsim {

class FileModel {
  public:
    friend class Notebook;  // builds the one instance

    // No files, "C:\windows" (with system32) as the Windows directory, nothing
    // recorded.
    void Reset();

    void SetWindowsDirectory(const std::u16string& path);
    std::u16string WindowsDirectory();
    // "system32" in the Windows directory (GetSystemDirectoryW).
    std::u16string SystemDirectory();
    // A file, and every folder above it.
    void AddFile(const std::u16string& path);
    // A folder, and every folder above it.
    void AddFolder(const std::u16string& path);
    bool Exists(const std::u16string& path);
    // DeleteFileW answers this code for the path (32: in use, 5: denied, ...).
    void SetDeleteError(const std::u16string& path, int32_t code);

    // DeleteFileW: 0, the error set for the path, 5 for a folder, 3 when the
    // folder it names is missing, or 2 when there is no such file.
    int32_t Delete(const std::u16string& path);
    // MoveFileExW(path, NULL, MOVEFILE_DELAY_UNTIL_REBOOT).
    void DeleteAtRestart(const std::u16string& path);

    // Every DeleteFileW path, and every path left for the restart, in order.
    std::vector<std::u16string> DeleteCalls();
    std::vector<std::u16string> AtRestart();

  private:
    // The folder a folded path names, and every one above it.
    void AddFoldersLocked(std::u16string folder);

    std::mutex m_;
    std::u16string windows_dir_ = u"C:\\windows";
    std::map<std::u16string, bool> files_;  // by folded path
    std::set<std::u16string> folders_;      // by folded path
    std::map<std::u16string, int32_t> errors_;
    std::vector<std::u16string> delete_calls_;
    std::vector<std::u16string> at_restart_;
};

}  // namespace qxsim
