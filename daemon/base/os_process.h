// OS seam: process exit, standard output and the process heap.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace qx::os {

// Ends the process with the exit code, standard output flushed first.
[[noreturn]] void ExitProcess(uint32_t code);

// False when GetStdHandle(STD_OUTPUT_HANDLE) answers INVALID_HANDLE_VALUE.
bool StdoutIsValid();

// Formatted output to standard output; one call is written as one piece, so
// lines of different threads interleave only at call boundaries.
void StdoutVprintf(const char* format, va_list args);
void StdoutPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Zero-filled block from the process heap (HeapAlloc with HEAP_ZERO_MEMORY); null on failure.
void* HeapAllocZeroed(size_t size);
void HeapFreeBlock(void* block);

}  // namespace qx::os
