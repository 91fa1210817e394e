// The virtual notebook's scheduler: virtual threads on a virtual clock.
//
// Every thread of the simulated process is a real std::thread, but only one of
// them runs at a time: the one holding the run token. A thread gives the token
// away when it sleeps, waits or ends; when no thread can run, the clock jumps
// to the next deadline and the timer actions due by then fire. A 20-minute
// scenario therefore runs in milliseconds and in the same order every time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/os_codes.h"

namespace qxsim {

using VTime = int64_t;  // milliseconds since the simulated boot
constexpr uint32_t kInfinite = qx::oscode::kWaitForever;

class Waitable;

// The notebook (sim/notebook.h) owns the one kernel of the process.
class Kernel {
  public:
    friend class Notebook;  // builds the one instance
    ~Kernel();
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    VTime Now();

    // Starts a virtual thread; it becomes runnable at once and runs when the
    // caller next gives the token away.
    std::shared_ptr<class ThreadHandle> Spawn(std::string name, std::function<uint32_t()> body);
    // Host threads of virtual threads that have not returned yet, of every
    // kernel of the process: a test that forks waits for none to be left
    // (ThreadSanitizer refuses threads in a child forked from many).
    static int HostThreadsRunning();

    // Gives the token away for ms of virtual time (0: lets runnable threads go
    // first, and no time passes). A thread that sleeps 0 ms a thousand times
    // at one instant is busy looping: reported on standard error, and the
    // process ends with exit code 3, as for a deadlock.
    void Sleep(uint32_t ms);

    // Waits until the object is signalled or ms of virtual time passed.
    // Returns true when signalled. kInfinite waits without a deadline.
    bool Wait(Waitable& object, uint32_t ms);

    // Runs action on the scheduler at virtual time `when` (not before Now()).
    // Actions may set events and spawn threads but must not block.
    void At(VTime when, std::function<void()> action);

    // Wall-clock pacing: 0 runs as fast as possible, 1 in real time, 10 ten times faster.
    void SetSpeed(double speed);

    // Ends the simulated process: runs the exit hooks (newest first) and ends the
    // host process with the code. Never returns.
    [[noreturn]] void ExitProcess(uint32_t code);
    void AddExitHook(std::function<void(uint32_t)> hook);

    // Name of the calling virtual thread ("main" for the host thread).
    std::string CurrentThreadName();

    // Names of the started virtual threads that have not ended yet.
    std::vector<std::string> RunningThreads();

    // Returns of a virtual thread from a sleep or from a wait it blocked in:
    // each is a wake-up of the process (a wait that finds its object
    // signalled, or a poll, does not count).
    uint64_t WakeUps();

    // Event state changes go through the kernel so that waiters wake in order.
    void SetEventState(class Event& event, bool signalled);

    struct Impl;

  private:
    Kernel();
    // Shared with the host threads behind the virtual ones: a thread that
    // ends after its kernel was let go still unlocks it safely.
    std::shared_ptr<Impl> impl_;
};

// Something a virtual thread can wait on: an event or a thread.
class Waitable {
  public:
    virtual ~Waitable() = default;
    // Both are called with the kernel's lock held.
    virtual bool IsSignalled() const = 0;
    virtual void Consume() {}  // an auto-reset event resets when a waiter takes it
};

class Event final : public Waitable {
  public:
    Event(bool manual_reset, bool initial) : manual_(manual_reset), signalled_(initial) {}
    void Set();
    void Reset();

    bool IsSignalled() const override { return signalled_; }
    void Consume() override {
        if (!manual_) signalled_ = false;
    }

  private:
    friend class Kernel;
    bool manual_;
    bool signalled_;
};

struct VThread;

// A joinable handle on a virtual thread; signalled once the thread has ended.
class ThreadHandle final : public Waitable {
  public:
    explicit ThreadHandle(std::shared_ptr<VThread> t) : thread_(std::move(t)) {}
    uint32_t ExitCode() const;
    bool IsSignalled() const override;

  private:
    std::shared_ptr<VThread> thread_;
};

// Human-readable virtual time: seconds with milliseconds, "12.345".
std::string FormatVTime(VTime t);

}  // namespace qxsim
