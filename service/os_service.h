// OS seam of the service host: the service manager (dispatcher, control
// handler, status reports, installation), the daemon's child process, the
// stop event and the event log.
//
// On Windows these are StartServiceCtrlDispatcherW, RegisterServiceCtrlHandlerW,
// SetServiceStatus, CreateProcessW, WaitForMultipleObjects and friends; on the
// virtual notebook they run against the service-manager model (sim/scm_model.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/os_codes.h"
#include "common/win/unique_handle.h"
#include "service/service_logic.h"

namespace qx::os {

// Win32 codes the flow passes on or tells apart.
constexpr uint32_t kNoError = oscode::kErrorSuccess;
using oscode::kWaitFailed;
using oscode::kWaitForever;
using oscode::kWaitTimeout;
constexpr uint32_t kServiceControlStop = 1;

constexpr uint16_t kEventTypeError = 1;        // EVENTLOG_ERROR_TYPE
constexpr uint16_t kEventTypeInformation = 4;  // EVENTLOG_INFORMATION_TYPE

using ServiceMainEntry = void (*)();
using ServiceControlEntry = void (*)(uint32_t control);

// Connects the process to the service manager with a one-entry dispatch
// table and returns when the service has stopped. False (and the code in
// *error) when the process was not started by the manager.
bool ServiceRunDispatcher(const char16_t* name, ServiceMainEntry main, uint32_t* error);

// RegisterServiceCtrlHandlerW; null (and the code in *error) on failure.
// The handle belongs to the manager: it is never closed.
using ServiceStatusHandle = void*;
ServiceStatusHandle ServiceRegisterHandler(const char16_t* name, ServiceControlEntry handler,
                                           uint32_t* error);

// SetServiceStatus with the record as it stands.
bool ServiceSetStatus(ServiceStatusHandle handle, const service::StatusRecord& record);

// The stop event: manual reset, initially clear. Null on failure (code in *error).
struct StopEvent;
StopEvent* StopEventCreate(uint32_t* error);
void StopEventSet(StopEvent* event);
void StopEventClose(StopEvent* event);

// The daemon's job: a job object that ends every process in it when its last
// handle is closed (CreateJobObjectW, then SetInformationJobObject with
// JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE). Null (and the code in *error) when
// either call fails. The service holds it for as long as the daemon may run,
// so that the daemon cannot outlive the service, however the service ends.
struct Job;
Job* JobCreateKillOnClose(uint32_t* error);
void JobClose(Job* job);
using UniqueJob = win::UniqueAny<Job*, &JobClose>;

// The daemon as a child process: CreateProcessW with the program file by its
// full path (nothing is searched) and a writable copy of the command line,
// created suspended, so that it runs no instruction before it is in its job.
// Null (and the code in *error) when it cannot be created.
struct ChildProcess;
ChildProcess* ChildCreateSuspended(const char16_t* application, const char16_t* command_line,
                                   uint32_t* error);
// AssignProcessToJobObject; false (and the code in *error) on failure.
bool ChildAssignToJob(ChildProcess* child, Job* job, uint32_t* error);
// ResumeThread on the child's first thread: it starts running.
bool ChildResume(ChildProcess* child, uint32_t* error);
// WaitForMultipleObjects on the pair (stop event, child), any of them: 0 for
// the event, 1 for the child, kWaitTimeout, or kWaitFailed with the code in *error.
uint32_t WaitStopOrChild(StopEvent* stop, ChildProcess* child, uint32_t ms, uint32_t* error);
// TerminateProcess. It only starts the end: ChildWait says when it is gone.
void ChildTerminate(ChildProcess* child, uint32_t exit_code);
// True once the child has ended, false when ms passed first.
bool ChildWait(ChildProcess* child, uint32_t ms);
// Closes the process and thread handles.
void ChildClose(ChildProcess* child);
using UniqueChild = win::UniqueAny<ChildProcess*, &ChildClose>;

// RegisterEventSourceW(source), one ReportEventW with the two insertion
// strings (source, text), DeregisterEventSource. Nothing happens when the
// source cannot be registered.
void EventLogWrite(const char16_t* source, uint16_t type, uint32_t event_id, const char16_t* text);

// GetLastError of the calling thread.
uint32_t LastError();

// GetModuleFileNameW: the units written (without terminator), capacity when
// the path was cut, 0 on failure.
size_t ModulePath(char16_t* out, size_t capacity);

// Registers a demand-start own-process service with the given binary path.
enum class InstallStep { kDone, kOpenManager, kCreateService };
InstallStep ServiceInstall(const char16_t* name, const char16_t* binary_path, uint32_t* error);

// Text on standard output, as it stands.
void ConsoleWrite(const char* text);

}  // namespace qx::os
