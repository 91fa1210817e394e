#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/os_codes.h"
#include "service/os_service.h"
#include "sim/console_model.h"
#include "sim/eventlog_model.h"
#include "sim/fault_plan.h"
#include "sim/process_model.h"
#include "sim/scm_model.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qx::os {

namespace {

// The error of the last failed call of this seam, as GetLastError would keep it.
thread_local uint32_t t_last_error = 0;

}  // namespace

struct StopEvent {
    bool set = false;
    bool closed = false;
    qxsim::Event* wake = nullptr;  // the waiter of WaitStopOrChild, while there is one
};

namespace {

// Closed events are kept, so that a use after the close is seen and reported
// instead of touching freed memory.
std::vector<std::unique_ptr<StopEvent>>& ClosedEvents() {
    static auto* closed = new std::vector<std::unique_ptr<StopEvent>>();
    return *closed;
}

[[noreturn]] void ClosedEventUsed(const char* call) {
    // A closed handle may already name another object on Windows: there is
    // no sound way on from here.
    std::fprintf(stderr, "qxsim: %s on a closed event handle\n", call);
    std::abort();
}

}  // namespace

struct ChildProcess {
    uintptr_t handle = 0;
};

struct Job {
    uintptr_t handle = 0;
};

bool ServiceRunDispatcher(const char16_t* name, ServiceMainEntry main, uint32_t* error) {
    if (qxsim::Notebook::Current().Scm().RunDispatcher(
            name, [main] { main(); }, error)) {
        return true;
    }
    t_last_error = *error;
    return false;
}

ServiceStatusHandle ServiceRegisterHandler(const char16_t* name, ServiceControlEntry handler,
                                           uint32_t* error) {
    const uintptr_t handle = qxsim::Notebook::Current().Scm().RegisterHandler(
        name, [handler](uint32_t control) { handler(control); }, error);
    if (handle == 0) t_last_error = *error;
    return reinterpret_cast<ServiceStatusHandle>(handle);
}

bool ServiceSetStatus(ServiceStatusHandle handle, const service::StatusRecord& record) {
    qxsim::ScmStatus status;
    status.service_type = record.service_type;
    status.current_state = record.current_state;
    status.controls_accepted = record.controls_accepted;
    status.win32_exit_code = record.win32_exit_code;
    status.service_specific_exit_code = record.service_specific_exit_code;
    status.check_point = record.check_point;
    status.wait_hint = record.wait_hint;
    uint32_t error = 0;
    const bool ok = qxsim::Notebook::Current().Scm().SetStatus(reinterpret_cast<uintptr_t>(handle),
                                                               status, &error);
    if (!ok) t_last_error = error;
    return ok;
}

StopEvent* StopEventCreate(uint32_t* error) {
    if (qxsim::InjectFault(qxsim::FaultKind::kEventCreate)) {
        *error = oscode::kErrorNotEnoughMemory;
        t_last_error = *error;
        return nullptr;
    }
    return new StopEvent;
}

void StopEventSet(StopEvent* event) {
    // SetEvent enters the kernel: another thread may run first.
    qxsim::Notebook::Current().Kernel().Sleep(0);
    if (event->closed) ClosedEventUsed("SetEvent");
    event->set = true;
    if (event->wake != nullptr) event->wake->Set();
}

void StopEventClose(StopEvent* event) {
    if (event->closed) ClosedEventUsed("CloseHandle");
    event->closed = true;
    ClosedEvents().emplace_back(event);
}

Job* JobCreateKillOnClose(uint32_t* error) {
    auto& processes = qxsim::Notebook::Current().Processes();
    const uintptr_t job = processes.CreateJob(error);
    if (job == 0) {
        t_last_error = *error;
        return nullptr;
    }
    if (!processes.SetKillOnClose(job, error)) {
        t_last_error = *error;
        processes.CloseJob(job);
        return nullptr;
    }
    return new Job{job};
}

void JobClose(Job* job) {
    qxsim::Notebook::Current().Processes().CloseJob(job->handle);
    delete job;
}

ChildProcess* ChildCreateSuspended(const char16_t* application, const char16_t* command_line,
                                   uint32_t* error) {
    const uintptr_t handle =
        qxsim::Notebook::Current().Processes().Start(application, command_line, true, error);
    if (handle == 0) {
        t_last_error = *error;
        return nullptr;
    }
    return new ChildProcess{handle};
}

bool ChildAssignToJob(ChildProcess* child, Job* job, uint32_t* error) {
    if (qxsim::Notebook::Current().Processes().AssignToJob(job->handle, child->handle, error)) {
        return true;
    }
    t_last_error = *error;
    return false;
}

bool ChildResume(ChildProcess* child, uint32_t* error) {
    if (qxsim::Notebook::Current().Processes().Resume(child->handle, error)) return true;
    t_last_error = *error;
    return false;
}

uint32_t WaitStopOrChild(StopEvent* stop, ChildProcess* child, uint32_t ms, uint32_t*) {
    auto& processes = qxsim::Notebook::Current().Processes();
    auto& kernel = qxsim::Notebook::Current().Kernel();
    // One wake-up event for both objects stands in for waiting on the pair.
    qxsim::Event wake(false, false);
    stop->wake = &wake;
    processes.Watch(child->handle, &wake);
    const qxsim::VTime deadline = ms == kWaitForever ? -1 : kernel.Now() + ms;
    uint32_t result = kWaitTimeout;
    for (;;) {
        if (stop->closed) ClosedEventUsed("WaitForMultipleObjects");
        // The lower index wins when both are signalled, as it does on Windows.
        if (stop->set) {
            result = 0;
            break;
        }
        if (processes.HasEnded(child->handle)) {
            result = 1;
            break;
        }
        uint32_t left = qxsim::kInfinite;
        if (deadline >= 0) {
            const qxsim::VTime now = kernel.Now();
            if (now >= deadline) break;
            left = static_cast<uint32_t>(deadline - now);
        }
        kernel.Wait(wake, left);
    }
    stop->wake = nullptr;
    processes.Watch(child->handle, nullptr);
    return result;
}

void ChildTerminate(ChildProcess* child, uint32_t exit_code) {
    qxsim::Notebook::Current().Processes().Terminate(child->handle, exit_code);
}

bool ChildWait(ChildProcess* child, uint32_t ms) {
    return qxsim::Notebook::Current().Processes().Wait(child->handle, ms);
}

void ChildClose(ChildProcess* child) {
    qxsim::Notebook::Current().Processes().Close(child->handle);
    delete child;
}

void EventLogWrite(const char16_t* source, uint16_t type, uint32_t event_id, const char16_t* text) {
    auto& log = qxsim::Notebook::Current().EventLog();
    const uintptr_t handle = log.Register(source);
    if (handle == 0) return;
    log.Report(handle, type, 0, event_id, {source, text});
    log.Deregister(handle);
}

uint32_t LastError() {
    return t_last_error;
}

size_t ModulePath(char16_t* out, size_t capacity) {
    // GetModuleFileNameW as Windows since Vista: a path that does not fit is
    // cut, terminated, and the capacity returned with ERROR_INSUFFICIENT_BUFFER.
    const std::u16string path = qxsim::Notebook::Current().Processes().OwnImagePath();
    if (capacity == 0) return 0;
    const size_t n = path.size() < capacity ? path.size() : capacity - 1;
    std::memcpy(out, path.data(), n * sizeof(char16_t));
    out[n] = 0;
    if (path.size() < capacity) return path.size();
    t_last_error = oscode::kErrorInsufficientBuffer;
    return capacity;
}

InstallStep ServiceInstall(const char16_t* name, const char16_t* binary_path, uint32_t* error) {
    auto& scm = qxsim::Notebook::Current().Scm();
    const uintptr_t manager = scm.OpenManager(error);
    if (manager == 0) return InstallStep::kOpenManager;
    qxsim::ScmModel::Service service;
    service.name = name;
    service.display_name = name;
    service.binary_path = binary_path;
    const uintptr_t handle = scm.CreateService(manager, service, error);
    InstallStep step = InstallStep::kDone;
    if (handle == 0) {
        step = InstallStep::kCreateService;
    } else {
        scm.CloseHandle(handle);
    }
    scm.CloseHandle(manager);
    return step;
}

void ConsoleWrite(const char* text) {
    qxsim::Notebook::Current().Console().Write(text, std::strlen(text));
}

}  // namespace qx::os
