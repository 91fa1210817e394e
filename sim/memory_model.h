// The virtual notebook's process heap, with a knob that makes chosen
// allocations fail so that the daemon's out-of-memory paths can be tested.
#pragma once

#include <cstddef>

namespace qxsim {

class MemoryModel {
  public:
    friend class Notebook;  // builds the one instance
    void* AllocZeroed(size_t size);
    void Free(void* p);
    // The next `count` allocations of exactly `size` bytes fail (size 0: any size).
    void FailNext(size_t size, int count);

  private:
    size_t fail_size_ = 0;
    int fail_count_ = 0;
};

}  // namespace qxsim
