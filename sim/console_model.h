// The virtual notebook's console: standard output, the console control
// handler and console control events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/os_codes.h"

namespace qxsim {

class ConsoleModel {
  public:
    using Handler = int (*)(uint32_t ctrl_type);

    friend class Notebook;  // builds the one instance

    // Standard output of the simulated process. Echoed to the host's stdout
    // unless muted; captured for tests while a capture is on.
    void Write(const char* data, size_t len);
    void SetEcho(bool echo);
    void StartCapture();
    std::string TakeCapture();

    // GetStdHandle(STD_OUTPUT_HANDLE) answers INVALID_HANDLE_VALUE when false.
    void SetStdoutValid(bool valid);
    bool StdoutValid();

    // SetConsoleCtrlHandler: knob to make the installation fail.
    void SetInstallFails(bool fails);
    bool InstallHandler(Handler handler);

    // Delivers a console control event as Windows does: on a new thread, to the
    // handlers newest first; when none handles it, the default handler ends the
    // process with STATUS_CONTROL_C_EXIT. Windows' rule for a process that has
    // loaded user32.dll (or gdi32.dll): CTRL_LOGOFF_EVENT and
    // CTRL_SHUTDOWN_EVENT never reach its handlers (it learns of the session
    // end through its windows); such an event is withheld and counted.
    void RaiseCtrlEvent(uint32_t ctrl_type);
    void RaiseCtrlEventAt(int64_t vtime_ms, uint32_t ctrl_type);

    // The process loaded user32 (it created a window).
    void SetUser32Loaded(bool loaded);
    // Log-off and shutdown events that the rule above kept from the handlers.
    int WithheldEvents();

  private:
    std::mutex m_;
    bool echo_ = true;
    bool capturing_ = false;
    std::string capture_;
    bool stdout_valid_ = true;
    bool install_fails_ = false;
    std::vector<Handler> handlers_;
    bool user32_ = false;
    int withheld_ = 0;
};

constexpr uint32_t kCtrlLogoffEvent = 5;
constexpr uint32_t kCtrlShutdownEvent = 6;

using qx::oscode::kStatusControlCExit;

}  // namespace qxsim
