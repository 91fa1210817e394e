#include <cstdio>
#include <string>

#include "daemon/core/os_process.h"
#include "sim/console_model.h"
#include "sim/memory_model.h"
#include "sim/vkernel.h"

namespace qx::os {

void ExitProcess(uint32_t code) {
    qxsim::Kernel::Instance().ExitProcess(code);
}

bool StdoutIsValid() {
    return qxsim::ConsoleModel::Instance().StdoutValid();
}

void StdoutVprintf(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, args);
    if (n < 0) {
        va_end(again);
        return;
    }
    if (static_cast<size_t>(n) < sizeof small) {
        qxsim::ConsoleModel::Instance().Write(small, static_cast<size_t>(n));
    } else {
        std::string big(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(big.data(), big.size(), format, again);
        qxsim::ConsoleModel::Instance().Write(big.data(), static_cast<size_t>(n));
    }
    va_end(again);
}

void StdoutPrintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    StdoutVprintf(format, args);
    va_end(args);
}

void* HeapAllocZeroed(size_t size) {
    return qxsim::MemoryModel::Instance().AllocZeroed(size);
}

void HeapFreeBlock(void* block) {
    qxsim::MemoryModel::Instance().Free(block);
}

}  // namespace qx::os
