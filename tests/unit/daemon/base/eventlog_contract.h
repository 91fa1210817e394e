// The event log seam's contract (daemon/base/os_eventlog.h) as the daemon's
// logging builds on it, run against each half through a rig that reads back
// what reached the log: the notebook's event log model (_sim) and, under
// Wine, the real event log calls (_win32). Each rig is one file beside this
// one; a half that cannot show what a row needs skips that row.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qxtest {

struct LoggedEvent {
    std::u16string source;
    uint16_t type = 0;
    uint16_t category = 0;
    uint32_t event_id = 0;
    std::vector<std::u16string> strings;
};

// What a row needs of a half beyond registering.
enum class Needs {
    kNothing,
    kReadableLog,      // the events reported can be read back
    kSecurityRefused,  // the Security log's name is refused, as Windows documents
};

class EventLogRig {
  public:
    virtual ~EventLogRig() = default;
    virtual bool Can(Needs n) const = 0;
    // Runs body and checks afterwards that it left no source registered and
    // reported on none it had deregistered; returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // The events reported since Run began, oldest first.
    virtual std::vector<LoggedEvent> Events() = 0;
};

// The half linked into this test.
EventLogRig& Rig();

}  // namespace qxtest
