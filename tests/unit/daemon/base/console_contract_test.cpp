// The console seam's one contract: what the daemon's shutdown relies on, the
// same on every half that can raise the event.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "daemon/base/os_console.h"
#include "daemon/base/os_process.h"
#include "daemon/base/os_thread.h"
#include "tests/unit/daemon/base/console_contract.h"
#include "tests/unit/daemon/base/process_contract.h"

namespace qxtest {
namespace {

using namespace qx::os;

std::atomic<int> g_seen{-1};
std::atomic<bool> g_own_thread{false};
std::thread::id g_main;
int g_answer = 1;

int Handler(uint32_t ctrl_type) {
    g_own_thread = std::this_thread::get_id() != g_main;
    g_seen = static_cast<int>(ctrl_type);
    return g_answer;
}

// Installs the handler answering `answer`, raises the event and waits for
// the handler: what it saw, or that the process goes on without it.
void InstallRaiseWait(uint32_t ctrl_type, int answer) {
    g_main = std::this_thread::get_id();
    g_answer = answer;
    Prepare();
    StdoutPrintf("install %d; ", InstallConsoleHandler(Handler) ? 1 : 0);
    Raise(ctrl_type);
    for (int i = 0; i < 100 && g_seen < 0; ++i) SleepMs(20);
    SleepMs(200);  // the default handler's turn, if the event goes on to it
    StdoutPrintf("handled %d%s; running", g_seen.load(),
                 g_own_thread ? " on a thread of its own" : "");
}

TEST(ConsoleContractTest, EachHalfAnswersAsWindows) {
    struct Case {
        const char* name;
        Needs needs;
        uint32_t ctrl_type;
        int answer;
        const char* want;
    } cases[] = {
        {"Ctrl+C reaches the handler on a thread of its own; handled, the process goes on",
         Needs::kCtrlC, kCtrlC, 1, "0: install 1; handled 0 on a thread of its own; running"},
        {"Ctrl+Break reaches it as 1", Needs::kCtrlBreak, kCtrlBreak, 1,
         "0: install 1; handled 1 on a thread of its own; running"},
        {"left unhandled, the default handler ends the process with STATUS_CONTROL_C_EXIT",
         Needs::kDefaultExitCode, kCtrlC, 0, "3221225786: install 1; "},
    };
    const int row = ChildRow();
    if (row >= 0) {
        InstallRaiseWait(cases[row].ctrl_type, cases[row].answer);
        std::exit(0);
    }
    for (int i = 0; i < static_cast<int>(sizeof cases / sizeof cases[0]); ++i) {
        const Case& c = cases[i];
        if (!Can(c.needs)) continue;
        const Ended e = Rig().RunAlone(i, [&c] { InstallRaiseWait(c.ctrl_type, c.answer); });
        EXPECT_EQ(std::to_string(e.exit_code) + ": " + e.out, c.want) << c.name;
    }
}

}  // namespace
}  // namespace qxtest
