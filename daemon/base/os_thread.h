// OS seam: threads, events, sleep and the monotonic clock.
//
// On Windows these are CreateThread, CreateEventW, WaitForSingleObject and
// Sleep; on the virtual notebook they run on the virtual clock.
#pragma once

#include <cstdint>

#include "common/os_codes.h"

namespace qx::os {

using oscode::kWaitForever;

struct Thread;
struct Event;

using ThreadEntry = uint32_t (*)(void* param);

// A thread with default security and stack size, running at once; null on failure.
Thread* ThreadStart(ThreadEntry entry, void* param);
// True once the thread has ended, false when ms passed first.
bool ThreadWait(Thread* thread, uint32_t ms);
void ThreadClose(Thread* thread);

// Unnamed event; null on failure.
Event* EventCreate(bool manual_reset, bool initially_set);
void EventSet(Event* event);
void EventReset(Event* event);
// True when the event was set within ms.
bool EventWait(Event* event, uint32_t ms);
void EventClose(Event* event);

void SleepMs(uint32_t ms);

// The owner of one thread: move-only; when it lets go (destroyed, reset or
// assigned over) it waits for the thread to end and closes the handle, so a
// thread never outlives what it was given and no handle is left open.
class UniqueThread {
  public:
    UniqueThread() = default;
    UniqueThread(ThreadEntry entry, void* param) : thread_(ThreadStart(entry, param)) {}
    UniqueThread(const UniqueThread&) = delete;
    UniqueThread& operator=(const UniqueThread&) = delete;
    UniqueThread(UniqueThread&& other) noexcept : thread_(other.thread_) {
        other.thread_ = nullptr;
    }
    UniqueThread& operator=(UniqueThread&& other) noexcept {
        if (this != &other) {
            reset();
            thread_ = other.thread_;
            other.thread_ = nullptr;
        }
        return *this;
    }
    ~UniqueThread() { reset(); }

    // False when the thread could not be started.
    explicit operator bool() const { return thread_ != nullptr; }
    Thread* get() const { return thread_; }
    // True once the thread has ended; false when ms passed first or none runs.
    bool Wait(uint32_t ms) const { return thread_ != nullptr && ThreadWait(thread_, ms); }
    void reset() {
        if (thread_ == nullptr) return;
        ThreadWait(thread_, kWaitForever);
        ThreadClose(thread_);
        thread_ = nullptr;
    }

  private:
    Thread* thread_ = nullptr;
};

// The owner of one event: move-only, closes it when it lets go. Its waits,
// sets and resets are no-ops on an empty owner (a wait then fails).
class UniqueEvent {
  public:
    UniqueEvent() = default;
    UniqueEvent(bool manual_reset, bool initially_set)
        : event_(EventCreate(manual_reset, initially_set)) {}
    UniqueEvent(const UniqueEvent&) = delete;
    UniqueEvent& operator=(const UniqueEvent&) = delete;
    UniqueEvent(UniqueEvent&& other) noexcept : event_(other.event_) { other.event_ = nullptr; }
    UniqueEvent& operator=(UniqueEvent&& other) noexcept {
        if (this != &other) {
            reset();
            event_ = other.event_;
            other.event_ = nullptr;
        }
        return *this;
    }
    ~UniqueEvent() { reset(); }

    explicit operator bool() const { return event_ != nullptr; }
    Event* get() const { return event_; }
    void Set() const {
        if (event_ != nullptr) EventSet(event_);
    }
    void Reset() const {
        if (event_ != nullptr) EventReset(event_);
    }
    bool Wait(uint32_t ms) const { return event_ != nullptr && EventWait(event_, ms); }
    void reset() {
        if (event_ == nullptr) return;
        EventClose(event_);
        event_ = nullptr;
    }

  private:
    Event* event_ = nullptr;
};

// Milliseconds since boot (GetTickCount64); virtual time on the notebook.
uint64_t TickMs();

}  // namespace qx::os
