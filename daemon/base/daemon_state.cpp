#include "daemon/base/daemon_state.h"

#include "daemon/base/logging.h"

namespace qx {

DaemonSettingsT DaemonSettings;
SteeringContextT SteeringContext;

namespace {
// The log below the settings learns its verbosity from here, before main.
[[maybe_unused]] const bool g_log_gated = (GateLogOn(&DaemonSettings.Verbosity), true);
}  // namespace

}  // namespace qx
