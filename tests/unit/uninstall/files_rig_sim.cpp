// The contract's rig on the virtual notebook (os_files_sim.cpp): the file
// model, emptied for each row. The model has no handles: a file in use or
// read-only is one whose deletion answers what Windows answers for it.
#include <gtest/gtest.h>

#include "sim/file_model.h"
#include "sim/notebook.h"
#include "tests/unit/uninstall/files_contract.h"

namespace qxtest {
namespace {

std::u16string Below(const std::u16string& path) {
    return std::u16string(kFilesBase) + u"\\" + path;
}

qxsim::FileModel& Files() {
    return qxsim::Notebook::Current().Files();
}

class SimRig : public FilesRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        Files().Reset();
        Files().AddFolder(kFilesBase);
        return body();
    }
    void AddFile(const std::u16string& path) override { Files().AddFile(Below(path)); }
    void AddFolder(const std::u16string& path) override { Files().AddFolder(Below(path)); }
    void HoldOpen(const std::u16string& path) override {
        Files().SetDeleteError(Below(path), 32);  // ERROR_SHARING_VIOLATION
    }
    void MakeReadOnly(const std::u16string& path) override {
        Files().SetDeleteError(Below(path), 5);  // ERROR_ACCESS_DENIED
    }
    bool Exists(const std::u16string& path) override { return Files().Exists(Below(path)); }
    std::string AtRestart() override {
        std::string out;
        for (const auto& path : Files().AtRestart()) {
            if (!out.empty()) out += " ";
            for (char16_t c : path) out += static_cast<char>(c);
        }
        return out;
    }
};

}  // namespace

FilesRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
