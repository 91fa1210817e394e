#include "common/win/win32.h"

#include "uninstall/os_scm.h"

namespace qx::os {

void ScmClose(ScmHandle handle) {
    win::Dispose<win::UniqueServiceHandle>(static_cast<SC_HANDLE>(handle));
}

ScmOwner ScmOpenManager(uint32_t* error) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) *error = ::GetLastError();
    return ScmOwner(manager);
}

ScmOwner ScmOpenService(ScmHandle manager, const char16_t* name, uint32_t access, uint32_t* error) {
    SC_HANDLE service = ::OpenServiceW(static_cast<SC_HANDLE>(manager), win::W(name), access);
    if (service == nullptr) *error = ::GetLastError();
    return ScmOwner(service);
}

uint32_t ScmStopService(ScmHandle service) {
    SERVICE_STATUS status;
    if (::ControlService(static_cast<SC_HANDLE>(service), SERVICE_CONTROL_STOP, &status)) return 0;
    return ::GetLastError();
}

uint32_t ScmQueryState(ScmHandle service, uint32_t* state) {
    SERVICE_STATUS status;
    if (!::QueryServiceStatus(static_cast<SC_HANDLE>(service), &status)) return ::GetLastError();
    *state = status.dwCurrentState;
    return 0;
}

uint32_t ScmDeleteService(ScmHandle service) {
    if (::DeleteService(static_cast<SC_HANDLE>(service))) return 0;
    return ::GetLastError();
}

void ScmSleepMs(uint32_t ms) {
    ::Sleep(ms);
}

}  // namespace qx::os
