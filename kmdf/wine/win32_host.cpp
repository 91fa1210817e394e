// What the framework double asks of user-mode Windows: winedevice.exe is a
// process like any other, with a service manager and a registry.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <string>

#include "kmdf/wine/fx_wine.h"

namespace kmdfwine {

namespace {

// Reads a string value; false when the key or the value is missing.
bool ReadString(const std::wstring& key, const wchar_t* value, std::wstring* out) {
    wchar_t buffer[512];
    DWORD size = sizeof(buffer);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ, nullptr, buffer,
                     &size) != ERROR_SUCCESS) {
        return false;
    }
    *out = buffer;
    return true;
}

std::wstring EnumKey(const wchar_t* instance) {
    return std::wstring(L"System\\CurrentControlSet\\Enum\\") + instance;
}

}  // namespace

bool WaitServiceRunning(const wchar_t* service, uint32_t ms, const std::atomic<bool>* stop) {
    const ULONGLONG deadline = GetTickCount64() + ms;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return false;
    SC_HANDLE handle = OpenServiceW(manager, service, SERVICE_QUERY_STATUS);
    bool running = false;
    while (handle != nullptr && !*stop && GetTickCount64() < deadline) {
        SERVICE_STATUS status;
        if (!QueryServiceStatus(handle, &status)) break;
        if (status.dwCurrentState == SERVICE_RUNNING) {
            running = true;
            break;
        }
        if (status.dwCurrentState == SERVICE_STOPPED && status.dwWin32ExitCode != 0) break;
        Sleep(10);
    }
    if (handle != nullptr) CloseServiceHandle(handle);
    CloseServiceHandle(manager);
    return running;
}

// As Plug and Play keeps it: the instance's "Driver" names its key under the
// class, and that key's "InfPath" the installed copy of the INF in %SystemRoot%\INF.
bool InstalledInfPath(const wchar_t* instance, char* path, size_t size) {
    std::wstring driver, inf;
    if (!ReadString(EnumKey(instance), L"Driver", &driver) ||
        !ReadString(L"System\\CurrentControlSet\\Control\\Class\\" + driver, L"InfPath", &inf) ||
        inf.find_first_of(L"\\/:") != std::wstring::npos) {
        return false;
    }
    wchar_t windows[MAX_PATH];
    const UINT n = GetWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    const std::wstring full = std::wstring(windows) + L"\\inf\\" + inf;
    const int bytes = WideCharToMultiByte(CP_ACP, 0, full.c_str(), -1, path, static_cast<int>(size),
                                          nullptr, nullptr);
    return bytes > 0;
}

int ReadDeviceSetting(const wchar_t* instance, const wchar_t* subkey, const wchar_t* value,
                      uint32_t* data) {
    const std::wstring key = EnumKey(instance) + L"\\Device Parameters\\" + subkey;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, size = sizeof(DWORD), read = 0;
    const LONG rc =
        RegQueryValueExW(handle, value, nullptr, &type, reinterpret_cast<BYTE*>(&read), &size);
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS || type != REG_DWORD) return 1;
    *data = read;
    return 2;
}

void Report(const char* text) {
    OutputDebugStringA((std::string(text) + "\n").c_str());
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

}  // namespace kmdfwine
