#include "common/win/win32.h"

#include "daemon/base/os_console.h"

namespace qx::os {

namespace {
ConsoleHandler g_handler = nullptr;

BOOL WINAPI HandlerTrampoline(DWORD ctrl_type) {
    return g_handler(ctrl_type) != 0 ? TRUE : FALSE;
}
}  // namespace

bool InstallConsoleHandler(ConsoleHandler handler) {
    g_handler = handler;
    return ::SetConsoleCtrlHandler(HandlerTrampoline, TRUE) != FALSE;
}

}  // namespace qx::os
