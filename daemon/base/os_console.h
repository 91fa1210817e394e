// OS seam: the console control handler.
#pragma once

#include <cstdint>

namespace qx::os {

// Console control types as Windows numbers them.
constexpr uint32_t kCtrlC = 0;
constexpr uint32_t kCtrlBreak = 1;
constexpr uint32_t kCtrlClose = 2;
constexpr uint32_t kCtrlLogoff = 5;
constexpr uint32_t kCtrlShutdown = 6;

// The handler returns nonzero when it handled the event.
using ConsoleHandler = int (*)(uint32_t ctrl_type);

// SetConsoleCtrlHandler(handler, TRUE); false on failure. One handler per process.
bool InstallConsoleHandler(ConsoleHandler handler);

}  // namespace qx::os
