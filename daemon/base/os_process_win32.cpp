#include "common/win/win32.h"

#include <cstdio>

#include "daemon/base/os_process.h"

namespace qx::os {

void ExitProcess(uint32_t code) {
    std::fflush(nullptr);
    ::ExitProcess(code);
}

bool StdoutIsValid() {
    return ::GetStdHandle(STD_OUTPUT_HANDLE) != INVALID_HANDLE_VALUE;
}

void StdoutVprintf(const char* format, va_list args) {
    std::vfprintf(stdout, format, args);
    // A pipe is fully buffered by the C runtime; flushing per message keeps the
    // service log and a console in step with what the daemon is doing.
    std::fflush(stdout);
}

void StdoutPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    StdoutVprintf(format, args);
    va_end(args);
}

void* HeapAllocZeroed(size_t size) {
    return ::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void HeapFreeBlock(void* block) {
    win::Dispose<win::UniqueHeapBlock<void>>(block);
}

}  // namespace qx::os
