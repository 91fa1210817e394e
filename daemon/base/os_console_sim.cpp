#include "daemon/base/os_console.h"
#include "sim/notebook.h"
#include "sim/console_model.h"

namespace qx::os {

bool InstallConsoleHandler(ConsoleHandler handler) {
    return qxsim::Notebook::Current().Console().InstallHandler(handler);
}

}  // namespace qx::os
