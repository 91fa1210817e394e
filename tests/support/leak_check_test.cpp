// The leak check on the _exit paths: a simulated process that ends through
// the virtual kernel's ExitProcess, or a test child whose body returns, fails
// with exit code 23 when it leaked (in AddressSanitizer builds, where the
// check exists; elsewhere the code passes through unchanged).
#include <gtest/gtest.h>

#include <cstdlib>

#include "sim/notebook.h"
#include "sim/leak_check.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"

namespace {

#ifdef QX_LEAK_CHECK
constexpr int kLeaked = qxsim::kLeakExitCode;
#else
constexpr int kLeaked = -1;  // replaced below: no check, the code stands
#endif

int Expected(bool leaks, int code) {
    return leaks && kLeaked > 0 ? kLeaked : code;
}

// Drops the only pointer to a fresh block.
__attribute__((noinline)) void LeakABlock() {
    void* volatile block = std::malloc(64);
    block = nullptr;
    (void)block;
}

TEST(LeakCheckTest, ExitProcessFailsALeakingProcess) {
    struct Case {
        const char* what;
        bool leaks;
        uint32_t code;
    };
    const Case cases[] = {
        {"clean, code 0", false, 0},
        {"clean, code 5", false, 5},
        {"leaked, code 0", true, 0},
        {"leaked, code 5", true, 5},
    };
    for (const auto& c : cases) {
        auto r = qxtest::RunInChild([&] {
            // Held by a parked virtual thread's stack: reachable, no leak.
            auto& k = qxsim::Notebook::Current().Kernel();
            k.Spawn("holder", [&] {
                volatile char* held = static_cast<char*>(std::malloc(32));
                qxsim::Event never(true, false);
                k.Wait(never, qxsim::kInfinite);
                std::free(const_cast<char*>(held));
                return 0u;
            });
            k.Sleep(10);
            if (c.leaks) LeakABlock();
            k.ExitProcess(c.code);
        });
        EXPECT_EQ(r.exit_code, Expected(c.leaks, static_cast<int>(c.code))) << c.what;
    }
}

TEST(LeakCheckTest, AChildBodyThatReturnsIsChecked) {
    EXPECT_EQ(qxtest::RunInChild([] {}).exit_code, 0);
    EXPECT_EQ(qxtest::RunInChild([] { LeakABlock(); }).exit_code, Expected(true, 0));
}

}  // namespace
