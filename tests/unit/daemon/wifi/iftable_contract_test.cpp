// The interface table seam's one contract: what the QCA provider's counter
// lookup relies on in GetIfTable's answers, the same on every half. Rows
// marked laid_out need the rig's own world.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "daemon/wifi/os_iftable.h"
#include "tests/unit/daemon/wifi/iphlp_contract.h"
#include "tests/wine/doubles/notebook_ids.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using qx::os::GetInterfaceTable;
using qx::os::IfTableRow;
using qx::os::kIfTableRowsOffset;

constexpr uint32_t kTooSmall = 122;  // ERROR_INSUFFICIENT_BUFFER
constexpr uint32_t kLoopbackType = 24;

// The size GetIfTable asks for when given no table.
uint32_t Needed() {
    uint32_t size = 0;
    GetInterfaceTable(nullptr, &size);
    return size;
}

// The table in a buffer of the size it asked for; empty when that failed.
std::vector<uint8_t> Fetch() {
    std::vector<uint8_t> table(Needed());
    uint32_t size = static_cast<uint32_t>(table.size());
    if (table.empty() || GetInterfaceTable(table.data(), &size) != 0) table.clear();
    return table;
}

uint32_t Count(const std::vector<uint8_t>& table) {
    uint32_t n = 0;
    std::memcpy(&n, table.data(), 4);
    return n;
}

IfTableRow RowAt(const std::vector<uint8_t>& table, uint32_t i) {
    IfTableRow row;
    std::memcpy(&row, table.data() + kIfTableRowsOffset + i * sizeof(IfTableRow), sizeof row);
    return row;
}

TEST(IfTableContractTest, EachHalfAnswersAsWindows) {
    IpHelperRig& rig = Rig();
    const std::vector<GatedRow> rows = {
        {"asked without a table: the size of the header and a row at least", false,
         [] {
             uint32_t size = 0;
             const uint32_t rc = GetInterfaceTable(nullptr, &size);
             return std::to_string(rc) +
                    (size >= kIfTableRowsOffset + sizeof(IfTableRow) ? " room for rows" : " short");
         },
         "122 room for rows"},
        {"a table one byte short: refused, the same size handed back", false,
         [] {
             const uint32_t needed = Needed();
             std::vector<uint8_t> table(needed);
             uint32_t size = needed - 1;
             const uint32_t rc = GetInterfaceTable(table.data(), &size);
             return std::to_string(rc) + (size == needed ? " same size" : " another size");
         },
         "122 same size"},
        {"a table of the size asked for holds every row it counts", false,
         [] {
             std::vector<uint8_t> table = Fetch();
             if (table.empty()) return std::string("failed");
             const uint64_t rows_end = kIfTableRowsOffset + Count(table) * sizeof(IfTableRow);
             return std::string(Count(table) > 0 && rows_end <= table.size() ? "rows fit"
                                                                             : "rows overrun");
         },
         "rows fit"},
        {"a larger table: done, its size not set", false,
         [] {
             const uint32_t given = Needed() + sizeof(IfTableRow);
             std::vector<uint8_t> table(given);
             uint32_t size = given;
             const uint32_t rc = GetInterfaceTable(table.data(), &size);
             return std::to_string(rc) + (size == given ? " size kept" : " size set");
         },
         "0 size kept"},
        {"the software loopback interface has a row, without an address", false,
         [] {
             std::vector<uint8_t> table = Fetch();
             for (uint32_t i = 0; i < (table.empty() ? 0 : Count(table)); ++i) {
                 const IfTableRow row = RowAt(table, i);
                 if (row.Type == kLoopbackType)
                     return "loopback, address length " + std::to_string(row.PhysAddrLen);
             }
             return std::string("no loopback");
         },
         "loopback, address length 0"},
        {"the Wi-Fi row by its address: its counters, 32 bits wide", true,
         [&rig] {
             rig.SetWifiCounters((1ull << 32) + 1500, 700, 9, (1ull << 32) + 4);
             const uint8_t mac[6] = {QX_NOTEBOOK_MAC_BYTES};
             std::vector<uint8_t> table = Fetch();
             for (uint32_t i = 0; i < (table.empty() ? 0 : Count(table)); ++i) {
                 const IfTableRow row = RowAt(table, i);
                 if (row.PhysAddrLen != 6 || std::memcmp(row.PhysAddr, mac, 6) != 0) continue;
                 return "in " + std::to_string(row.InOctets) + "/" +
                        std::to_string(row.InUcastPkts) + " out " + std::to_string(row.OutOctets) +
                        "/" + std::to_string(row.OutUcastPkts);
             }
             return std::string("no Wi-Fi row");
         },
         "in 1500/9 out 700/4"},
    };
    ExpectEachRow(rig, rows, rig.CanLayOut());
}

}  // namespace
}  // namespace qxtest
