// The thread seam's contract (daemon/base/os_thread.h), run against both
// halves: the notebook's virtual clock here and CreateThread, events and
// Sleep under Wine (winunit.base_os_thread_test). The owners of threads and
// events: a thread is waited for before its owner lets go, a moved-from
// owner holds nothing, and an empty owner is harmless; waits last what they
// were given.
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

// On the notebook's virtual clock a wait lasts exactly what it asked for;
// a real clock may end a sleep a few milliseconds early (Wine does) or late
// under load.
void ExpectLasted(uint64_t elapsed, uint64_t want, int trace) {
#ifdef _WIN32
    EXPECT_GE(elapsed + 20, want) << trace;
    EXPECT_LE(elapsed, want + 500) << trace;
#else
    EXPECT_EQ(elapsed, want) << trace;
#endif
}

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
        ExpectLasted(run.ended_at - start, 300, static_cast<int>(how));
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
        const uint64_t start = TickMs();
        EXPECT_EQ(e.Wait(10), c.second_wait) << c.manual << c.initially_set;
        ExpectLasted(TickMs() - start, c.second_wait ? 0 : 10, c.manual);
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

struct Setter {
    Event* event;
    uint32_t after_ms;
};

uint32_t SleepThenSet(void* param) {
    auto* setter = static_cast<Setter*>(param);
    SleepMs(setter->after_ms);
    EventSet(setter->event);
    return 0;
}

// A waiter wakes when another thread sets the event, not at its timeout.
TEST(UniqueEventTest, SetFromAnotherThreadEndsTheWait) {
    UniqueEvent e(false, false);
    ASSERT_TRUE(e);
    Setter setter{e.get(), 50};
    const uint64_t start = TickMs();
    UniqueThread t(SleepThenSet, &setter);
    ASSERT_TRUE(t);
    EXPECT_TRUE(e.Wait(5000));
    ExpectLasted(TickMs() - start, 50, 0);
    EXPECT_TRUE(t.Wait(kWaitForever));
    EXPECT_FALSE(e.Wait(0)) << "auto-reset: the waiter took it";
}

}  // namespace
}  // namespace qx::os
