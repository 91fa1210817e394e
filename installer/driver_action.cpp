// The MSI's deferred custom action that installs the driver package, as a
// driver package is installed on Windows 10 and later: PnPUtil, from the
// system folder (never found by a search), adds QXVeltrane.inf and its files
// to the driver store and installs the driver on the controller's device.
// It runs in the system's context after InstallFiles; its CustomActionData
// is the installed INF's full path.
#include "common/win/win32.h"

#include <msi.h>
#include <msiquery.h>

#include <cwchar>

namespace {

// PnPUtil's documented results of /add-driver /install besides success.
constexpr DWORD kNoMatchingDevice = 259;  // ERROR_NO_MORE_ITEMS: staged, no device (yet)
constexpr DWORD kRebootRequired = 3010;   // ERROR_SUCCESS_REBOOT_REQUIRED
// PnPUtil bounds its own work; this only keeps a hung one from holding the
// installation for ever.
constexpr DWORD kWaitMs = 10 * 60 * 1000;

void Log(MSIHANDLE install, const wchar_t* format, DWORD value) {
    wchar_t text[160];
    std::swprintf(text, sizeof text / sizeof text[0], format, value);
    MSIHANDLE record = ::MsiCreateRecord(0);
    if (record == 0) return;
    ::MsiRecordSetStringW(record, 0, text);
    ::MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    ::MsiCloseHandle(record);
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall InstallDriverPackage(MSIHANDLE install) {
    wchar_t inf[MAX_PATH];
    DWORD inf_chars = MAX_PATH;
    if (::MsiGetPropertyW(install, L"CustomActionData", inf, &inf_chars) != ERROR_SUCCESS ||
        inf_chars == 0) {
        Log(install, L"QXVeltrane: no driver package named (%lu)", inf_chars);
        return ERROR_INSTALL_FAILURE;
    }
    wchar_t pnputil[MAX_PATH];
    const UINT folder = ::GetSystemDirectoryW(pnputil, MAX_PATH);
    static const wchar_t kProgram[] = L"\\pnputil.exe";
    if (folder == 0 || folder + sizeof kProgram / sizeof kProgram[0] > MAX_PATH) {
        Log(install, L"QXVeltrane: no system folder (%lu)", ::GetLastError());
        return ERROR_INSTALL_FAILURE;
    }
    std::wcscat(pnputil, kProgram);

    // CreateProcessW may write into the command line: a buffer of our own.
    wchar_t command[2 * MAX_PATH + 64];
    std::swprintf(command, sizeof command / sizeof command[0],
                  L"\"%ls\" /add-driver \"%ls\" /install", pnputil, inf);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    qx::win::UniqueProcessInformation process;
    if (!::CreateProcessW(pnputil, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                          nullptr, &startup, process.put())) {
        Log(install, L"QXVeltrane: PnPUtil did not start (%lu)", ::GetLastError());
        return ERROR_INSTALL_FAILURE;
    }
    DWORD code = 0;
    if (::WaitForSingleObject(process.get().hProcess, kWaitMs) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.get().hProcess, &code)) {
        Log(install, L"QXVeltrane: PnPUtil did not finish (%lu)", ::GetLastError());
        return ERROR_INSTALL_FAILURE;
    }
    switch (code) {
        case ERROR_SUCCESS:
            Log(install, L"QXVeltrane: driver package installed (%lu)", code);
            return ERROR_SUCCESS;
        case kNoMatchingDevice:
            // Staged in the driver store: Plug and Play installs it when the
            // controller's device appears.
            Log(install, L"QXVeltrane: driver package staged, no device yet (%lu)", code);
            return ERROR_SUCCESS;
        case kRebootRequired:
            Log(install, L"QXVeltrane: driver package installed, restart needed (%lu)", code);
            ::MsiSetMode(install, MSIRUNMODE_REBOOTATEND, TRUE);
            return ERROR_SUCCESS;
        default:
            Log(install, L"QXVeltrane: PnPUtil failed to install the driver package (%lu)", code);
            return ERROR_INSTALL_FAILURE;
    }
}
