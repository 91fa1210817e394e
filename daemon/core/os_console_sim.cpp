#include "daemon/core/os_console.h"
#include "sim/console_model.h"

namespace qx::os {

bool InstallConsoleHandler(ConsoleHandler handler) {
    return qxsim::ConsoleModel::Instance().InstallHandler(handler);
}

}  // namespace qx::os
