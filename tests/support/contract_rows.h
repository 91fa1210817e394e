// A seam's contract as one table: each row's body plays one behaviour on the
// half linked into the test, through the rig's Run (which lays out a fresh
// world for the row and checks the half's own rules afterwards), and every
// half must answer the row's text. Header-only: the Windows build of a
// contract has it too.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace qxtest {

struct ContractRow {
    const char* name;
    std::function<std::string()> body;
    std::string want;
};

// Rig: anything with std::string Run(const std::function<std::string()>&).
template <typename Rig>
void ExpectEachRow(Rig& rig, const std::vector<ContractRow>& rows) {
    for (const ContractRow& row : rows) EXPECT_EQ(rig.Run(row.body), row.want) << row.name;
}

// A row that only some halves can play (one that lays out adapters, or runs
// the heap out of memory): `gated` rows run only where `gated_rows_run`, as
// the rig says of its half; the others run everywhere.
struct GatedRow {
    const char* name;
    bool gated;
    std::function<std::string()> body;
    std::string want;
};

template <typename Rig>
void ExpectEachRow(Rig& rig, const std::vector<GatedRow>& rows, bool gated_rows_run) {
    for (const GatedRow& row : rows) {
        if (row.gated && !gated_rows_run) continue;
        EXPECT_EQ(rig.Run(row.body), row.want) << row.name;
    }
}

}  // namespace qxtest
