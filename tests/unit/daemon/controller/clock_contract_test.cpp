// The wall clock's one contract: what the link reports' time stamps rely
// on, the same on every half. Only what holds on any machine's clock.
#include <gtest/gtest.h>

#include <string>

#include "daemon/controller/os_clock.h"
#include "tests/unit/daemon/controller/clock_contract.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using qx::os::SystemTimeAsFileTime;

// 2020-01-01 00:00:00 UTC in 100-ns units since 1601.
constexpr uint64_t k2020 = 132223104000000000ull;

TEST(ClockContractTest, EachHalfAnswersAsWindows) {
    ClockRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"whole milliseconds, the milliseconds the file time's own, after 2020",
         [] {
             uint64_t ft = 0;
             uint16_t ms = 0xFFFF;
             if (!SystemTimeAsFileTime(&ft, &ms)) return std::string("failed");
             std::string out = ft % 10000 == 0 ? "whole" : "not whole";
             out += ft / 10000 % 1000 == ms ? ", agree" : ", disagree";
             return out + (ft > k2020 ? ", after 2020" : ", before 2020");
         },
         "whole, agree, after 2020"},
        {"moves on with time (a timer may end a tick early), by no more than a while",
         [&rig] {
             uint64_t first = 0, second = 0;
             uint16_t ms = 0;
             if (!SystemTimeAsFileTime(&first, &ms)) return std::string("failed");
             rig.Pause(50);
             if (!SystemTimeAsFileTime(&second, &ms)) return std::string("failed");
             if (second < first) return std::string("went back");
             const uint64_t elapsed_ms = (second - first) / 10000;
             if (elapsed_ms >= 40 && elapsed_ms < 5000) return std::string("moved on");
             return "moved " + std::to_string(elapsed_ms) + " ms";
         },
         "moved on"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
