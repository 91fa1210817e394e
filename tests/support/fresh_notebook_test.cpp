// Scenarios on a fresh notebook, in this process: each starts at power-on
// whatever the one before did, gets back exactly what it printed, and a
// scenario that leaves a virtual thread running is caught, not carried into
// the next one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "sim/memory_model.h"
#include "sim/notebook.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"

namespace {

TEST(FreshNotebookTest, EachScenarioStartsAtPowerOnAndGetsItsOwnOutput) {
    struct Case {
        const char* what;
        uint32_t sleep_ms;
        const char* out;
    };
    const Case cases[] = {
        {"first", 700, "t0 0 alloc 1\nt1 700\n"},
        {"after a scenario that moved the clock and broke the heap", 50, "t0 0 alloc 1\nt1 50\n"},
        {"nothing printed", 0, ""},
    };
    for (const auto& c : cases) {
        auto r = qxtest::RunOnFreshNotebook([&] {
            auto& nb = qxsim::Notebook::Current();
            if (c.sleep_ms == 0) return;
            void* block = nb.Memory().AllocZeroed(8);
            qxtest::Print("t0 %lld alloc %d\n", static_cast<long long>(nb.Kernel().Now()),
                          block != nullptr);
            nb.Memory().Free(block);
            nb.Kernel().Sleep(c.sleep_ms);
            qxtest::Print("t1 %lld\n", static_cast<long long>(nb.Kernel().Now()));
            nb.Memory().FailNext(0, 100);  // must not reach the next scenario
        });
        EXPECT_EQ(r.exit_code, 0) << c.what;
        EXPECT_EQ(r.out, c.out) << c.what;
    }
}

TEST(FreshNotebookDeathTest, AThreadLeftRunningIsReported) {
    EXPECT_EXIT(
        {
            static qxsim::Event never(true, false);
            auto r = qxtest::RunOnFreshNotebook([] {
                auto& k = qxsim::Notebook::Current().Kernel();
                k.Spawn("left-behind", [&k] {
                    k.Wait(never, qxsim::kInfinite);
                    return 0u;
                });
                k.Sleep(10);
            });
            std::_Exit(r.exit_code == 3 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "still running after the scenario: left-behind");
}

}  // namespace
