#include "service/service_host.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "common/os_codes.h"
#include "service/os_service.h"
#include "service/service_logic.h"

namespace qx::service {

const char16_t kServiceName[] = u"Halvorn Veltrane Service";
const char16_t kDaemonCommandLine[] = u"quellix.exe -a 3 -n 515 -o 134349066 -r 250";
const char16_t kDaemonFileName[] = u"quellix.exe";

namespace {

// The path limit of the program's own file name, terminator included.
constexpr size_t kMaxPath = 260;

StatusBook g_status_book;
std::atomic<os::ServiceStatusHandle> g_status_handle{nullptr};
// Set by the service thread before RUNNING is reported (stop requests are only
// accepted from then on), read by the stop handler on the dispatcher thread.
// Shared, not a plain pointer: the daemon may end by itself just as a stop
// arrives, and the service thread then drops the event while the handler is
// between reading the slot and setting the event. The handler's copy keeps
// the event open until it is done; whoever lets go last closes it.
std::shared_ptr<os::StopEvent> g_stop_event;

int32_t SendStatus(const StatusRecord& record) {
    return os::ServiceSetStatus(g_status_handle.load(std::memory_order_relaxed), record) ? 1 : 0;
}

int32_t ReportServiceStatus(uint32_t state, uint32_t win32_exit_code, uint32_t wait_hint) {
    return g_status_book.Report(state, win32_exit_code, wait_hint, SendStatus);
}

// `error` is the code of the failure this report is about, read by the caller
// before anything else ran: opening the event source would replace it.
void ReportServiceError(const char16_t* text, uint32_t error) {
    char16_t buffer[kEventTextChars];
    FormatServiceError(buffer, text, static_cast<int32_t>(error));
    os::EventLogWrite(kServiceName, os::kEventTypeError, 0xC0020001, buffer);
}

void ReportServiceInfo(const char16_t* text) {
    char16_t buffer[kEventTextChars];
    FormatServiceInfo(buffer, text);
    os::EventLogWrite(kServiceName, os::kEventTypeInformation, 0x2000, buffer);
}

// Empties the shared slot; the event closes now unless the stop handler
// still holds it, and then when the handler is done with it.
void CloseStopEvent() {
    std::atomic_store(&g_stop_event, std::shared_ptr<os::StopEvent>());
}

void Print(const char* format, uint32_t code) {
    char line[96];
    std::snprintf(line, sizeof line, format, static_cast<int>(code));
    os::ConsoleWrite(line);
}

void InstallService() {
    char16_t path[kMaxPath];
    const size_t length = os::ModulePath(path, kMaxPath);
    // A cut path (length == kMaxPath) would register some other program.
    if (length == 0 || length >= kMaxPath) {
        Print("Cannot install service (%d)\n", os::LastError());
        return;
    }
    char16_t quoted[kMaxPath + 2];
    QuoteBinaryPath(path, quoted, kMaxPath + 2);
    uint32_t error = 0;
    switch (os::ServiceInstall(kServiceName, quoted, &error)) {
        case os::InstallStep::kDone:
            os::ConsoleWrite("Service installed successfully\n");
            break;
        case os::InstallStep::kOpenManager:
            Print("OpenSCManager failed (%d)\n", error);
            break;
        case os::InstallStep::kCreateService:
            Print("CreateService failed (%d)\n", error);
            break;
    }
}

// Starts the daemon from the service's own folder inside a job that ends it
// when the job's last handle is closed: created suspended, put in the job,
// then let run, so that none of its instructions runs outside the job. A
// crashed or killed service then takes its daemon along, instead of leaving
// it steering on with the device held, out of reach of every later start
// and stop. A daemon that cannot be put in its job is ended before it ran:
// outside the job it could become exactly that orphan.
bool StartDaemon(os::UniqueJob* job, os::UniqueChild* child, uint32_t* error) {
    char16_t module[kMaxPath];
    const size_t length = os::ModulePath(module, kMaxPath);
    if (length == 0 || length >= kMaxPath) {
        *error = os::LastError();
        return false;
    }
    char16_t daemon[kMaxPath];
    if (!DaemonPathBeside(module, kDaemonFileName, daemon, kMaxPath)) {
        *error = oscode::kErrorFilenameExcedRange;
        return false;
    }
    job->reset(os::JobCreateKillOnClose(error));
    if (!*job) return false;
    child->reset(os::ChildCreateSuspended(daemon, kDaemonCommandLine, error));
    if (!*child) return false;
    if (os::ChildAssignToJob(child->get(), job->get(), error) &&
        os::ChildResume(child->get(), error)) {
        return true;
    }
    os::ChildTerminate(child->get(), *error);
    os::ChildWait(child->get(), kChildExitWaitMs);
    child->reset();
    return false;
}

bool IsInstall(const char16_t* arg) {
    static const char16_t kInstall[] = u"install";
    size_t i = 0;
    for (; kInstall[i] != 0; ++i) {
        char16_t c = arg[i];
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        if (c != kInstall[i]) return false;
    }
    return arg[i] == 0;
}

}  // namespace

void ServiceControlHandler(uint32_t control) {
    if (control != os::kServiceControlStop) return;
    ReportServiceStatus(kStateStopPending, os::kNoError, 0);
    const std::shared_ptr<os::StopEvent> stop = std::atomic_load(&g_stop_event);
    if (stop) os::StopEventSet(stop.get());
    g_status_book.ReportCurrent(SendStatus);
}

void ServiceMain() {
    // One run per process on Windows; the book starts empty for each run so
    // that the virtual notebook can run the service again in one process.
    g_status_book.Clear();
    uint32_t error = 0;
    os::ServiceStatusHandle handle =
        os::ServiceRegisterHandler(kServiceName, ServiceControlHandler, &error);
    if (handle == nullptr) {
        ReportServiceError(u"Service Handler Registration", error);
        return;
    }
    g_status_handle.store(handle, std::memory_order_relaxed);
    ReportServiceStatus(kStateStartPending, os::kNoError, kStartWaitHintMs);

    os::StopEvent* stop = os::StopEventCreate(&error);
    if (stop == nullptr) {
        ReportServiceStatus(kStateStopped, error, 0);
        return;
    }
    std::atomic_store(&g_stop_event, std::shared_ptr<os::StopEvent>(stop, os::StopEventClose));
    ReportServiceStatus(kStateRunning, os::kNoError, 0);

    os::UniqueJob job;
    os::UniqueChild child;
    if (!StartDaemon(&job, &child, &error)) {
        ReportServiceError(u"Unable to create process.", error);
        job.reset();
        CloseStopEvent();
        // The daemon never ran: the manager is told why instead of a clean stop.
        ReportServiceStatus(kStateStopped, error, 0);
        return;
    }

    uint32_t exit_code = os::kNoError;
    bool waiting = true;
    while (waiting) {
        const uint32_t result = os::WaitStopOrChild(stop, child.get(), os::kWaitForever, &error);
        switch (ClassifyWait(result)) {
            case WaitStep::kStopRequested:
                os::ChildTerminate(child.get(), 0);
                waiting = false;
                break;
            case WaitStep::kChildExited:
                waiting = false;
                break;
            case WaitStep::kWaitAgain:
                break;
            case WaitStep::kFailed:
                // A failed wait fails again at once; waiting on would spin and
                // flood the event log, so report it once and end the daemon.
                exit_code = error;
                ReportServiceError(u"Unable to control task.", error);
                os::ChildTerminate(child.get(), 0);
                waiting = false;
                break;
        }
    }

    os::ChildWait(child.get(), kChildExitWaitMs);
    // Closed here, not at the end of scope: once STOPPED is reported the
    // service manager may end this process at any moment. The job goes last
    // and takes along whatever the daemon may have left running in it.
    child.reset();
    job.reset();
    CloseStopEvent();

    ReportServiceInfo(u"Stopped.");
    ReportServiceStatus(kStateStopped, exit_code, 0);
}

int ServiceProgramMain(int argc, const char16_t* const* argv) {
    if (argc > 1 && IsInstall(argv[1])) {
        InstallService();
        return 0;
    }
    uint32_t error = 0;
    os::ServiceRunDispatcher(kServiceName, ServiceMain, &error);
    return 0;
}

}  // namespace qx::service
