// qxsim's pictures of a session: the bus as a VCD waveform (--vcd) and the
// session as an HTML timeline (--html). Both watch the virtual notebook while
// the daemon runs and are written when the simulated process ends.
#pragma once

#include <string>

#include "tools/qxsim/i2c_vcd.h"

namespace qxsim {

struct SessionOutputOptions {
    std::string vcd_path;   // empty: no waveform
    std::string html_path;  // empty: no page
    I2cSpeed speed = I2cSpeed::Standard;
    std::string title;  // of the page
};

// Opens the files and starts watching; false with a message when a file
// cannot be created. Does nothing when neither path is set.
bool StartSessionOutputs(const SessionOutputOptions& options, std::string* error);

// True once a file could not be written when the session ended (the message
// is on standard error): qxsim then exits with 2 whatever the daemon said.
bool SessionOutputsFailed();

// qxsim's scenario reporter passes each action on (suspend and link-down spans).
void SessionOutputsOnScenario(const std::string& action);

}  // namespace qxsim
