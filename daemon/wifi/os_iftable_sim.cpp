#include <cstring>
#include <vector>

#include "common/os_codes.h"
#include "daemon/wifi/os_iftable.h"
#include "sim/fault_plan.h"
#include "sim/iphlp_model.h"
#include "sim/notebook.h"

namespace qx::os {

uint32_t GetInterfaceTable(void* table, uint32_t* size) {
    if (qxsim::InjectFault(qxsim::FaultKind::kProviderList)) return oscode::kErrorNotEnoughMemory;
    auto& model = qxsim::Notebook::Current().IpHelper();
    if (uint32_t failure = model.TakeIfTableFailure(); failure != 0) return failure;
    std::vector<qxsim::SimIfRow> rows = model.IfTable();
    const auto rows_bytes = static_cast<uint32_t>(rows.size() * sizeof(IfTableRow));
    const uint32_t short_by =
        model.IfTableShortBy() < rows_bytes ? model.IfTableShortBy() : rows_bytes;
    const auto needed = static_cast<uint32_t>(kIfTableRowsOffset + rows_bytes - short_by);
    if (table == nullptr || *size < needed) {
        *size = needed;
        return kErrorInsufficientBuffer;
    }
    auto* out = static_cast<uint8_t*>(table);
    uint32_t count = static_cast<uint32_t>(rows.size());
    std::memcpy(out, &count, 4);
    for (size_t i = 0; i < rows.size(); ++i) {
        const qxsim::SimIfRow& r = rows[i];
        IfTableRow row{};
        row.Index = r.if_index;
        row.Type = r.type;
        row.PhysAddrLen = r.phys_addr_len;
        std::memcpy(row.PhysAddr, r.phys_addr.data(),
                    r.phys_addr_len < r.phys_addr.size() ? r.phys_addr_len : r.phys_addr.size());
        // The real table's counters are 32 bits wide and wrap.
        row.InOctets = static_cast<uint32_t>(r.in_octets);
        row.OutOctets = static_cast<uint32_t>(r.out_octets);
        row.InUcastPkts = static_cast<uint32_t>(r.in_ucast_pkts);
        row.InNUcastPkts = static_cast<uint32_t>(r.in_nucast_pkts);
        row.OutUcastPkts = static_cast<uint32_t>(r.out_ucast_pkts);
        row.OutNUcastPkts = static_cast<uint32_t>(r.out_nucast_pkts);
        // Nothing is written past the size the table asked for.
        const size_t at = kIfTableRowsOffset + i * sizeof(IfTableRow);
        if (at >= needed) break;
        std::memcpy(out + at, &row, needed - at < sizeof row ? needed - at : sizeof row);
    }
    // Windows sets the size only when the buffer is too small: a caller must
    // not take it for the size of what was written.
    return 0;
}

}  // namespace qx::os
