#include "common/win/win32.h"

#include "daemon/controller/os_clock.h"

namespace qx::os {

bool SystemTimeAsFileTime(uint64_t* filetime, uint16_t* milliseconds) {
    SYSTEMTIME st;
    FILETIME ft;
    ::GetSystemTime(&st);
    *milliseconds = st.wMilliseconds;
    if (!::SystemTimeToFileTime(&st, &ft)) return false;
    *filetime = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return true;
}

}  // namespace qx::os
