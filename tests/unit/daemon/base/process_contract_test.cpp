// The process seam's one contract: what the daemon's output, exit and heap
// rely on, the same on every half.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "daemon/base/os_process.h"
#include "tests/unit/daemon/base/process_contract.h"

namespace qxtest {
namespace {

using namespace qx::os;

std::string Show(const Ended& e) {
    return std::to_string(e.exit_code) + ": " + e.out;
}

TEST(ProcessContractTest, EachHalfAnswersAsWindows) {
    struct Case {
        const char* name;
        std::function<void()> body;
        const char* want;
    } cases[] = {
        {"the exit code reaches the parent whole", [] { ExitProcess(0xC000013A); }, "3221225786: "},
        {"output before the exit is not lost, nor held back",
         [] {
             StdoutPrintf("first ");
             StdoutPrintf("second");
             ExitProcess(3);
         },
         "3: first second"},
        {"formatted as printf formats",
         [] { StdoutPrintf("%d %u %x %s %%|%5.2f", -7, 7u, 255u, "s", 1.5); },
         "0: -7 7 ff s %| 1.50"},
        {"a long message whole", [] { StdoutPrintf("%s.", std::string(600, 'q').c_str()); },
         nullptr},
        {"standard output to a pipe is valid",
         [] { StdoutPrintf(StdoutIsValid() ? "valid" : "invalid"); }, "0: valid"},
        {"a heap block comes zero-filled and goes back",
         [] {
             auto* block = static_cast<unsigned char*>(HeapAllocZeroed(4096));
             int nonzero = 0;
             for (int i = 0; block != nullptr && i < 4096; ++i) nonzero += block[i] != 0;
             StdoutPrintf("%s %d", block != nullptr ? "block" : "null", nonzero);
             HeapFreeBlock(block);
         },
         "0: block 0"},
    };
    const int row = ChildRow();
    if (row >= 0) {
        cases[row].body();
        std::exit(0);
    }
    for (int i = 0; i < static_cast<int>(sizeof cases / sizeof cases[0]); ++i) {
        const std::string want =
            cases[i].want != nullptr ? cases[i].want : "0: " + std::string(600, 'q') + ".";
        EXPECT_EQ(Show(Rig().RunAlone(i, cases[i].body)), want) << cases[i].name;
    }
}

}  // namespace
}  // namespace qxtest
