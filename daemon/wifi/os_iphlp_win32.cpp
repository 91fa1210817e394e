#include "common/win/win32.h"
#include <winsock2.h>
#include <iphlpapi.h>

#include <cstddef>

#include "daemon/wifi/os_iphlp.h"

namespace qx::os {

static_assert(sizeof(IP_ADAPTER_INFO) == sizeof(AdapterInfoRecord), "");
static_assert(offsetof(IP_ADAPTER_INFO, AdapterName) == offsetof(AdapterInfoRecord, AdapterName),
              "");
static_assert(offsetof(IP_ADAPTER_INFO, Address) == offsetof(AdapterInfoRecord, Address), "");
static_assert(offsetof(IP_ADAPTER_INFO, LeaseExpires) == offsetof(AdapterInfoRecord, LeaseExpires),
              "");

uint32_t GetAdaptersInfo(void* buffer, uint32_t* size) {
    ULONG len = *size;
    DWORD rc = ::GetAdaptersInfo(static_cast<PIP_ADAPTER_INFO>(buffer), &len);
    *size = len;
    return rc;
}

}  // namespace qx::os
