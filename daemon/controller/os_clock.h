// OS seam: the wall clock in UTC.
#pragma once

#include <cstdint>

namespace qx::os {

// GetSystemTime then SystemTimeToFileTime: 100-ns units since 1601-01-01 UTC
// and the SYSTEMTIME's milliseconds. False when the conversion failed.
bool SystemTimeAsFileTime(uint64_t* filetime, uint16_t* milliseconds);

}  // namespace qx::os
