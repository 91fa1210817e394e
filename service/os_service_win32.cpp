#include "common/win/win32.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "service/os_service.h"

namespace qx::os {

static_assert(sizeof(SERVICE_STATUS) == sizeof(service::StatusRecord), "status record layout");
static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW of 64-bit Windows");

namespace {

// The dispatcher and the manager call back without a context: the flow's
// entries are kept here for the two trampolines.
ServiceMainEntry g_main = nullptr;
ServiceControlEntry g_control = nullptr;

void WINAPI MainTrampoline(DWORD, LPWSTR*) {
    g_main();
}

void WINAPI ControlTrampoline(DWORD control) {
    g_control(control);
}

}  // namespace

struct StopEvent {
    win::UniqueHandle event;
};

struct ChildProcess {
    win::UniqueProcessInformation info;
};

struct Job {
    win::UniqueHandle job;
};

bool ServiceRunDispatcher(const char16_t* name, ServiceMainEntry main, uint32_t* error) {
    g_main = main;
    // The table's name is not written to, but the structure wants it writable.
    SERVICE_TABLE_ENTRYW dispatch_table[] = {{const_cast<wchar_t*>(win::W(name)), MainTrampoline},
                                             {nullptr, nullptr}};
    if (::StartServiceCtrlDispatcherW(dispatch_table)) return true;
    *error = ::GetLastError();
    return false;
}

ServiceStatusHandle ServiceRegisterHandler(const char16_t* name, ServiceControlEntry handler,
                                           uint32_t* error) {
    g_control = handler;
    SERVICE_STATUS_HANDLE handle = ::RegisterServiceCtrlHandlerW(win::W(name), ControlTrampoline);
    if (handle == nullptr) *error = ::GetLastError();
    return handle;
}

bool ServiceSetStatus(ServiceStatusHandle handle, const service::StatusRecord& record) {
    SERVICE_STATUS status;
    std::memcpy(&status, &record, sizeof status);
    return ::SetServiceStatus(static_cast<SERVICE_STATUS_HANDLE>(handle), &status) != FALSE;
}

StopEvent* StopEventCreate(uint32_t* error) {
    win::UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) {
        *error = ::GetLastError();
        return nullptr;
    }
    return new StopEvent{std::move(event)};
}

void StopEventSet(StopEvent* event) {
    ::SetEvent(event->event.get());
}

void StopEventClose(StopEvent* event) {
    delete event;
}

Job* JobCreateKillOnClose(uint32_t* error) {
    win::UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
    if (!job) {
        *error = ::GetLastError();
        return nullptr;
    }
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
    std::memset(&limits, 0, sizeof limits);
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits)) {
        *error = ::GetLastError();
        return nullptr;
    }
    return new Job{std::move(job)};
}

void JobClose(Job* job) {
    delete job;
}

ChildProcess* ChildCreateSuspended(const char16_t* application, const char16_t* command_line,
                                   uint32_t* error) {
    // CreateProcessW may write into the command line, so it gets a copy.
    size_t units = 0;
    while (command_line[units] != 0) ++units;
    wchar_t copy[512];
    if (units >= sizeof copy / sizeof copy[0]) {
        *error = ERROR_BUFFER_OVERFLOW;
        return nullptr;
    }
    std::memcpy(copy, command_line, (units + 1) * sizeof(wchar_t));
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    auto* child = new ChildProcess;
    if (!::CreateProcessW(win::W(application), copy, nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                          nullptr, nullptr, &startup, child->info.put())) {
        *error = ::GetLastError();
        delete child;
        return nullptr;
    }
    return child;
}

bool ChildAssignToJob(ChildProcess* child, Job* job, uint32_t* error) {
    if (::AssignProcessToJobObject(job->job.get(), child->info.get().hProcess)) return true;
    *error = ::GetLastError();
    return false;
}

bool ChildResume(ChildProcess* child, uint32_t* error) {
    if (::ResumeThread(child->info.get().hThread) != static_cast<DWORD>(-1)) return true;
    *error = ::GetLastError();
    return false;
}

uint32_t WaitStopOrChild(StopEvent* stop, ChildProcess* child, uint32_t ms, uint32_t* error) {
    HANDLE pair[2] = {stop->event.get(), child->info.get().hProcess};
    const DWORD result = ::WaitForMultipleObjects(2, pair, FALSE, ms);
    if (result == WAIT_FAILED) *error = ::GetLastError();
    return result;
}

void ChildTerminate(ChildProcess* child, uint32_t exit_code) {
    ::TerminateProcess(child->info.get().hProcess, exit_code);
}

bool ChildWait(ChildProcess* child, uint32_t ms) {
    return ::WaitForSingleObject(child->info.get().hProcess, ms) == WAIT_OBJECT_0;
}

void ChildClose(ChildProcess* child) {
    delete child;
}

void EventLogWrite(const char16_t* source, uint16_t type, uint32_t event_id, const char16_t* text) {
    win::UniqueEventSource handle(::RegisterEventSourceW(nullptr, win::W(source)));
    if (!handle) return;
    const wchar_t* strings[2] = {win::W(source), win::W(text)};
    ::ReportEventW(handle.get(), type, 0, event_id, nullptr, 2, 0, strings, nullptr);
}

uint32_t LastError() {
    return ::GetLastError();
}

size_t ModulePath(char16_t* out, size_t capacity) {
    return ::GetModuleFileNameW(nullptr, win::W(out), static_cast<DWORD>(capacity));
}

InstallStep ServiceInstall(const char16_t* name, const char16_t* binary_path, uint32_t* error) {
    win::UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        *error = ::GetLastError();
        return InstallStep::kOpenManager;
    }
    win::UniqueServiceHandle service(
        ::CreateServiceW(manager.get(), win::W(name), win::W(name), SERVICE_ALL_ACCESS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         win::W(binary_path), nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        *error = ::GetLastError();
        return InstallStep::kCreateService;
    }
    return InstallStep::kDone;
}

void ConsoleWrite(const char* text) {
    std::fputs(text, stdout);
}

}  // namespace qx::os
