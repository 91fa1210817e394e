// The virtual clock: sleeps, waits with deadlines, thread joins and timer
// actions happen in virtual time and in a fixed order.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "sim/notebook.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"

namespace qxsim {
namespace {

// Each scenario starts on a fresh notebook; only the one that ends the
// process needs a child.

// A wake-up is a return from a sleep or from a wait that blocked: a wait
// that finds its event set, or a poll, costs none.
TEST(VirtualKernelTest, WakeUpsCountReturnsFromBlocking) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& k = qxsim::Notebook::Current().Kernel();
        Event set(true, true), unset(true, false);
        const uint64_t before = k.WakeUps();
        k.Sleep(10);         // 1
        k.Wait(set, 100);    // none: signalled
        k.Wait(unset, 0);    // none: a poll
        k.Wait(unset, 100);  // 2: timed out
        k.At(k.Now() + 5, [&] { unset.Set(); });
        k.Wait(unset, kInfinite);  // 3: signalled later
        qxtest::Print("%llu\n", static_cast<unsigned long long>(k.WakeUps() - before));
    });
    EXPECT_EQ(r.out, "3\n");
}
TEST(VirtualKernelTest, SleepsInterleaveByVirtualTime) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& k = qxsim::Notebook::Current().Kernel();
        std::vector<std::string> log;
        auto a = k.Spawn("a", [&] {
            for (int i = 0; i < 3; ++i) {
                k.Sleep(100);
                log.push_back("a" + std::to_string(k.Now()));
            }
            return 7u;
        });
        auto b = k.Spawn("b", [&] {
            k.Sleep(150);
            log.push_back("b" + std::to_string(k.Now()));
            return 0u;
        });
        k.Wait(*a, kInfinite);
        k.Wait(*b, kInfinite);
        std::string all;
        for (auto& s : log) all += s + " ";
        qxtest::Print("%s| exit %u at %lld\n", all.c_str(), a->ExitCode(),
                      static_cast<long long>(k.Now()));
    });
    EXPECT_EQ(r.out, "a100 b150 a200 a300 | exit 7 at 300\n");
}

TEST(VirtualKernelTest, WaitsTimeOutOrWakeOnSignal) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& k = qxsim::Notebook::Current().Kernel();
        Event manual(true, false), automatic(false, false);
        bool timed_out = !k.Wait(manual, 500);
        qxtest::Print("timeout %d at %lld\n", timed_out, static_cast<long long>(k.Now()));
        k.At(k.Now() + 250, [&] { automatic.Set(); });
        bool got = k.Wait(automatic, 1000);
        qxtest::Print("signal %d at %lld\n", got, static_cast<long long>(k.Now()));
        // The auto-reset event was consumed by the waiter.
        qxtest::Print("again %d\n", k.Wait(automatic, 0));
        manual.Set();
        qxtest::Print("manual %d %d\n", k.Wait(manual, 0), k.Wait(manual, 0));
    });
    EXPECT_EQ(r.out, "timeout 1 at 500\nsignal 1 at 750\nagain 0\nmanual 1 1\n");
}

TEST(VirtualKernelTest, ExitProcessRunsHooksAndEndsWithTheCode) {
    auto r = qxtest::RunInChild([] {
        auto& k = qxsim::Notebook::Current().Kernel();
        k.AddExitHook([](uint32_t code) { qxtest::Print("hook %u\n", code); });
        k.Spawn("stuck", [&] {
            Event never(true, false);
            k.Wait(never, kInfinite);
            return 0u;
        });
        k.Sleep(10);
        k.ExitProcess(5);
    });
    EXPECT_EQ(r.exit_code, 5);
    EXPECT_EQ(r.out, "hook 5\n");
}

TEST(VirtualKernelTest, AThreadThatKeepsSleepingZeroAtOneInstantIsReportedAsABusyLoop) {
    auto r = qxtest::RunInChild([] {
        dup2(1, 2);  // the report goes to standard error
        auto& k = qxsim::Notebook::Current().Kernel();
        // Yields between which time passes are no busy loop, however many.
        for (int i = 0; i < 500; ++i) {
            for (int y = 0; y < 10; ++y) k.Sleep(0);
            k.Sleep(1);
        }
        qxtest::Print("yields done at %lld\n", static_cast<long long>(k.Now()));
        auto spinner = k.Spawn("spinner", [&] {
            for (;;) k.Sleep(0);
            return 0u;
        });
        k.Wait(*spinner, kInfinite);
    });
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.out,
              "yields done at 500\n"
              "qxsim: virtual thread \"spinner\" slept 0 ms 1000 times at 0.500 without the clock "
              "moving: a busy loop\n");
}

}  // namespace
}  // namespace qxsim
