// Portable half of the service host: status bookkeeping, event texts, the
// child-wait decision and the quoted binary path. No Win32 types here, so the
// host tests reach all of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>

namespace qx::service {

constexpr uint32_t kServiceWin32OwnProcess = 0x10;
constexpr uint32_t kStateStopped = 1;
constexpr uint32_t kStateStartPending = 2;
constexpr uint32_t kStateStopPending = 3;
constexpr uint32_t kStateRunning = 4;
constexpr uint32_t kAcceptStop = 1;

// Field for field the layout of SERVICE_STATUS, so the Win32 half copies it
// across unchanged.
struct StatusRecord {
    uint32_t service_type;
    uint32_t current_state;
    uint32_t controls_accepted;
    uint32_t win32_exit_code;
    uint32_t service_specific_exit_code;
    uint32_t check_point;
    uint32_t wait_hint;
};
static_assert(sizeof(StatusRecord) == 28, "SERVICE_STATUS is seven DWORDs");
static_assert(offsetof(StatusRecord, current_state) == 4, "SERVICE_STATUS layout");
static_assert(offsetof(StatusRecord, check_point) == 20, "SERVICE_STATUS layout");
static_assert(offsetof(StatusRecord, wait_hint) == 24, "SERVICE_STATUS layout");

// Hands one record to the service manager; returns its nonzero/zero result.
using StatusSink = int32_t (*)(const StatusRecord& record);

// The process-wide status record. The stop handler (dispatcher thread) and
// the service thread both report, so every report runs under one lock: the
// record and the order in which the service manager sees the states agree.
class StatusBook {
  public:
    // Sets state, exit code and wait hint, derives the accepted controls and
    // the check point, and passes the record to the sink. Once STOPPED has
    // been reported nothing more is sent (the manager may already have let
    // go of the service); such a report returns 0.
    int32_t Report(uint32_t state, uint32_t win32_exit_code, uint32_t wait_hint, StatusSink sink);

    // The stop handler's second report: the current state again with exit
    // code 0 and no wait hint. Returns 0 without reporting after STOPPED.
    int32_t ReportCurrent(StatusSink sink);

    StatusRecord Snapshot() const;

    // Back to the state before the first report: a new run of the service.
    void Clear();

  private:
    int32_t ReportLocked(uint32_t state, uint32_t win32_exit_code, uint32_t wait_hint,
                         StatusSink sink);

    mutable std::mutex lock_;
    StatusRecord record_{kServiceWin32OwnProcess, 0, 0, 0, 0, 0, 0};
    uint32_t next_check_point_ = 1;
    bool stopped_ = false;
};

// Size of the event-log text buffer, in UTF-16 units with the terminator.
constexpr size_t kEventTextChars = 80;

// "Halvorn Veltrane Antenna Service Application <text> failed with <code>",
// cut to fit the buffer and always terminated.
void FormatServiceError(char16_t (&buffer)[kEventTextChars], const char16_t* text, int32_t code);
// "Halvorn Veltrane Antenna Service Application <text>", cut likewise.
void FormatServiceInfo(char16_t (&buffer)[kEventTextChars], const char16_t* text);

// What the service thread does with a WaitForMultipleObjects result on the
// pair (stop event, child process).
enum class WaitStep {
    kStopRequested,  // the stop event: end the child
    kChildExited,    // the daemon ended by itself
    kWaitAgain,      // time-out
    kFailed,         // the wait itself failed; it would fail again at once
};
WaitStep ClassifyWait(uint32_t wait_result);

// The daemon's program file: `file_name` in the folder of `module_path` (the
// service's own program file), so that the daemon is started by its full
// path and never looked for in the current directory or on PATH. False (out
// left empty) when the path names no folder or the result and its
// terminator exceed `capacity`.
bool DaemonPathBeside(const char16_t* module_path, const char16_t* file_name, char16_t* out,
                      size_t capacity);

// Wraps a module path in double quotes so that the service manager cannot
// read a path with spaces as a shorter program plus arguments. Returns false
// (out left empty) when the quoted path and terminator exceed `capacity`.
bool QuoteBinaryPath(const char16_t* path, char16_t* out, size_t capacity);

}  // namespace qx::service
