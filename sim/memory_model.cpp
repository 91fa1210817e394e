#include "sim/memory_model.h"

#include <cstdlib>

#include "sim/fault_plan.h"

namespace qxsim {

// Only virtual threads allocate here, one at a time, so no lock is needed.
void* MemoryModel::AllocZeroed(size_t size) {
    if (InjectFault(FaultKind::kHeapAlloc)) return nullptr;
    if (fail_count_ > 0 && (fail_size_ == 0 || fail_size_ == size)) {
        --fail_count_;
        return nullptr;
    }
    return std::calloc(1, size == 0 ? 1 : size);
}

void MemoryModel::Free(void* p) {
    std::free(p);
}

void MemoryModel::FailNext(size_t size, int count) {
    fail_size_ = size;
    fail_count_ = count;
}

}  // namespace qxsim
