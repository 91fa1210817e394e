#include <cstdlib>

#include "daemon/wifi/os_provider_mem.h"

namespace qx::os {

void* ProviderAlloc(size_t size) {
    return std::calloc(1, size);
}

void ProviderFree(void* block) {
    std::free(block);
}

}  // namespace qx::os
