// The files seam's contract (uninstall/os_files.h) as the uninstaller builds
// on it, run against each half through a rig that lays out files for it: the
// notebook's file model (_sim) and, under Wine, the real file system
// (_win32). Each rig is one file beside this one.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

class FilesRig {
  public:
    virtual ~FilesRig() = default;
    // Runs body with an empty folder at kFilesBase, and takes everything in it
    // away again; returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // Creates a file (and the folders above it) at a path below kFilesBase.
    virtual void AddFile(const std::u16string& path) = 0;
    virtual void AddFolder(const std::u16string& path) = 0;
    // The file below kFilesBase stays open, without delete sharing, until the row ends.
    virtual void HoldOpen(const std::u16string& path) = 0;
    virtual void MakeReadOnly(const std::u16string& path) = 0;
    // Whether the file at a path below kFilesBase is there.
    virtual bool Exists(const std::u16string& path) = 0;
    // The full paths left for the restart during this row, in order.
    virtual std::string AtRestart() = 0;
};

// The test's folder.
constexpr const char16_t* kFilesBase = u"C:\\QuellixContract";

// The half linked into this test.
FilesRig& Rig();

}  // namespace qxtest
