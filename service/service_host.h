// The service host's flow: ServiceMain, the stop handler, the daemon's launch
// and supervision, installation and the program's entry. Every OS call goes
// through os_service.h, so the whole flow runs on the virtual notebook too.
#pragma once

#include <cstdint>

namespace qx::service {

// The name under which the service is installed, registered and logged.
extern const char16_t kServiceName[];
// The daemon's command line, as the service starts it, and its program file,
// which lies beside the service's own.
extern const char16_t kDaemonCommandLine[];
extern const char16_t kDaemonFileName[];

// How long a terminated daemon gets to be gone before its handles are closed.
constexpr uint32_t kChildExitWaitMs = 5000;
// The wait hint of the start.
constexpr uint32_t kStartWaitHintMs = 3000;

// Runs on the service manager's thread for the service.
void ServiceMain();
// Runs on the dispatcher thread for every control the manager delivers.
void ServiceControlHandler(uint32_t control);

// "install" (any case) registers the program as a service; anything else
// connects to the service manager and runs the service. Returns the exit code.
int ServiceProgramMain(int argc, const char16_t* const* argv);

}  // namespace qx::service
