// The program seam's one contract: what the uninstaller's start of msiexec
// and its own checks rely on, the same on every half.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/unit/uninstall/program_contract.h"
#include "tests/support/contract_rows.h"
#include "tests/support/text16.h"
#include "uninstall/os_program.h"

namespace qxtest {
namespace {

using namespace qx::os;

// What the system directory answers with room for `capacity` units.
std::string SystemDirectory(size_t capacity) {
    char16_t dir[64] = {};
    const size_t n = ProgramSystemDirectory(capacity == 0 ? nullptr : dir, capacity);
    return n < capacity ? std::to_string(n) + " " + Narrow(dir) : std::to_string(n);
}

std::string RunAndWait(const std::u16string& program, const char16_t* command_line, bool hidden) {
    uint32_t exit_code = 0xDEAD;
    const uint32_t rc = ProgramRunAndWait(program.c_str(), command_line, hidden, &exit_code);
    return rc != 0 ? std::to_string(rc) : "0 exit " + std::to_string(exit_code);
}

TEST(ProgramContractTest, EachHalfAnswersAsWindows) {
    ProgramRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"the process has its module",
         [] { return std::string(ProgramHasModule() ? "yes" : "no"); }, "yes"},
        {"the system directory", [] { return SystemDirectory(64); }, "19 C:\\windows\\system32"},
        {"a buffer that just fits", [] { return SystemDirectory(20); }, "19 C:\\windows\\system32"},
        {"no buffer, or one unit short: the size with the terminator",
         [] { return SystemDirectory(0) + " " + SystemDirectory(19); }, "20 20"},
        {"a program's exit code",
         [&rig] { return RunAndWait(rig.ExitingProgram(), u"cmd /c exit 7", false); }, "0 exit 7"},
        {"an exit code beyond a byte comes back whole",
         [&rig] { return RunAndWait(rig.ExitingProgram(), u"cmd /c exit 1605", false); },
         "0 exit 1605"},
        {"hidden, the same",
         [&rig] { return RunAndWait(rig.ExitingProgram(), u"cmd /c exit 3", true); }, "0 exit 3"},
        {"no such program",
         [] { return RunAndWait(u"C:\\windows\\system32\\nosuch.exe", u"nosuch", false); }, "2"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
