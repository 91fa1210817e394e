// Logs through the daemon's own logging into the real event log: a message
// with characters outside ASCII and one longer than the event text limit.
#include <cstring>
#include <string>

#include "daemon/base/logging.h"

int main() {
    if (qx::RegisterEventLogSource() != 0) return 2;
    qx::LogAlways("QUELLIX: Caf\xe9 \x80 na\xefve\n");
    std::string long_text(300, 'L');
    qx::LogAlways("%s\n", long_text.c_str());
    qx::DeregisterEventLogSource();
    qx::LogAlways("QUELLIX: after deregistration\n");
    return 0;
}
