#include "common/win/win32.h"

#include "daemon/base/os_thread.h"

namespace qx::os {

namespace {
struct StartBlock {
    ThreadEntry entry;
    void* param;
};

DWORD WINAPI ThreadTrampoline(LPVOID p) {
    // The new thread owns the start block: its creator lets go of it once
    // CreateThread has succeeded.
    win::UniqueHeapBlock<StartBlock> start(static_cast<StartBlock*>(p));
    const StartBlock block = *start.get();
    start.reset();
    return block.entry(block.param);
}
}  // namespace

Thread* ThreadStart(ThreadEntry entry, void* param) {
    win::UniqueHeapBlock<StartBlock> block(
        static_cast<StartBlock*>(::HeapAlloc(::GetProcessHeap(), 0, sizeof(StartBlock))));
    if (!block) return nullptr;
    block.get()->entry = entry;
    block.get()->param = param;
    HANDLE h = ::CreateThread(nullptr, 0, ThreadTrampoline, block.get(), 0, nullptr);
    if (h == nullptr) return nullptr;
    block.release();
    return reinterpret_cast<Thread*>(h);
}

bool ThreadWait(Thread* thread, uint32_t ms) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(thread), ms) == WAIT_OBJECT_0;
}

void ThreadClose(Thread* thread) {
    win::Dispose<win::UniqueHandle>(reinterpret_cast<HANDLE>(thread));
}

Event* EventCreate(bool manual_reset, bool initially_set) {
    return reinterpret_cast<Event*>(::CreateEventW(nullptr, manual_reset, initially_set, nullptr));
}

void EventSet(Event* event) {
    ::SetEvent(reinterpret_cast<HANDLE>(event));
}
void EventReset(Event* event) {
    ::ResetEvent(reinterpret_cast<HANDLE>(event));
}

bool EventWait(Event* event, uint32_t ms) {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(event), ms) == WAIT_OBJECT_0;
}

void EventClose(Event* event) {
    win::Dispose<win::UniqueHandle>(reinterpret_cast<HANDLE>(event));
}

void SleepMs(uint32_t ms) {
    ::Sleep(ms);
}

uint64_t TickMs() {
    return ::GetTickCount64();
}

}  // namespace qx::os
