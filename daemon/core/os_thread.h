// OS seam: threads, events, sleep and the monotonic clock.
//
// On Windows these are CreateThread, CreateEventW, WaitForSingleObject and
// Sleep; on the virtual notebook they run on the virtual clock.
#pragma once

#include <cstdint>

namespace qx::os {

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;  // INFINITE

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

// Milliseconds since boot (GetTickCount64); virtual time on the notebook.
uint64_t TickMs();

}  // namespace qx::os
