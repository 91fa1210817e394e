#include "sim/vkernel.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "sim/leak_check.h"
#include "sim/notebook.h"

namespace qxsim {

struct VThread {
    enum class State { kReady, kRunning, kBlocked, kExited };
    std::string name;
    uint64_t order = 0;  // creation order: ties are broken by it, never by the host OS
    State state = State::kReady;
    std::condition_variable cv;
    Waitable* waiting_on = nullptr;  // null while sleeping
    VTime deadline = -1;             // -1: no deadline
    bool wait_result = false;
    uint32_t exit_code = 0;
    bool host = false;  // a host thread that became a virtual one, not started by Spawn
    // 0 ms sleeps in a row at the instant zero_sleeps_at.
    uint32_t zero_sleeps = 0;
    VTime zero_sleeps_at = -1;
};

namespace {
// A thread that sleeps 0 ms this many times at one virtual instant is busy
// looping: on Windows it would burn a core, and here the clock would never
// move again. A yield or a few (SetEvent entering the kernel, a loop waiting
// for a thread that is ready) stay far below it.
constexpr uint32_t kBusyLoopZeroSleeps = 1000;

// The calling host thread's virtual thread, and the kernel it belongs to: a
// host thread that outlived a notebook reset is a stranger to the new kernel.
// Kernels are told apart by a serial number, never by address: a new kernel
// may well be built where the old one was.
thread_local VThread* tls_self = nullptr;
thread_local uint64_t tls_kernel = 0;
std::atomic<uint64_t> g_kernel_serial{0};
}  // namespace

struct Kernel::Impl {
    const uint64_t serial = ++g_kernel_serial;
    std::mutex m;
    VTime now = 0;
    VThread* current = nullptr;
    std::deque<VThread*> ready;
    std::vector<std::shared_ptr<VThread>> live;  // in creation order
    std::map<std::pair<VTime, uint64_t>, std::function<void()>> timers;
    uint64_t next_order = 0;
    uint64_t wakeups = 0;
    double speed = 0;
    std::vector<std::function<void(uint32_t)>> exit_hooks;

    // The calling thread's record; a host thread that never was a virtual
    // thread becomes one here and waits for the token like any other.
    VThread* Self(std::unique_lock<std::mutex>& lk) {
        if (tls_self != nullptr && tls_kernel == serial) return tls_self;
        auto t = std::make_shared<VThread>();
        t->name = live.empty() && next_order == 0 ? "main" : "host";
        t->host = true;
        t->order = next_order++;
        live.push_back(t);
        tls_self = t.get();
        tls_kernel = serial;
        if (current == nullptr) {
            current = t.get();
            t->state = VThread::State::kRunning;
        } else {
            ready.push_back(t.get());
            while (current != t.get()) t->cv.wait(lk);
            t->state = VThread::State::kRunning;
        }
        return tls_self;
    }

    void MakeReady(VThread* t, bool result) {
        t->state = VThread::State::kReady;
        t->waiting_on = nullptr;
        t->deadline = -1;
        t->wait_result = result;
        ready.push_back(t);
    }

    // Wakes the blocked threads that can now take the object, in creation order.
    void WakeWaiters(Waitable& object) {
        for (auto& t : live) {
            if (t->state != VThread::State::kBlocked || t->waiting_on != &object) continue;
            if (!object.IsSignalled()) break;
            object.Consume();
            MakeReady(t.get(), true);
        }
    }

    [[noreturn]] void Deadlock() {
        std::fprintf(stderr, "qxsim: every virtual thread waits for ever at %s:\n",
                     FormatVTime(now).c_str());
        for (auto& t : live) std::fprintf(stderr, "  %s\n", t->name.c_str());
        std::fflush(nullptr);
        _exit(3);
    }

    // No virtual time passes in a 0 ms sleep, so a thread that keeps
    // sleeping 0 ms holds the clock where it is for ever: as fatal as a
    // deadlock, and reported the same way.
    [[noreturn]] void BusyLoop(const VThread& self) {
        std::fprintf(stderr,
                     "qxsim: virtual thread \"%s\" slept 0 ms %u times at %s without the clock "
                     "moving: a busy loop\n",
                     self.name.c_str(), self.zero_sleeps, FormatVTime(now).c_str());
        std::fflush(nullptr);
        _exit(3);
    }

    // Hands the token to the next ready thread, moving the clock on when none is.
    void Dispatch(std::unique_lock<std::mutex>& lk) {
        for (;;) {
            if (!ready.empty()) {
                current = ready.front();
                ready.pop_front();
                current->cv.notify_one();
                return;
            }
            VTime next = -1;
            if (!timers.empty()) next = timers.begin()->first.first;
            for (auto& t : live) {
                if (t->state == VThread::State::kBlocked && t->deadline >= 0 &&
                    (next < 0 || t->deadline < next)) {
                    next = t->deadline;
                }
            }
            if (next < 0) Deadlock();
            if (next > now && speed > 0) {
                auto wall = std::chrono::duration<double, std::milli>((next - now) / speed);
                lk.unlock();
                std::this_thread::sleep_for(wall);
                lk.lock();
            }
            if (next > now) now = next;
            while (!timers.empty() && timers.begin()->first.first <= now) {
                auto action = std::move(timers.begin()->second);
                timers.erase(timers.begin());
                lk.unlock();
                action();
                lk.lock();
            }
            for (auto& t : live) {
                if (t->state == VThread::State::kBlocked && t->deadline >= 0 &&
                    t->deadline <= now) {
                    MakeReady(t.get(), false);
                }
            }
        }
    }

    // Gives the token away; returns when the caller holds it again.
    void SwitchAway(std::unique_lock<std::mutex>& lk, VThread* self) {
        Dispatch(lk);
        while (current != self) self->cv.wait(lk);
        self->state = VThread::State::kRunning;
    }
};

Kernel::Kernel() : impl_(std::make_shared<Impl>()) {}

Kernel::~Kernel() = default;

std::vector<std::string> Kernel::RunningThreads() {
    std::unique_lock<std::mutex> lk(impl_->m);
    std::vector<std::string> names;
    for (auto& t : impl_->live) {
        if (!t->host && t->state != VThread::State::kExited) names.push_back(t->name);
    }
    return names;
}

VTime Kernel::Now() {
    std::unique_lock<std::mutex> lk(impl_->m);
    return impl_->now;
}

std::string Kernel::CurrentThreadName() {
    std::unique_lock<std::mutex> lk(impl_->m);
    return impl_->Self(lk)->name;
}

namespace {
std::atomic<int> g_host_threads{0};
}  // namespace

int Kernel::HostThreadsRunning() {
    return g_host_threads.load();
}

std::shared_ptr<ThreadHandle> Kernel::Spawn(std::string name, std::function<uint32_t()> body) {
    std::unique_lock<std::mutex> lk(impl_->m);
    impl_->Self(lk);
    auto t = std::make_shared<VThread>();
    t->name = std::move(name);
    t->order = impl_->next_order++;
    impl_->live.push_back(t);
    impl_->ready.push_back(t.get());
    auto handle = std::make_shared<ThreadHandle>(t);
    std::shared_ptr<Impl> impl = impl_;
    g_host_threads++;
    std::thread([impl, t, body = std::move(body)]() mutable {
        tls_self = t.get();
        tls_kernel = impl->serial;
        {
            std::unique_lock<std::mutex> run(impl->m);
            while (impl->current != t.get()) t->cv.wait(run);
            t->state = VThread::State::kRunning;
        }
        uint32_t code = body();
        body = nullptr;  // the thread's captures die on the thread, as its locals would
        std::unique_lock<std::mutex> run(impl->m);
        t->exit_code = code;
        t->state = VThread::State::kExited;
        for (auto& other : impl->live) {
            if (other->state != VThread::State::kBlocked || other->waiting_on == nullptr) continue;
            auto* h = dynamic_cast<ThreadHandle*>(other->waiting_on);
            if (h != nullptr && h->IsSignalled()) impl->MakeReady(other.get(), true);
        }
        for (auto it = impl->live.begin(); it != impl->live.end(); ++it) {
            if (it->get() == t.get()) {
                impl->live.erase(it);
                break;
            }
        }
        impl->Dispatch(run);
        run.unlock();
        impl = nullptr;
        g_host_threads--;
    }).detach();
    return handle;
}

void Kernel::Sleep(uint32_t ms) {
    std::unique_lock<std::mutex> lk(impl_->m);
    VThread* self = impl_->Self(lk);
    if (ms == 0) {
        // As on Windows: the other ready threads go first, and with none the
        // sleep returns at once. The clock stays where it is.
        if (self->zero_sleeps_at != impl_->now) {
            self->zero_sleeps_at = impl_->now;
            self->zero_sleeps = 0;
        }
        if (++self->zero_sleeps >= kBusyLoopZeroSleeps) impl_->BusyLoop(*self);
        if (impl_->ready.empty()) return;
        self->state = VThread::State::kReady;
        impl_->ready.push_back(self);
    } else {
        self->state = VThread::State::kBlocked;
        self->waiting_on = nullptr;
        self->deadline = ms == kInfinite ? -1 : impl_->now + ms;
    }
    impl_->SwitchAway(lk, self);
    ++impl_->wakeups;
}

bool Kernel::Wait(Waitable& object, uint32_t ms) {
    std::unique_lock<std::mutex> lk(impl_->m);
    VThread* self = impl_->Self(lk);
    if (object.IsSignalled()) {
        object.Consume();
        return true;
    }
    if (ms == 0) return false;
    self->state = VThread::State::kBlocked;
    self->waiting_on = &object;
    self->deadline = ms == kInfinite ? -1 : impl_->now + ms;
    impl_->SwitchAway(lk, self);
    ++impl_->wakeups;
    return self->wait_result;
}

uint64_t Kernel::WakeUps() {
    std::unique_lock<std::mutex> lk(impl_->m);
    return impl_->wakeups;
}

void Kernel::At(VTime when, std::function<void()> action) {
    std::unique_lock<std::mutex> lk(impl_->m);
    if (when < impl_->now) when = impl_->now;
    impl_->timers.emplace(std::make_pair(when, impl_->next_order++), std::move(action));
}

void Kernel::SetSpeed(double speed) {
    std::unique_lock<std::mutex> lk(impl_->m);
    impl_->speed = speed;
}

void Kernel::AddExitHook(std::function<void(uint32_t)> hook) {
    std::unique_lock<std::mutex> lk(impl_->m);
    impl_->exit_hooks.push_back(std::move(hook));
}

void Kernel::ExitProcess(uint32_t code) {
    std::vector<std::function<void(uint32_t)>> hooks;
    {
        std::unique_lock<std::mutex> lk(impl_->m);
        hooks.swap(impl_->exit_hooks);
    }
    for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) (*it)(code);
    std::fflush(nullptr);
    // The other virtual threads are parked waiting for the token; ending the
    // host process here is what ExitProcess does to them on Windows. Their
    // stacks are still there, so what they hold is not counted as leaked.
    _exit(ExitCodeAfterLeakCheck(static_cast<int>(code & 0xFF)));
}

void Kernel::SetEventState(Event& event, bool signalled) {
    std::unique_lock<std::mutex> lk(impl_->m);
    event.signalled_ = signalled;
    if (signalled) impl_->WakeWaiters(event);
}

void Event::Set() {
    Notebook::Current().Kernel().SetEventState(*this, true);
}
void Event::Reset() {
    Notebook::Current().Kernel().SetEventState(*this, false);
}

bool ThreadHandle::IsSignalled() const {
    return thread_->state == VThread::State::kExited;
}
uint32_t ThreadHandle::ExitCode() const {
    return thread_->exit_code;
}

std::string FormatVTime(VTime t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(t / 1000),
                  static_cast<long long>(t % 1000));
    return buf;
}

}  // namespace qxsim
