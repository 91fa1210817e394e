// The owners of threads and events: a thread is waited for before its owner
// lets go, a moved-from owner holds nothing, and an empty owner is harmless.
#include <gtest/gtest.h>

#include <utility>

#include "daemon/base/os_thread.h"

namespace qx::os {
namespace {

struct SleeperRun {
    uint32_t sleep_ms;
    int done = 0;
    uint64_t ended_at = 0;
};

uint32_t SleepThenMark(void* param) {
    auto* run = static_cast<SleeperRun*>(param);
    SleepMs(run->sleep_ms);
    run->done = 1;
    run->ended_at = TickMs();
    return 0;
}

TEST(UniqueThreadTest, LettingGoWaitsForTheThreadToEnd) {
    // Every way an owner lets go of a running thread waits for it first:
    // its scope ending, reset, and another thread assigned over it.
    enum class LetGo { kScope, kReset, kAssignOver };
    for (LetGo how : {LetGo::kScope, LetGo::kReset, LetGo::kAssignOver}) {
        SleeperRun run{300};
        const uint64_t start = TickMs();
        {
            UniqueThread t(SleepThenMark, &run);
            ASSERT_TRUE(t);
            EXPECT_FALSE(t.Wait(0)) << "still asleep";
            if (how == LetGo::kReset) t.reset();
            if (how == LetGo::kAssignOver) t = UniqueThread();
            if (how != LetGo::kScope) {
                EXPECT_FALSE(t);
                EXPECT_EQ(run.done, 1) << static_cast<int>(how);
            }
        }
        EXPECT_EQ(run.done, 1) << static_cast<int>(how);
        EXPECT_EQ(run.ended_at - start, 300u) << static_cast<int>(how);
    }
}

TEST(UniqueThreadTest, AMovedThreadHasOneOwner) {
    SleeperRun run{100};
    UniqueThread a(SleepThenMark, &run);
    UniqueThread b(std::move(a));
    EXPECT_FALSE(a);  // NOLINT: a moved-from owner is empty by contract
    EXPECT_FALSE(a.Wait(kWaitForever)) << "an empty owner has nothing to wait for";
    ASSERT_TRUE(b);
    EXPECT_TRUE(b.Wait(kWaitForever));
    EXPECT_EQ(run.done, 1);
    UniqueThread& same = b;  // through a reference, as a self-move happens in real code
    b = std::move(same);     // self-move keeps the thread
    EXPECT_TRUE(b);
}

TEST(UniqueEventTest, ResetModesAndEmptyOwners) {
    struct Case {
        bool manual;
        bool initially_set;
        bool first_wait;
        bool second_wait;
    };
    const Case cases[] = {
        {false, true, true, false},    // auto-reset: one waiter takes it
        {true, true, true, true},      // manual: stays set
        {false, false, false, false},  // never set
        {true, false, false, false},
    };
    for (const auto& c : cases) {
        UniqueEvent e(c.manual, c.initially_set);
        ASSERT_TRUE(e);
        EXPECT_EQ(e.Wait(0), c.first_wait) << c.manual << c.initially_set;
        EXPECT_EQ(e.Wait(10), c.second_wait) << c.manual << c.initially_set;
        e.Set();
        EXPECT_TRUE(e.Wait(0));
        e.Reset();
        EXPECT_FALSE(e.Wait(0));
        UniqueEvent moved = std::move(e);
        EXPECT_FALSE(e);  // NOLINT: moved from
        e.Set();          // harmless on an empty owner
        EXPECT_FALSE(e.Wait(0));
        moved.Set();
        EXPECT_TRUE(moved.Wait(0));
    }
}

}  // namespace
}  // namespace qx::os
