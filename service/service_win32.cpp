// QXservice.exe: runs the steering daemon as a child process while the
// service runs and ends it when the service is stopped; "install" registers
// the program with the service manager.
#include "common/win/win32.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "service/service_logic.h"

namespace {

using qx::service::StatusRecord;
using qx::win::U16;
static_assert(sizeof(SERVICE_STATUS) == sizeof(StatusRecord), "status record layout");
static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW of 64-bit Windows");

wchar_t kServiceName[] = L"Halvorn Veltrane Service";

qx::service::StatusBook g_status_book;
SERVICE_STATUS_HANDLE g_status_handle = nullptr;
// Set by the service thread before RUNNING is reported (stop requests are only
// accepted from then on), read by the stop handler on the dispatcher thread.
std::atomic<HANDLE> g_stop_event{nullptr};

int32_t SendStatus(const StatusRecord& record) {
    SERVICE_STATUS status;
    std::memcpy(&status, &record, sizeof status);
    return ::SetServiceStatus(g_status_handle, &status) ? 1 : 0;
}

int32_t ReportServiceStatus(DWORD state, DWORD win32_exit_code, DWORD wait_hint) {
    return g_status_book.Report(state, win32_exit_code, wait_hint, SendStatus);
}

void WriteEvent(WORD type, DWORD event_id, const char16_t* formatted) {
    qx::win::UniqueEventSource source(::RegisterEventSourceW(nullptr, kServiceName));
    if (!source) return;
    const wchar_t* strings[2] = {kServiceName, qx::win::W(formatted)};
    ::ReportEventW(source.get(), type, 0, event_id, nullptr, 2, 0, strings, nullptr);
}

void ReportServiceError(const wchar_t* text) {
    // Read before anything else runs: opening the event source would
    // replace the code of the failure this report is about.
    const DWORD error = ::GetLastError();
    char16_t buffer[qx::service::kEventTextChars];
    qx::service::FormatServiceError(buffer, U16(text), static_cast<int32_t>(error));
    WriteEvent(EVENTLOG_ERROR_TYPE, 0xC0020001, buffer);
}

void ReportServiceInfo(const wchar_t* text) {
    char16_t buffer[qx::service::kEventTextChars];
    qx::service::FormatServiceInfo(buffer, U16(text));
    WriteEvent(EVENTLOG_INFORMATION_TYPE, 0x2000, buffer);
}

void WINAPI ServiceControlHandler(DWORD control) {
    if (control != SERVICE_CONTROL_STOP) return;
    ReportServiceStatus(SERVICE_STOP_PENDING, NO_ERROR, 0);
    HANDLE stop = g_stop_event.load(std::memory_order_relaxed);
    if (stop != nullptr) ::SetEvent(stop);
    g_status_book.ReportCurrent(SendStatus);
}

// Taken out of the shared slot before it is closed, so the stop handler
// never signals a closed handle.
void CloseStopEvent() {
    qx::win::Dispose<qx::win::UniqueHandle>(
        g_stop_event.exchange(nullptr, std::memory_order_relaxed));
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    g_status_handle = ::RegisterServiceCtrlHandlerW(kServiceName, ServiceControlHandler);
    if (g_status_handle == nullptr) {
        ReportServiceError(L"Service Handler Registration");
        return;
    }
    ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, 3000);

    HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr) {
        ReportServiceStatus(SERVICE_STOPPED, ::GetLastError(), 0);
        return;
    }
    g_stop_event.store(stop, std::memory_order_relaxed);
    ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);

    // CreateProcessW may write into the command line, so it gets a copy.
    wchar_t thisprocess[] = L"quellix.exe -a 3 -n 515 -o 134349066 -r 250";
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    qx::win::UniqueProcessInformation child;
    if (!::CreateProcessW(nullptr, thisprocess, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, child.put())) {
        const DWORD error = ::GetLastError();
        ReportServiceError(L"Unable to create process.");
        CloseStopEvent();
        // The daemon never ran: the manager is told why instead of a clean stop.
        ReportServiceStatus(SERVICE_STOPPED, error, 0);
        return;
    }

    const HANDLE process = child.get().hProcess;
    HANDLE ghEvents[2] = {stop, process};
    DWORD exit_code = NO_ERROR;
    bool waiting = true;
    while (waiting) {
        const DWORD result = ::WaitForMultipleObjects(2, ghEvents, FALSE, INFINITE);
        switch (qx::service::ClassifyWait(result)) {
            case qx::service::WaitStep::kStopRequested:
                ::TerminateProcess(process, 0);
                waiting = false;
                break;
            case qx::service::WaitStep::kChildExited:
                waiting = false;
                break;
            case qx::service::WaitStep::kWaitAgain:
                break;
            case qx::service::WaitStep::kFailed:
                // A failed wait fails again at once; waiting on would spin and
                // flood the event log, so report it once and end the daemon.
                exit_code = ::GetLastError();
                ReportServiceError(L"Unable to control task.");
                ::TerminateProcess(process, 0);
                waiting = false;
                break;
        }
    }

    ::WaitForSingleObject(process, 5000);
    // Closed here, not at the end of scope: once STOPPED is reported the
    // service manager may end this process at any moment.
    child.reset();
    CloseStopEvent();

    ReportServiceInfo(L"Stopped.");
    ReportServiceStatus(SERVICE_STOPPED, exit_code, 0);
}

void InstallService() {
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    // A cut path (length == MAX_PATH) would register some other program.
    if (length == 0 || length >= MAX_PATH) {
        std::printf("Cannot install service (%d)\n", static_cast<int>(::GetLastError()));
        return;
    }
    wchar_t quoted[MAX_PATH + 2];
    qx::service::QuoteBinaryPath(U16(path), U16(quoted), MAX_PATH + 2);

    qx::win::UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        std::printf("OpenSCManager failed (%d)\n", static_cast<int>(::GetLastError()));
        return;
    }
    qx::win::UniqueServiceHandle service(
        ::CreateServiceW(manager.get(), kServiceName, kServiceName, SERVICE_ALL_ACCESS,
                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                         quoted, nullptr, nullptr, nullptr, nullptr, nullptr));
    if (!service) {
        std::printf("CreateService failed (%d)\n", static_cast<int>(::GetLastError()));
    } else {
        std::printf("Service installed successfully\n");
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 1 && ::lstrcmpiW(argv[1], L"install") == 0) {
        InstallService();
        return 0;
    }
    SERVICE_TABLE_ENTRYW dispatch_table[] = {{kServiceName, ServiceMain}, {nullptr, nullptr}};
    ::StartServiceCtrlDispatcherW(dispatch_table);
    return 0;
}
