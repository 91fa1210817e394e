#include <cstdlib>

#include "daemon/wifi/os_provider_mem.h"
#include "sim/fault_plan.h"

namespace qx::os {

void* ProviderAlloc(size_t size) {
    if (qxsim::InjectFault(qxsim::FaultKind::kProviderAlloc)) return nullptr;
    return std::calloc(1, size);
}

void ProviderFree(void* block) {
    std::free(block);
}

}  // namespace qx::os
