// Power cycles of QXVeltrane with user mode busy on every side: transfers on
// the bus, a wait on the interrupt, cancellations at random moments, handles
// opened and closed, while the device leaves and re-enters D0 (system sleep
// with handles open) and now and then is disabled and enabled outright. The
// fixture fails the test on any request completed twice or never, and on any
// framework rule broken; here every request must also complete within a
// bounded time (no hang) and most cycles must meet a transfer on the bus.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "driver_fixture.h"

namespace qxtest {
namespace {

using kmdfsim::SpbMode;
using Clock = std::chrono::steady_clock;

constexpr int kCycles = 400;
// Every eighth cycle disables the device instead: user mode closes its
// handles first (an open handle vetoes the disable, as on Windows).
constexpr int kDisableEvery = 8;
// A request left this long is cancelled (a wait nobody hands over, a held
// transfer the bus never finishes); one that does not complete within kLostMs
// after that is lost. A transfer is given longer: it must end by the driver's
// hand (the bus or the next D0 exit), and on a loaded machine the thread that
// cycles D0 can be kept off the processor for a second and more; a transfer
// the driver forgot still waits until the test cancels it.
constexpr uint32_t kPatienceMs = 1000;
constexpr uint32_t kTransferPatienceMs = 5000;
constexpr uint32_t kLostMs = 5000;

class DriverPowerCycleTest : public DriverTest {
  protected:
    struct Tally {
        std::mutex m;
        std::map<NTSTATUS, int> statuses;
        int issued = 0;
        int lost = 0;
        int cancelled_by_patience = 0;
        // Transfers (not waits, which may rightly wait for ever) that only
        // finished because the 1 s patience cancelled them: a transfer in
        // flight across a D0 exit must be finished by the driver.
        int transfers_rescued = 0;
        int waits_handed = 0;
    };

    // Issues io's request and waits for it the way the daemon's transport
    // does: a bounded wait, then a cancel, then a wait for the cancellation.
    static void Finish(Tally& t, um::Io* io, bool cancel_now, uint32_t cancel_after_us,
                       bool transfer) {
        if (cancel_now) {
            std::this_thread::sleep_for(std::chrono::microseconds(cancel_after_us));
            um::Cancel(io);
        }
        bool done = um::Wait(io, transfer ? kTransferPatienceMs : kPatienceMs);
        bool patience = false;
        if (!done) {
            patience = true;
            um::Cancel(io);
            done = um::Wait(io, kLostMs);
        }
        std::lock_guard<std::mutex> lk(t.m);
        ++t.issued;
        if (!done) {
            ++t.lost;
            return;
        }
        if (patience) ++t.cancelled_by_patience;
        if (patience && transfer) ++t.transfers_rescued;
        ++t.statuses[um::Status(io)];
    }
};

TEST_F(DriverPowerCycleTest, FourHundredD0CyclesWithTransfersWaitsAndCancelsInFlight) {
    ShareTheDevice();
    kmdfsim::SetSettingsKey(true);
    kmdfsim::SetConnectInterrupt(1u);
    ASSERT_EQ(kmdfsim::AddDevice(), STATUS_SUCCESS);
    kmdfsim::Spb().SetMode(SpbMode::Async, 20);

    std::atomic<bool> stop{false};
    std::atomic<bool> pause{false};  // close your handles: a disable comes
    std::atomic<int> open_handles{0};
    Tally tally;

    // A session: open, the driver's open code, some requests, close. Handles
    // are taken while the device is out of D0 too (sleep keeps the device).
    auto session = [&](uint32_t seed, const std::function<void(um::Handle*, std::mt19937&)>& body) {
        std::mt19937 rng(seed);
        while (!stop.load()) {
            if (pause.load()) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                continue;
            }
            open_handles++;
            um::Handle* h = pause.load() ? nullptr : um::Open(QXSPB_DEVICE_PATH);
            if (h == nullptr) {
                open_handles--;
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                continue;
            }
            um::ControlSync(h, IOCTL_QXSPB_OPEN);
            for (int k = 0; k < 8 && !pause.load() && !stop.load(); k++) body(h, rng);
            um::Close(h);
            open_handles--;
        }
    };
    auto transfers = [&](um::Handle* h, std::mt19937& rng) {
        uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        const int kind = static_cast<int>(rng() % 3);
        um::Io* io = kind == 0   ? um::Write(h, buf, 8)
                     : kind == 1 ? um::Read(h, buf, 8)
                                 : um::DeviceControl(h, IOCTL_QXSPB_WRITE_READ, buf, 3, buf, 5);
        Finish(tally, io, rng() % 4 == 0, rng() % 100, true);
        um::Release(io);
    };
    auto waits = [&](um::Handle* h, std::mt19937& rng) {
        um::Io* io = um::DeviceControl(h, IOCTL_QXSPB_WAIT_ON_INTERRUPT, nullptr, 0, nullptr, 0);
        Finish(tally, io, rng() % 2 == 0, rng() % 2000, false);
        const bool handed = um::Status(io) == STATUS_SUCCESS;
        um::Release(io);
        if (handed) {
            // The line stays held until user mode has served the device.
            um::ControlSync(h, IOCTL_QXSPB_SIGNAL_INTERRUPT);
            std::lock_guard<std::mutex> lk(tally.m);
            ++tally.waits_handed;
        }
    };
    std::vector<std::thread> users;
    users.emplace_back([&] { session(1, transfers); });
    users.emplace_back([&] { session(2, transfers); });
    users.emplace_back([&] { session(3, waits); });

    std::mt19937 rng(4);
    int met_on_bus = 0;
    int held_after_d0_exit = 0;  // transfers the driver left on the bus
    int disables = 0;
    const auto start = Clock::now();
    for (int cycle = 0; cycle < kCycles; cycle++) {
        if (cycle % kDisableEvery == kDisableEvery - 1) {
            pause = true;
            const auto deadline = Clock::now() + std::chrono::seconds(10);
            while (open_handles.load() > 0 && Clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
            ASSERT_EQ(open_handles.load(), 0) << "a session never ended (cycle " << cycle << ")";
            ASSERT_TRUE(kmdfsim::DisableDevice()) << "cycle " << cycle;
            EXPECT_FALSE(kmdfsim::FireInterrupt()) << "an interrupt reached a disabled device";
            ASSERT_EQ(kmdfsim::EnableDevice(), STATUS_SUCCESS) << "cycle " << cycle;
            disables++;
            pause = false;
            continue;
        }
        // Hold the bus so that D0 exit meets a transfer on it.
        kmdfsim::Spb().SetMode(SpbMode::Hold);
        if (kmdfsim::Spb().WaitHeld(1, 50)) met_on_bus++;
        if (rng() % 2 == 0) kmdfsim::FireInterrupt();  // a wait may be handed over
        kmdfsim::Suspend();
        // The D0 exit closes the bus target, which cancels what the driver
        // has on the bus and waits for it: nothing may be held any more.
        held_after_d0_exit += kmdfsim::Spb().Held();
        kmdfsim::Spb().SetMode(SpbMode::Async, 20);
        // Should the driver have left one there, it still ends (and is counted
        // above), so that the test reports instead of hanging.
        kmdfsim::Spb().ReleaseHeld(100);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 200));
        ASSERT_EQ(kmdfsim::Resume(), STATUS_SUCCESS) << "cycle " << cycle;
        kmdfsim::FireInterrupt();
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
    }
    stop = true;
    for (auto& t : users) t.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::lock_guard<std::mutex> lk(tally.m);
    EXPECT_EQ(tally.lost, 0) << "requests that never completed, even when cancelled";
    EXPECT_EQ(held_after_d0_exit, 0) << "transfers the D0 exit left on the bus";
    EXPECT_EQ(tally.transfers_rescued, 0)
        << "transfers that finished only because the test cancelled them after "
        << kTransferPatienceMs << " ms";
    EXPECT_GE(met_on_bus, (kCycles - kCycles / kDisableEvery) / 2)
        << "too few D0 exits met a transfer on the bus";
    EXPECT_EQ(disables, kCycles / kDisableEvery);
    EXPECT_GT(tally.issued, kCycles);
    EXPECT_EQ(tally.statuses.count(STATUS_PENDING), 0u);
    std::printf("power cycles: %d (%d disables), %.1f s; %d D0 exits met a transfer on the bus\n",
                kCycles, disables, seconds, met_on_bus);
    std::printf("power cycles: %d requests, %d waits handed over, %d cancelled after %u ms\n",
                tally.issued, tally.waits_handed, tally.cancelled_by_patience, kPatienceMs);
    std::printf("power cycles: %d transfers still on the bus right after a D0 exit\n",
                held_after_d0_exit);
    for (const auto& s : tally.statuses) {
        std::printf("power cycles:   status %#010x: %d\n", static_cast<unsigned>(s.first),
                    s.second);
    }
}

}  // namespace
}  // namespace qxtest
