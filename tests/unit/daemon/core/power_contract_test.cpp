// The modern-standby seam's one contract: what the power handlers rely on,
// the same on every half. The registration lasts as long as the process, so
// the rows that register come last and in this order.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "daemon/core/os_power.h"
#include "tests/unit/daemon/core/power_contract.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using qx::os::FollowConsoleDisplay;
using qx::os::ModernStandbySupported;

// The states the handler heard, on the power manager's threads.
std::mutex g_mutex;
std::vector<uint32_t> g_heard;

void OnDisplayState(uint32_t state) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_heard.push_back(state);
}

size_t Heard() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_heard.size();
}

// Up to two seconds for the handler to have heard `count` states.
void AwaitHeard(size_t count) {
    for (int i = 0; i < 200 && Heard() < count; ++i) Rig().Pause(10);
}

std::string HeardText() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::string out;
    for (uint32_t s : g_heard) out += std::to_string(s) + " ";
    return out;
}

std::string Follow() {
    return FollowConsoleDisplay(OnDisplayState) ? "registered" : "refused";
}

TEST(PowerContractTest, EachHalfAnswersAsWindows) {
    PowerRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"AoAc set", [] { return std::to_string(ModernStandbySupported()); }, "1"},
        {"AoAc clear",
         [&rig] {
             rig.SetModernStandby(false);
             return std::to_string(ModernStandbySupported());
         },
         "0"},
        {"a refused registration, and nothing heard",
         [&rig] {
             rig.RefuseRegistration();
             std::string out = Follow();
             rig.Pause(200);
             return out + ", heard " + HeardText();
         },
         "refused, heard "},
        {"the current state at once, then each change; a second registration refused",
         [&rig] {
             rig.SetDisplay(2);
             std::string out = Follow();
             AwaitHeard(1);
             rig.SetDisplay(0);
             AwaitHeard(2);
             rig.SetDisplay(1);
             AwaitHeard(3);
             out += ", heard " + HeardText();
             return out + ", again " + Follow();
         },
         "registered, heard 2 0 1 , again refused"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
