// The contract's rig under Wine (os_scm_win32.cpp): the prefix's own service
// manager, with our service host and the stand-in daemon beside it
// (run-gtest.sh puts both in C:\QuellixService) installed as the service,
// which is stopped and deleted again after each row.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/uninstall/scm_contract.h"
#include "tests/support/text16.h"

namespace qxtest {
namespace {

const wchar_t kImage[] = L"C:\\QuellixService\\QXservice.exe";

// Waits up to 20 s for the state; false when it never came.
bool WaitFor(SC_HANDLE service, DWORD state) {
    for (int i = 0; i < 200; ++i) {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(service, &status)) return false;
        if (status.dwCurrentState == state) return true;
        Sleep(100);
    }
    return false;
}

// Whether the service is gone from the database, given a few seconds: the
// manager removes a deleted one once its last handle is closed.
bool Gone(SC_HANDLE manager) {
    for (int i = 0; i < 50; ++i) {
        SC_HANDLE service = OpenServiceW(manager, W(kScmService), SERVICE_QUERY_STATUS);
        if (service == nullptr && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) return true;
        if (service != nullptr) CloseServiceHandle(service);
        Sleep(100);
    }
    return false;
}

class Win32Rig : public ScmRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        Remove();
        std::string out = body();
        EXPECT_TRUE(Remove()) << "the test's service was not removed";
        return out;
    }
    void AddService(bool running) override {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service =
            CreateServiceW(manager, W(kScmService), W(kScmService), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                           kImage, nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service == nullptr) {
            ADD_FAILURE() << "CreateServiceW: " << GetLastError();
        } else if (running &&
                   (!StartServiceW(service, 0, nullptr) || !WaitFor(service, SERVICE_RUNNING))) {
            ADD_FAILURE() << "the service did not start: " << GetLastError();
        }
        if (service != nullptr) CloseServiceHandle(service);
        CloseServiceHandle(manager);
    }

  private:
    // Stops and deletes the service when there is one; true when it is gone.
    static bool Remove() {
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service = OpenServiceW(manager, W(kScmService), SERVICE_ALL_ACCESS);
        if (service != nullptr) {
            SERVICE_STATUS status;
            if (ControlService(service, SERVICE_CONTROL_STOP, &status)) {
                WaitFor(service, SERVICE_STOPPED);
            }
            DeleteService(service);
            CloseServiceHandle(service);
        }
        const bool gone = Gone(manager);
        CloseServiceHandle(manager);
        return gone;
    }
};

}  // namespace

ScmRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
