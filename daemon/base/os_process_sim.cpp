#include <cstdio>
#include <string>

#include "daemon/base/os_process.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/memory_model.h"
#include "sim/vkernel.h"

namespace qx::os {

void ExitProcess(uint32_t code) {
    qxsim::Notebook::Current().Kernel().ExitProcess(code);
}

bool StdoutIsValid() {
    return qxsim::Notebook::Current().Console().StdoutValid();
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
        qxsim::Notebook::Current().Console().Write(small, static_cast<size_t>(n));
    } else {
        std::string big(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(big.data(), big.size(), format, again);
        qxsim::Notebook::Current().Console().Write(big.data(), static_cast<size_t>(n));
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
    return qxsim::Notebook::Current().Memory().AllocZeroed(size);
}

void HeapFreeBlock(void* block) {
    qxsim::Notebook::Current().Memory().Free(block);
}

}  // namespace qx::os
