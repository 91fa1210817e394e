// OS seam: the providers' own memory, the C runtime's heap.
//
// The provider objects and the records handed out by qx_wifi_getCSI come
// from here (calloc), and qx_wifi_releaseCSI gives the records back (free),
// so that a caller of the exported functions frees what it was given with
// the same runtime. On the virtual notebook an allocation can be made to fail.
#pragma once

#include <cstddef>

namespace qx::os {

// size zero-filled bytes, or null when there is no memory.
void* ProviderAlloc(size_t size);
// Gives back a block of ProviderAlloc; null is ignored.
void ProviderFree(void* block);

}  // namespace qx::os
