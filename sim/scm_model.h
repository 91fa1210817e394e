// The virtual notebook's service control manager: the service database
// (install, open, stop, query, delete) and the manager's side of a service
// process (dispatcher, control handler, status reports).
//
// As strict as the real manager for what our programs use, and loud about
// it: every violation is printed on standard error and kept for the test.
//  - status reports only through the handle of a registered handler, never
//    after SERVICE_STOPPED, with a known state and the own-process type;
//  - check points only on pending states, rising while one pending state is
//    reported again; the next report within a pending state's wait hint; no
//    START_PENDING once the service was RUNNING;
//  - controls reach the handler only when the reported state accepts them
//    (never while a start or stop is pending; interrogate always, any other
//    control only when its SERVICE_ACCEPT_* bit is reported, else
//    ERROR_INVALID_SERVICE_CONTROL), on the dispatcher thread, and the
//    handler has 30 s of (virtual) time to return;
//  - ServiceMain that returns with a handler registered has reported
//    SERVICE_STOPPED;
//  - service handles are closed once; a service deleted while handles are
//    open goes when the last one closes (until then it is marked for delete);
//  - service names compare case aside, and keep the case they were given.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/os_codes.h"
#include "sim/case_fold.h"
#include "sim/vkernel.h"
#include "sim/violation_log.h"

namespace qxsim {

// Win32 codes of the manager.
constexpr uint32_t kErrAccessDenied = qx::oscode::kErrorAccessDenied;
constexpr uint32_t kErrInvalidHandle = qx::oscode::kErrorInvalidHandle;
constexpr uint32_t kErrInvalidData = qx::oscode::kErrorInvalidData;
constexpr uint32_t kErrInvalidParameter = qx::oscode::kErrorInvalidParameter;
constexpr uint32_t kErrInvalidServiceControl = qx::oscode::kErrorInvalidServiceControl;
constexpr uint32_t kErrServiceRequestTimeout = qx::oscode::kErrorServiceRequestTimeout;
constexpr uint32_t kErrServiceAlreadyRunning = qx::oscode::kErrorServiceAlreadyRunning;
constexpr uint32_t kErrServiceDoesNotExist = qx::oscode::kErrorServiceDoesNotExist;
constexpr uint32_t kErrServiceCannotAcceptCtrl = qx::oscode::kErrorServiceCannotAcceptCtrl;
constexpr uint32_t kErrServiceNotActive = qx::oscode::kErrorServiceNotActive;
constexpr uint32_t kErrFailedServiceControllerConnect =
    qx::oscode::kErrorFailedServiceControllerConnect;
constexpr uint32_t kErrServiceMarkedForDelete = qx::oscode::kErrorServiceMarkedForDelete;
constexpr uint32_t kErrServiceExists = qx::oscode::kErrorServiceExists;

constexpr uint32_t kSvcStopped = 1;
constexpr uint32_t kSvcStartPending = 2;
constexpr uint32_t kSvcStopPending = 3;
constexpr uint32_t kSvcRunning = 4;
constexpr uint32_t kSvcControlStop = 1;
constexpr uint32_t kSvcControlPause = 2;
constexpr uint32_t kSvcControlContinue = 3;
constexpr uint32_t kSvcControlInterrogate = 4;
constexpr uint32_t kSvcControlParamChange = 6;
constexpr uint32_t kSvcAcceptStop = 1;
constexpr uint32_t kSvcAcceptPauseContinue = 2;
constexpr uint32_t kSvcAcceptParamChange = 8;
constexpr uint32_t kSvcOwnProcess = 0x10;

// Access rights the model checks.
constexpr uint32_t kSvcQueryStatus = 0x0004;
constexpr uint32_t kSvcStop = 0x0020;
constexpr uint32_t kSvcDelete = 0x10000;

// The manager's time limit for a control handler.
constexpr uint32_t kHandlerLimitMs = 30000;

// SERVICE_STATUS, field for field.
struct ScmStatus {
    uint32_t service_type = 0;
    uint32_t current_state = 0;
    uint32_t controls_accepted = 0;
    uint32_t win32_exit_code = 0;
    uint32_t service_specific_exit_code = 0;
    uint32_t check_point = 0;
    uint32_t wait_hint = 0;
};

class ScmModel {
  public:
    friend class Notebook;  // builds the one instance

    // An empty database, no service process, no violations.
    void Reset();

    // ---- the service process ---------------------------------------------
    // False: the program was started from a console, not by the manager.
    void SetStartedByManager(bool started);
    // Non-zero: RegisterServiceCtrlHandlerW fails with this code.
    void SetRegisterHandlerError(uint32_t error);

    // StartServiceCtrlDispatcherW: runs service_main on a thread of its own,
    // delivers controls to the registered handler on the calling thread and
    // returns once SERVICE_STOPPED was reported and service_main returned.
    // It also returns (true) when service_main returns without a handler: the
    // manager then times the start out (StartTimedOut()).
    bool RunDispatcher(const std::u16string& name, std::function<void()> service_main,
                       uint32_t* error);
    // RegisterServiceCtrlHandlerW: a status handle, or 0 with *error.
    uintptr_t RegisterHandler(const std::u16string& name, std::function<void(uint32_t)> handler,
                              uint32_t* error);
    // SetServiceStatus.
    bool SetStatus(uintptr_t handle, const ScmStatus& status, uint32_t* error);

    // ControlService on the running service process, as another program
    // sends it. The real call waits for the manager to decide and for the
    // handler; a control sent from a timer cannot wait, so it is queued and
    // decided (ControlResults: 0 delivered, or 1061 when the reported state
    // does not accept it) on the dispatcher thread, one at a time. Returns
    // 1062 at once when no service process runs, else 0.
    uint32_t SendControl(uint32_t control);
    // SendControl at a virtual time; the result goes to ControlResults().
    void SendControlAt(VTime when, uint32_t control);

    // The service process ended without the dispatcher returning (it was
    // killed): the run is over, its handler and status handle are gone, and
    // nothing it left waiting is woken again.
    void ServiceProcessEnded();

    std::vector<ScmStatus> StatusHistory();
    // The virtual time of each report of StatusHistory().
    std::vector<VTime> ReportTimes();
    std::vector<uint32_t> ControlResults();
    std::vector<uint32_t> DeliveredControls();
    bool StartTimedOut();

    // ---- the service database --------------------------------------------
    struct Service {
        std::u16string name;
        std::u16string display_name;
        std::u16string binary_path;
        uint32_t type = kSvcOwnProcess;
        uint32_t start_type = 3;     // demand start
        uint32_t error_control = 1;  // normal
        uint32_t state = kSvcStopped;
        // How a running service answers a stop: it is STOPPED this long after
        // the control (-1: never, it hangs in STOP_PENDING). A service added
        // in STOP_PENDING is STOPPED this long after it was added.
        int64_t stops_after_ms = 0;
        bool marked_for_delete = false;
    };
    // Adds (or replaces) a service as an installer would have.
    void AddService(const Service& service);
    // The service, or null when there is none (deleted ones are gone).
    const Service* Find(const std::u16string& name);
    void SetOpenManagerError(uint32_t error);
    // Non-zero: QueryServiceStatus fails with this code.
    void SetQueryError(uint32_t error);

    // OpenSCManagerW, CreateServiceW, OpenServiceW: a handle or 0 with *error.
    uintptr_t OpenManager(uint32_t* error);
    uintptr_t CreateService(uintptr_t manager, const Service& service, uint32_t* error);
    uintptr_t OpenService(uintptr_t manager, const std::u16string& name, uint32_t access,
                          uint32_t* error);
    // ControlService(SERVICE_CONTROL_STOP), QueryServiceStatus, DeleteService:
    // 0 or the code.
    uint32_t ControlStop(uintptr_t service);
    uint32_t QueryState(uintptr_t service, uint32_t* state);
    uint32_t DeleteService(uintptr_t service);
    // CloseServiceHandle.
    bool CloseHandle(uintptr_t handle);

    int OpenHandles();
    std::vector<std::string> Violations();

  private:
    // What one run of the service process leaves behind, cleared for the next.
    void ClearRunLocked();
    struct Handle {
        bool manager = false;
        std::u16string service;
        uint32_t access = 0;
    };
    Service* FindLocked(const std::u16string& name);
    bool HasHandlesLocked(const std::u16string& name);
    Handle* HandleLocked(uintptr_t handle, bool want_manager, const char* call);
    void CheckStatusLocked(const ScmStatus& status);
    uint32_t AcceptLocked(uint32_t control);
    void ScheduleStopLocked(const Service& service);

    std::mutex m_;
    uint64_t generation_ = 0;
    ViolationLog violations_{"service manager"};

    // The service process.
    bool started_by_manager_ = true;
    uint32_t register_error_ = 0;
    bool dispatching_ = false;
    uintptr_t status_handle_ = 0;
    std::function<void(uint32_t)> handler_;
    bool stopped_reported_ = false;
    bool was_running_ = false;
    bool main_returned_ = false;
    bool start_timed_out_ = false;
    std::vector<ScmStatus> history_;
    std::vector<VTime> report_times_;
    VTime last_report_at_ = 0;
    std::vector<uint32_t> pending_controls_;
    std::vector<uint32_t> control_results_;
    std::vector<uint32_t> delivered_;
    std::unique_ptr<Event> dispatcher_wake_;
    std::vector<std::unique_ptr<Event>> retired_events_;

    // The database.
    std::map<std::u16string, Service, CaseAsideLess> services_;
    std::map<uintptr_t, Handle> handles_;
    uintptr_t next_handle_ = 0x5C000;
    uint32_t open_manager_error_ = 0;
    uint32_t query_error_ = 0;
};

}  // namespace qxsim
