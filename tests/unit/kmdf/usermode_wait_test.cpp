// Waiting for an overlapped request from user mode: a zero time-out is a poll
// and never blocks, a limited wait ends at its limit, and no wait misses a
// completion that comes before it, while it sleeps, or just as it starts.
//
// A wait that hangs must fail the test rather than the whole run, so each one
// runs on its own thread under a watchdog; when the watchdog fires, the
// request is cancelled, which releases any waiter, and the case fails.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "kmdf/kmdfsim.h"
#include "kmdf/usermode.h"
#include "tests/unit/kmdf/read_driver.h"

namespace {

namespace um = kmdfsim::um;
using std::chrono::milliseconds;

constexpr uint32_t kForever = 0xFFFFFFFFu;
// Far longer than any honest wait below; only a hang reaches it.
constexpr auto kWatchdog = std::chrono::seconds(20);

std::atomic<bool> g_park{false};
std::atomic<WDFREQUEST> g_parked{nullptr};

EVT_WDF_IO_QUEUE_IO_READ WaitRead;
EVT_WDF_REQUEST_CANCEL WaitCancel;

VOID WaitCancel(WDFREQUEST Request) {
    g_parked = nullptr;
    WdfRequestComplete(Request, STATUS_CANCELLED);
}

// Reads complete at once, or stay with the driver (cancelable) until the test
// completes them.
VOID WaitRead(WDFQUEUE, WDFREQUEST Request, size_t) {
    if (!g_park) {
        WdfRequestCompleteWithInformation(Request, STATUS_SUCCESS, 1);
        return;
    }
    EXPECT_EQ(WdfRequestMarkCancelableEx(Request, WaitCancel), STATUS_SUCCESS);
    g_parked = Request;
}

// Completes the parked request as the driver would from its own thread; false
// when a cancellation took it first.
bool CompleteParked() {
    WDFREQUEST r = g_parked.exchange(nullptr);
    if (r == nullptr || WdfRequestUnmarkCancelable(r) != STATUS_SUCCESS) return false;
    WdfRequestCompleteWithInformation(r, STATUS_SUCCESS, 1);
    return true;
}

enum class Completes { Before, During, Never };

const char* Name(Completes c) {
    return c == Completes::Before ? "before" : c == Completes::During ? "during" : "never";
}

class UserModeWaitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kmdfsim::Reset();
        g_park = false;
        g_parked = nullptr;
        ASSERT_EQ(kmdfsim::LoadDriver(kmdftest::ReadDriverImage<WaitRead>), STATUS_SUCCESS);
        ASSERT_EQ(kmdfsim::AddDevice(), STATUS_SUCCESS);
        handle_ = um::Open(QXSPB_DEVICE_PATH);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override {
        um::Close(handle_);
        kmdfsim::UnloadDriver();
        EXPECT_EQ(kmdfsim::OutstandingRequests(), 0u);
        EXPECT_EQ(kmdfsim::LiveObjects(), 0u);
        EXPECT_TRUE(kmdfsim::Violations().empty());
        kmdfsim::Reset();
    }

    // um::Wait(io, ms) on a thread of its own: 1 completed, 0 timed out, -1
    // when it did not return within the watchdog. The request is then
    // cancelled, which releases a waiter that merely missed its completion; a
    // waiter that not even that releases ends the run, loudly, since nothing
    // else could free it.
    int WaitWatched(um::Io* io, uint32_t ms) {
        std::packaged_task<bool()> task([io, ms] { return um::Wait(io, ms); });
        std::future<bool> result = task.get_future();
        std::thread waiter(std::move(task));
        int outcome = -1;
        if (result.wait_for(kWatchdog) == std::future_status::ready) {
            outcome = result.get() ? 1 : 0;
        } else {
            um::Cancel(io);
            if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
                std::fprintf(stderr, "um::Wait(io, %u) never returned, even after a cancel\n",
                             static_cast<unsigned>(ms));
                std::abort();
            }
        }
        waiter.join();
        return outcome;
    }

    uint8_t buffer_ = 0;
    um::Handle* handle_ = nullptr;
};

// Time-outs 0 (a poll), small and forever against requests that complete
// before the wait, while it waits, and never.
TEST_F(UserModeWaitTest, EveryTimeOutAgainstEveryCompletion) {
    struct Case {
        uint32_t ms;
        Completes completes;
        bool completed;  // what the wait returns
    } cases[] = {
        {0, Completes::Before, true},        {0, Completes::Never, false},
        {30, Completes::Before, true},       {30, Completes::Never, false},
        {10000, Completes::During, true},    {kForever, Completes::Before, true},
        {kForever, Completes::During, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.ms << " ms, completes " << Name(c.completes));
        g_park = c.completes != Completes::Before;
        um::Io* io = um::Read(handle_, &buffer_, 1);
        std::thread completer;
        if (c.completes == Completes::During) {
            ASSERT_NE(g_parked.load(), nullptr);
            completer = std::thread([] {
                std::this_thread::sleep_for(milliseconds(20));
                EXPECT_TRUE(CompleteParked());
            });
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(WaitWatched(io, c.ms), c.completed ? 1 : 0);
        const auto took = std::chrono::steady_clock::now() - start;
        if (completer.joinable()) completer.join();
        if (c.completes == Completes::Never && c.ms > 0) {
            EXPECT_GE(took, milliseconds(c.ms));
        }
        EXPECT_EQ(um::Done(io), c.completed);
        if (c.completed) {
            EXPECT_EQ(um::Status(io), STATUS_SUCCESS);
            EXPECT_EQ(um::Information(io), 1u);
            // Once completed, every wait reports it at once, a poll included.
            EXPECT_TRUE(um::Wait(io, 0));
            EXPECT_TRUE(um::Wait(io, kForever));
        }
        um::Release(io);  // a request still pending is cancelled and waited for
    }
}

// A completion racing the wait: it lands just before, inside or after the
// waiter's check. A poll may see either, but never blocks; a limited or
// unlimited wait always sees it.
TEST_F(UserModeWaitTest, ACompletionRacingTheWaitIsNeverMissed) {
    const uint32_t timeouts[] = {0, 1, 5000, kForever};
    for (uint32_t ms : timeouts) {
        SCOPED_TRACE(testing::Message() << ms << " ms");
        for (int round = 0; round < 150; ++round) {
            g_park = true;
            um::Io* io = um::Read(handle_, &buffer_, 1);
            ASSERT_NE(g_parked.load(), nullptr);
            std::atomic<bool> go{false};
            std::thread completer([&go] {
                while (!go.load()) std::this_thread::yield();
                EXPECT_TRUE(CompleteParked());
            });
            go = true;
            const int outcome = WaitWatched(io, ms);
            completer.join();
            ASSERT_NE(outcome, -1) << "round " << round << ": the wait never returned";
            if (ms >= 5000) {
                ASSERT_EQ(outcome, 1) << "round " << round;
            }
            // Whatever the poll saw, the completion is there now.
            ASSERT_TRUE(um::Wait(io, 0)) << "round " << round;
            um::Release(io);
        }
    }
}

// An issue that fails at once (here: on a closed handle) is complete before
// anyone waits; it must not be waited for as if pending.
TEST_F(UserModeWaitTest, ARequestRefusedAtIssueIsAlreadyComplete) {
    um::Io* io = um::Read(nullptr, &buffer_, 1);
    EXPECT_EQ(WaitWatched(io, 0), 1);
    EXPECT_EQ(WaitWatched(io, kForever), 1);
    EXPECT_EQ(um::Status(io), STATUS_INVALID_HANDLE);
    um::Release(io);
}

}  // namespace
