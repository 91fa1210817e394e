#include <memory>

#include "daemon/base/os_thread.h"
#include "sim/fault_plan.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qx::os {

struct Thread {
    std::shared_ptr<qxsim::ThreadHandle> handle;
};

struct Event {
    qxsim::Event event;
};

Thread* ThreadStart(ThreadEntry entry, void* param) {
    if (qxsim::InjectFault(qxsim::FaultKind::kThreadCreate)) return nullptr;
    auto* t = new Thread;
    t->handle = qxsim::Notebook::Current().Kernel().Spawn("thread",
                                                          [entry, param] { return entry(param); });
    return t;
}

bool ThreadWait(Thread* thread, uint32_t ms) {
    return qxsim::Notebook::Current().Kernel().Wait(*thread->handle, ms);
}

void ThreadClose(Thread* thread) {
    delete thread;
}

Event* EventCreate(bool manual_reset, bool initially_set) {
    if (qxsim::InjectFault(qxsim::FaultKind::kEventCreate)) return nullptr;
    return new Event{qxsim::Event(manual_reset, initially_set)};
}

void EventSet(Event* event) {
    event->event.Set();
}
void EventReset(Event* event) {
    event->event.Reset();
}

bool EventWait(Event* event, uint32_t ms) {
    return qxsim::Notebook::Current().Kernel().Wait(event->event, ms);
}

void EventClose(Event* event) {
    delete event;
}

void SleepMs(uint32_t ms) {
    qxsim::Notebook::Current().Kernel().Sleep(ms);
}

uint64_t TickMs() {
    return static_cast<uint64_t>(qxsim::Notebook::Current().Kernel().Now());
}

}  // namespace qx::os
