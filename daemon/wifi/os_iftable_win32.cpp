#include "common/win/win32.h"
#include <winsock2.h>
#include <iphlpapi.h>

#include <cstddef>

#include "daemon/wifi/os_iftable.h"

static_assert(sizeof(MIB_IFROW) == sizeof(qx::os::IfTableRow), "row layout");
static_assert(offsetof(MIB_IFROW, bPhysAddr) == offsetof(qx::os::IfTableRow, PhysAddr), "");
static_assert(offsetof(MIB_IFROW, dwInOctets) == offsetof(qx::os::IfTableRow, InOctets), "");
static_assert(offsetof(MIB_IFROW, dwOutNUcastPkts) == offsetof(qx::os::IfTableRow, OutNUcastPkts),
              "");
static_assert(offsetof(MIB_IFTABLE, table) == qx::os::kIfTableRowsOffset, "");

namespace qx::os {

uint32_t GetInterfaceTable(void* table, uint32_t* size) {
    ULONG n = *size;
    DWORD rc = ::GetIfTable(static_cast<MIB_IFTABLE*>(table), &n, FALSE);
    *size = n;
    return rc;
}

}  // namespace qx::os
