// The fault plan on its own: per-kind counts, exactly the n-th call, or
// every call from it on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "sim/fault_plan.h"
#include "sim/notebook.h"

namespace {

using qxsim::FaultKind;
using qxsim::FaultPlan;

TEST(FaultPlanTest, FailsTheChosenCallsOfOneKind) {
    struct Case {
        uint64_t at;
        bool from_then_on;
        const char* pattern;  // calls 1..8 of the armed kind: x fails
    };
    const Case cases[] = {
        {0, false, "........"}, {1, false, "x......."}, {3, false, "..x....."},
        {8, false, ".......x"}, {9, false, "........"}, {3, true, "..xxxxxx"},
        {1, true, "xxxxxxxx"},
    };
    auto& plan = qxsim::Notebook::Current().Faults();
    for (const Case& c : cases) {
        plan.Reset();
        plan.FailCall(FaultKind::kEventCreate, c.at, c.from_then_on);
        std::string seen;
        for (int i = 0; i < 8; ++i) {
            // Another kind in between must neither fail nor shift the count.
            EXPECT_FALSE(plan.Fails(FaultKind::kThreadCreate));
            seen += plan.Fails(FaultKind::kEventCreate) ? 'x' : '.';
        }
        EXPECT_EQ(seen, c.pattern) << "at " << c.at << (c.from_then_on ? " on" : "");
        EXPECT_EQ(plan.Calls(FaultKind::kEventCreate), 8u);
        EXPECT_EQ(plan.Calls(FaultKind::kThreadCreate), 8u);
        EXPECT_EQ(plan.Injected(FaultKind::kEventCreate),
                  static_cast<uint64_t>(std::count(seen.begin(), seen.end(), 'x')));
    }
    plan.Reset();
    EXPECT_EQ(plan.Calls(FaultKind::kEventCreate), 0u);
    EXPECT_FALSE(plan.Fails(FaultKind::kEventCreate));
}

TEST(FaultPlanTest, NamesGoBothWays) {
    for (int k = 0; k < qxsim::kFaultKinds; ++k) {
        auto kind = static_cast<FaultKind>(k);
        FaultKind back = FaultKind::kCount;
        ASSERT_TRUE(qxsim::FaultKindFromName(qxsim::FaultKindName(kind), &back)) << k;
        EXPECT_EQ(back, kind);
    }
    FaultKind none;
    EXPECT_FALSE(qxsim::FaultKindFromName("disk", &none));
}

}  // namespace
