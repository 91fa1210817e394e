// The contract's rig under Wine (os_eventlog_win32.cpp): the prefix's own
// event log calls. Wine keeps no event log: its ReportEventW only traces the
// strings (WINEDEBUG=+eventlog) and reading the Application log back finds
// no record (ReadEventLogW fails with ERROR_HANDLE_EOF), so rows that read
// what was reported run on the notebook alone. Its RegisterEventSourceW
// answers one made-up handle for every name, the Security log's included,
// where Windows refuses that name with ERROR_ACCESS_DENIED: that row too is
// the notebook's alone.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/daemon/base/eventlog_contract.h"

namespace qxtest {
namespace {

class Win32Rig : public EventLogRig {
  public:
    bool Can(Needs n) const override { return n == Needs::kNothing; }
    std::string Run(const std::function<std::string()>& body) override { return body(); }
    std::vector<LoggedEvent> Events() override {
        ADD_FAILURE() << "the event log cannot be read back here";
        return {};
    }
};

}  // namespace

EventLogRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
