// The power window's one contract: what the power handlers rely on, the same
// on every half.
#include <gtest/gtest.h>

#include <string>

#include "daemon/core/os_power_window.h"
#include "tests/unit/daemon/core/power_window_contract.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using qx::os::StartPowerWindow;
using qx::os::StopPowerWindow;

// What the handlers saw, on the window thread, in order.
std::string g_seen;
bool g_agree = true;

const qx::os::PowerWindowHandlers kHandlers = {
    [](uintptr_t wparam) { g_seen += "broadcast " + std::to_string(wparam) + ", "; },
    [] {
        g_seen += "query, ";
        return g_agree;
    },
    [](bool ending, bool logoff) {
        g_seen += std::string("end ") + (ending ? "1" : "0") + (logoff ? " logoff" : "") + ", ";
    },
};

// The window's life around body; what the handlers saw.
std::string Around(const std::function<void()>& body) {
    g_seen.clear();
    if (!StartPowerWindow(kHandlers)) return "not started";
    body();
    StopPowerWindow();
    return g_seen;
}

std::string SessionEnd(bool agree, bool ends, bool logoff) {
    g_agree = agree;
    std::string answer;
    std::string seen = Around([&] { answer = Rig().EndSession(ends, logoff) ? "TRUE" : "FALSE"; });
    g_agree = true;
    return seen + answer;
}

TEST(PowerWindowContractTest, EachHalfAnswersAsWindows) {
    PowerWindowRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"broadcasts in order, with their codes (PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC)",
         [&rig] {
             return Around([&rig] {
                 rig.Broadcast(4);
                 rig.Broadcast(18);
             });
         },
         "broadcast 4, broadcast 18, "},
        {"the session ends", [] { return SessionEnd(true, true, false); }, "query, end 1, TRUE"},
        {"the handler keeps the session", [] { return SessionEnd(false, true, false); },
         "query, end 0, FALSE"},
        {"another program kept it", [] { return SessionEnd(true, false, false); },
         "query, end 0, TRUE"},
        {"a log-off", [] { return SessionEnd(true, true, true); }, "query, end 1 logoff, TRUE"},
        {"after a stop no window is left to broadcast to",
         [&rig] {
             std::string seen = Around([] {});
             rig.Broadcast(4);
             return seen + g_seen;
         },
         ""},
        {"a second life after a stop",
         [&rig] {
             Around([] {});
             return Around([&rig] { rig.Broadcast(10); });
         },
         "broadcast 10, "},
        {"a stop without a start does nothing",
         [] {
             StopPowerWindow();
             return std::string("stopped");
         },
         "stopped"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
