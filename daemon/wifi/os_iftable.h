// OS seam: the IP Helper interface table (GetIfTable).
//
// The table is returned in the system's own layout, described by IfTableRow,
// so that the walk over its rows stays portable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/os_codes.h"

namespace qx::os {

using oscode::kErrorInsufficientBuffer;

// One row of the interface table (MIB_IFROW, 860 bytes).
struct IfTableRow {
    uint16_t Name[256];
    uint32_t Index;
    uint32_t Type;
    uint32_t Mtu;
    uint32_t Speed;
    uint32_t PhysAddrLen;
    uint8_t PhysAddr[8];
    uint32_t AdminStatus;
    uint32_t OperStatus;
    uint32_t LastChange;
    uint32_t InOctets;
    uint32_t InUcastPkts;
    uint32_t InNUcastPkts;
    uint32_t InDiscards;
    uint32_t InErrors;
    uint32_t InUnknownProtos;
    uint32_t OutOctets;
    uint32_t OutUcastPkts;
    uint32_t OutNUcastPkts;
    uint32_t OutDiscards;
    uint32_t OutErrors;
    uint32_t OutQLen;
    uint32_t DescrLen;
    uint8_t Descr[256];
};
static_assert(sizeof(IfTableRow) == 860, "MIB_IFROW is 860 bytes");
static_assert(offsetof(IfTableRow, PhysAddr) == 532, "");
static_assert(offsetof(IfTableRow, InOctets) == 552, "");
static_assert(offsetof(IfTableRow, OutOctets) == 576, "");
static_assert(offsetof(IfTableRow, OutNUcastPkts) == 584, "");

// The table's header: the row count, then the rows (MIB_IFTABLE).
constexpr size_t kIfTableRowsOffset = 4;

// GetIfTable into table (size bytes at *size), unsorted. 0 on success; 122
// when the table does not fit, with *size set to the size it needs; another
// Win32 error code otherwise.
uint32_t GetInterfaceTable(void* table, uint32_t* size);

}  // namespace qx::os
