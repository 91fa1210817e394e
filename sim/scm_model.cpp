#include "sim/scm_model.h"
#include "sim/notebook.h"

#include <cstdio>

namespace qxsim {

namespace {

bool IsPending(uint32_t state) {
    // START_PENDING, STOP_PENDING, CONTINUE_PENDING, PAUSE_PENDING
    return state == 2 || state == 3 || state == 5 || state == 6;
}

}  // namespace

void ScmModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    ++generation_;
    violations_.Clear();
    started_by_manager_ = true;
    register_error_ = 0;
    dispatching_ = false;
    ClearRunLocked();
    control_results_.clear();
    delivered_.clear();
    services_.clear();
    handles_.clear();
    open_manager_error_ = 0;
    query_error_ = 0;
}

void ScmModel::ClearRunLocked() {
    status_handle_ = 0;
    handler_ = nullptr;
    stopped_reported_ = false;
    was_running_ = false;
    main_returned_ = false;
    start_timed_out_ = false;
    history_.clear();
    report_times_.clear();
    pending_controls_.clear();
    // A thread of an earlier run may still be parked on it.
    if (dispatcher_wake_) retired_events_.push_back(std::move(dispatcher_wake_));
}

std::vector<std::string> ScmModel::Violations() {
    std::lock_guard<std::mutex> lk(m_);
    return violations_.List();
}

// ---- the service process ----------------------------------------------------

void ScmModel::SetStartedByManager(bool started) {
    std::lock_guard<std::mutex> lk(m_);
    started_by_manager_ = started;
}

void ScmModel::SetRegisterHandlerError(uint32_t error) {
    std::lock_guard<std::mutex> lk(m_);
    register_error_ = error;
}

bool ScmModel::RunDispatcher(const std::u16string&, std::function<void()> service_main,
                             uint32_t* error) {
    Event* wake = nullptr;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (!started_by_manager_) {
            *error = kErrFailedServiceControllerConnect;
            return false;
        }
        if (dispatching_) {
            *error = kErrServiceAlreadyRunning;
            return false;
        }
        dispatching_ = true;
        ClearRunLocked();
        dispatcher_wake_ = std::make_unique<Event>(false, false);
        wake = dispatcher_wake_.get();
    }
    auto thread = qxsim::Notebook::Current().Kernel().Spawn(
        "ServiceMain", [this, service_main, wake]() -> uint32_t {
            service_main();
            {
                std::lock_guard<std::mutex> lk(m_);
                main_returned_ = true;
            }
            wake->Set();
            return 0;
        });

    for (;;) {
        std::unique_lock<std::mutex> lk(m_);
        if (stopped_reported_) break;
        if (!pending_controls_.empty()) {
            const uint32_t control = pending_controls_.front();
            pending_controls_.erase(pending_controls_.begin());
            const uint32_t result = AcceptLocked(control);
            control_results_.push_back(result);
            if (result != 0) continue;
            std::function<void(uint32_t)> handler = handler_;
            lk.unlock();
            const VTime before = qxsim::Notebook::Current().Kernel().Now();
            handler(control);
            const VTime took = qxsim::Notebook::Current().Kernel().Now() - before;
            lk.lock();
            delivered_.push_back(control);
            if (took > kHandlerLimitMs) {
                violations_.Add("the control handler took " + std::to_string(took) +
                                " ms to return (the manager waits 30 s)");
            }
            continue;
        }
        if (main_returned_) {
            if (status_handle_ != 0) {
                violations_.Add("ServiceMain returned without reporting SERVICE_STOPPED");
            } else {
                // Nothing can report for the service: the manager gives the
                // start up when its time runs out.
                start_timed_out_ = true;
            }
            break;
        }
        lk.unlock();
        qxsim::Notebook::Current().Kernel().Wait(*wake, kInfinite);
    }
    // The process ends after the dispatcher returns; ServiceMain has nothing
    // left to do after STOPPED and is let finish.
    qxsim::Notebook::Current().Kernel().Wait(*thread, kInfinite);
    std::lock_guard<std::mutex> lk(m_);
    dispatching_ = false;
    handler_ = nullptr;
    return true;
}

uintptr_t ScmModel::RegisterHandler(const std::u16string&, std::function<void(uint32_t)> handler,
                                    uint32_t* error) {
    std::lock_guard<std::mutex> lk(m_);
    if (!dispatching_) {
        *error = kErrFailedServiceControllerConnect;
        return 0;
    }
    if (register_error_ != 0) {
        *error = register_error_;
        return 0;
    }
    handler_ = std::move(handler);
    status_handle_ = next_handle_++;
    return status_handle_;
}

void ScmModel::CheckStatusLocked(const ScmStatus& status) {
    const uint32_t state = status.current_state;
    if (!IsPending(state) && status.check_point != 0) {
        violations_.Add("check point " + std::to_string(status.check_point) + " on settled state " +
                        std::to_string(state));
    }
    if (IsPending(state) && !history_.empty() && history_.back().current_state == state &&
        status.check_point <= history_.back().check_point) {
        violations_.Add("check point did not rise while state " + std::to_string(state) +
                        " was reported again");
    }
    // A pending state promises the next report within its wait hint; past
    // it the manager takes the service for hung.
    if (!history_.empty() && IsPending(history_.back().current_state) &&
        history_.back().wait_hint != 0) {
        const VTime waited = qxsim::Notebook::Current().Kernel().Now() - last_report_at_;
        if (waited > static_cast<VTime>(history_.back().wait_hint)) {
            violations_.Add("no report within the wait hint of " +
                            std::to_string(history_.back().wait_hint) + " ms (" +
                            std::to_string(waited) + " ms passed)");
        }
    }
    if (state == kSvcStartPending && was_running_) {
        violations_.Add("START_PENDING reported after RUNNING");
    }
}

bool ScmModel::SetStatus(uintptr_t handle, const ScmStatus& status, uint32_t* error) {
    Event* wake = nullptr;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (handle == 0 || handle != status_handle_) {
            violations_.Add("SetServiceStatus with a handle the manager did not give out");
            *error = kErrInvalidHandle;
            return false;
        }
        if (stopped_reported_) {
            violations_.Add("status reported after SERVICE_STOPPED");
            *error = kErrInvalidHandle;
            return false;
        }
        if (status.current_state < 1 || status.current_state > 7 ||
            status.service_type != kSvcOwnProcess) {
            violations_.Add("SetServiceStatus with state " + std::to_string(status.current_state) +
                            " and type " + std::to_string(status.service_type));
            *error = kErrInvalidData;
            return false;
        }
        CheckStatusLocked(status);
        history_.push_back(status);
        last_report_at_ = qxsim::Notebook::Current().Kernel().Now();
        report_times_.push_back(last_report_at_);
        if (status.current_state == kSvcRunning) was_running_ = true;
        if (status.current_state == kSvcStopped) {
            stopped_reported_ = true;
            wake = dispatcher_wake_.get();
        }
    }
    if (wake != nullptr) wake->Set();
    return true;
}

uint32_t ScmModel::SendControl(uint32_t control) {
    Event* wake = nullptr;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (!dispatching_ || stopped_reported_) {
            control_results_.push_back(kErrServiceNotActive);
            return kErrServiceNotActive;
        }
        // The manager takes one control at a time: whether this one is
        // accepted is decided when the ones before it are done.
        pending_controls_.push_back(control);
        wake = dispatcher_wake_.get();
    }
    wake->Set();
    return 0;
}

uint32_t ScmModel::AcceptLocked(uint32_t control) {
    // The manager itself holds a starting service in START_PENDING.
    if (status_handle_ == 0 || history_.empty()) return kErrServiceCannotAcceptCtrl;
    const ScmStatus& now = history_.back();
    if (IsPending(now.current_state)) return kErrServiceCannotAcceptCtrl;
    // Every running service takes an interrogate; the service itself
    // decides what its own codes (128 to 255) mean.
    if (control == kSvcControlInterrogate || (control >= 128 && control <= 255)) return 0;
    uint32_t needs = 0;
    switch (control) {
        case kSvcControlStop:
            needs = kSvcAcceptStop;
            break;
        case kSvcControlPause:
        case kSvcControlContinue:
            needs = kSvcAcceptPauseContinue;
            break;
        case kSvcControlParamChange:
            needs = kSvcAcceptParamChange;
            break;
        default:
            // What ControlService cannot send (shutdown and the rest come
            // from the system only).
            return kErrInvalidParameter;
    }
    return (now.controls_accepted & needs) != 0 ? 0 : kErrInvalidServiceControl;
}

void ScmModel::SendControlAt(VTime when, uint32_t control) {
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lk(m_);
        generation = generation_;
    }
    qxsim::Notebook::Current().Kernel().At(when, [this, control, generation] {
        {
            std::lock_guard<std::mutex> lk(m_);
            if (generation != generation_) return;
        }
        SendControl(control);
    });
}

std::vector<ScmStatus> ScmModel::StatusHistory() {
    std::lock_guard<std::mutex> lk(m_);
    return history_;
}

std::vector<VTime> ScmModel::ReportTimes() {
    std::lock_guard<std::mutex> lk(m_);
    return report_times_;
}

void ScmModel::ServiceProcessEnded() {
    std::lock_guard<std::mutex> lk(m_);
    if (!dispatching_) return;
    dispatching_ = false;
    status_handle_ = 0;
    handler_ = nullptr;
    pending_controls_.clear();
    // The dead dispatcher is parked on it; only a new run makes a new one.
    if (dispatcher_wake_) retired_events_.push_back(std::move(dispatcher_wake_));
}

std::vector<uint32_t> ScmModel::ControlResults() {
    std::lock_guard<std::mutex> lk(m_);
    return control_results_;
}

std::vector<uint32_t> ScmModel::DeliveredControls() {
    std::lock_guard<std::mutex> lk(m_);
    return delivered_;
}

bool ScmModel::StartTimedOut() {
    std::lock_guard<std::mutex> lk(m_);
    return start_timed_out_;
}

// ---- the service database ---------------------------------------------------

void ScmModel::AddService(const Service& service) {
    std::lock_guard<std::mutex> lk(m_);
    services_[service.name] = service;
    // One already on its way down gets there in its own time.
    if (service.state == kSvcStopPending) ScheduleStopLocked(service);
}

void ScmModel::ScheduleStopLocked(const Service& service) {
    if (service.stops_after_ms < 0) return;
    const uint64_t generation = generation_;
    const std::u16string name = service.name;
    qxsim::Notebook::Current().Kernel().At(
        qxsim::Notebook::Current().Kernel().Now() + service.stops_after_ms,
        [this, generation, name] {
            std::lock_guard<std::mutex> inner(m_);
            if (generation != generation_) return;
            Service* later = FindLocked(name);
            if (later == nullptr) return;
            later->state = kSvcStopped;
            if (later->marked_for_delete && !HasHandlesLocked(name)) services_.erase(name);
        });
}

ScmModel::Service* ScmModel::FindLocked(const std::u16string& name) {
    auto it = services_.find(name);
    return it == services_.end() ? nullptr : &it->second;
}

const ScmModel::Service* ScmModel::Find(const std::u16string& name) {
    std::lock_guard<std::mutex> lk(m_);
    return FindLocked(name);
}

void ScmModel::SetOpenManagerError(uint32_t error) {
    std::lock_guard<std::mutex> lk(m_);
    open_manager_error_ = error;
}

void ScmModel::SetQueryError(uint32_t error) {
    std::lock_guard<std::mutex> lk(m_);
    query_error_ = error;
}

ScmModel::Handle* ScmModel::HandleLocked(uintptr_t handle, bool want_manager, const char* call) {
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        violations_.Add(std::string(call) + " on a handle that is not open");
        return nullptr;
    }
    if (it->second.manager != want_manager) {
        violations_.Add(std::string(call) + (want_manager
                                                 ? " on a service handle, not the manager's"
                                                 : " on the manager's handle, not a service's"));
        return nullptr;
    }
    return &it->second;
}

uintptr_t ScmModel::OpenManager(uint32_t* error) {
    std::lock_guard<std::mutex> lk(m_);
    if (open_manager_error_ != 0) {
        *error = open_manager_error_;
        return 0;
    }
    const uintptr_t handle = next_handle_++;
    handles_[handle] = Handle{true, u"", 0};
    return handle;
}

uintptr_t ScmModel::CreateService(uintptr_t manager, const Service& service, uint32_t* error) {
    std::lock_guard<std::mutex> lk(m_);
    if (HandleLocked(manager, true, "CreateServiceW") == nullptr) {
        *error = kErrInvalidHandle;
        return 0;
    }
    if (const Service* existing = FindLocked(service.name)) {
        *error = existing->marked_for_delete ? kErrServiceMarkedForDelete : kErrServiceExists;
        return 0;
    }
    services_[service.name] = service;
    const uintptr_t handle = next_handle_++;
    handles_[handle] = Handle{false, service.name, 0xF01FF};  // SERVICE_ALL_ACCESS
    return handle;
}

uintptr_t ScmModel::OpenService(uintptr_t manager, const std::u16string& name, uint32_t access,
                                uint32_t* error) {
    std::lock_guard<std::mutex> lk(m_);
    if (HandleLocked(manager, true, "OpenServiceW") == nullptr) {
        *error = kErrInvalidHandle;
        return 0;
    }
    if (FindLocked(name) == nullptr) {
        *error = kErrServiceDoesNotExist;
        return 0;
    }
    const uintptr_t handle = next_handle_++;
    handles_[handle] = Handle{false, name, access};
    return handle;
}

uint32_t ScmModel::ControlStop(uintptr_t service) {
    std::lock_guard<std::mutex> lk(m_);
    Handle* h = HandleLocked(service, false, "ControlService");
    if (h == nullptr) return kErrInvalidHandle;
    if ((h->access & kSvcStop) == 0) return kErrAccessDenied;
    Service* s = FindLocked(h->service);
    if (s->state == kSvcStopped) return kErrServiceNotActive;
    if (IsPending(s->state)) return kErrServiceCannotAcceptCtrl;
    s->state = kSvcStopPending;
    ScheduleStopLocked(*s);
    return 0;
}

uint32_t ScmModel::QueryState(uintptr_t service, uint32_t* state) {
    std::lock_guard<std::mutex> lk(m_);
    Handle* h = HandleLocked(service, false, "QueryServiceStatus");
    if (h == nullptr) return kErrInvalidHandle;
    if ((h->access & kSvcQueryStatus) == 0) return kErrAccessDenied;
    if (query_error_ != 0) return query_error_;
    *state = FindLocked(h->service)->state;
    return 0;
}

uint32_t ScmModel::DeleteService(uintptr_t service) {
    std::lock_guard<std::mutex> lk(m_);
    Handle* h = HandleLocked(service, false, "DeleteService");
    if (h == nullptr) return kErrInvalidHandle;
    if ((h->access & kSvcDelete) == 0) return kErrAccessDenied;
    Service* s = FindLocked(h->service);
    if (s->marked_for_delete) return kErrServiceMarkedForDelete;
    s->marked_for_delete = true;
    return 0;
}

bool ScmModel::CloseHandle(uintptr_t handle) {
    std::lock_guard<std::mutex> lk(m_);
    auto it = handles_.find(handle);
    if (it == handles_.end()) {
        violations_.Add("CloseServiceHandle on a handle that is not open");
        return false;
    }
    const Handle closed = it->second;
    handles_.erase(it);
    if (closed.manager) return true;
    // A service marked for delete goes with the last handle to it, once stopped.
    if (HasHandlesLocked(closed.service)) return true;
    Service* s = FindLocked(closed.service);
    if (s != nullptr && s->marked_for_delete && s->state == kSvcStopped) {
        services_.erase(closed.service);
    }
    return true;
}

bool ScmModel::HasHandlesLocked(const std::u16string& name) {
    for (const auto& h : handles_) {
        if (h.second.manager) continue;
        if (SameCaseAside(h.second.service, name)) return true;
    }
    return false;
}

int ScmModel::OpenHandles() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(handles_.size());
}

}  // namespace qxsim
