// The files seam's one contract: what the uninstaller's removal of its files
// relies on, the same on every half.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/unit/uninstall/files_contract.h"
#include "tests/support/contract_rows.h"
#include "tests/support/text16.h"
#include "uninstall/os_files.h"

namespace qxtest {
namespace {

using namespace qx::os;

std::u16string Below(const std::u16string& path) {
    return std::u16string(kFilesBase) + u"\\" + path;
}

std::string Delete(const std::u16string& path) {
    return std::to_string(FilesDelete(Below(path).c_str()));
}

// What the Windows directory answers with room for `capacity` units.
std::string WindowsDirectory(size_t capacity) {
    char16_t dir[64] = {};
    const size_t n = FilesWindowsDirectory(capacity == 0 ? nullptr : dir, capacity);
    return n < capacity ? std::to_string(n) + " " + Narrow(dir) : std::to_string(n);
}

TEST(FilesContractTest, EachHalfAnswersAsWindows) {
    FilesRig& rig = Rig();
    const auto there = [&rig](const char16_t* path) {
        return rig.Exists(path) ? " there" : " gone";
    };
    const std::vector<ContractRow> rows = {
        {"the Windows directory", [] { return WindowsDirectory(64); }, "10 C:\\windows"},
        {"a buffer that just fits", [] { return WindowsDirectory(11); }, "10 C:\\windows"},
        {"no buffer, or one unit short: the size with the terminator",
         [] { return WindowsDirectory(0) + " " + WindowsDirectory(10); }, "11 11"},
        {"a file goes",
         [&] {
             rig.AddFile(u"Halvorn\\a.exe");
             std::string out = Delete(u"Halvorn\\a.exe");  // before the look
             return out + there(u"Halvorn\\a.exe");
         },
         "0 gone"},
        {"names case aside",
         [&] {
             rig.AddFile(u"Halvorn\\a.exe");
             std::string out = Delete(u"HALVORN\\A.EXE");  // before the look
             return out + there(u"Halvorn\\a.exe");
         },
         "0 gone"},
        {"a file deleted twice",
         [&] {
             rig.AddFile(u"Halvorn\\a.exe");
             std::string out = Delete(u"Halvorn\\a.exe") + " ";
             return out + Delete(u"Halvorn\\a.exe");
         },
         "0 2"},
        {"no such file", [] { return Delete(u"b.exe"); }, "2"},
        {"no such folder", [] { return Delete(u"Halvorn\\b.exe"); }, "3"},
        {"a folder is not a file",
         [&] {
             rig.AddFolder(u"Halvorn");
             return Delete(u"Halvorn");
         },
         "5"},
        {"a file in use stays",
         [&] {
             rig.AddFile(u"a.exe");
             rig.HoldOpen(u"a.exe");
             std::string out = Delete(u"a.exe");  // before the look
             return out + there(u"a.exe");
         },
         "32 there"},
        {"a read-only file stays",
         [&] {
             rig.AddFile(u"a.exe");
             rig.MakeReadOnly(u"a.exe");
             std::string out = Delete(u"a.exe");  // before the look
             return out + there(u"a.exe");
         },
         "5 there"},
        {"left for the restart, in order, and there until then",
         [&] {
             rig.AddFile(u"a.inf");
             rig.AddFile(u"b.exe");
             FilesDeleteAtRestart(Below(u"b.exe").c_str());
             FilesDeleteAtRestart(Below(u"a.inf").c_str());
             std::string out = rig.AtRestart();
             out += there(u"a.inf");
             return out + there(u"b.exe");
         },
         "C:\\QuellixContract\\b.exe C:\\QuellixContract\\a.inf there there"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
