// Our stand-in for cfgmgr32.dll under Wine, whose own copy cannot locate a
// device node and aborts on disable or enable. It knows one node,
// "ACPI\VLT0949\1" (or the instance the test names), when the test says so,
// lists it under its enumerator, and answers disable and enable as the test
// says. Everything lives under HKCU\Software\QuellixTest\CfgMgr32:
//   Known (DWORD)          1: the controller's node exists
//   Instance (REG_SZ)      its instance ID (default "ACPI\VLT0949\1")
//   DisableResult (DWORD)  CONFIGRET of CM_Disable_DevNode (default 0)
//   EnableResult (DWORD)   CONFIGRET of CM_Enable_DevNode (default 0)
// and the stand-in records there what was asked of it:
//   LocateCalls, ListCalls, DisableCalls, EnableCalls (DWORD), Disabled (DWORD, 1 while disabled)
// When our framework double runs the real driver under Wine, the node is its
// device: disable and enable go to the PnP manager it plays (its control
// device "\\.\QXKMDFCTL"), which removes and starts the device, or vetoes
// the removal while a handle is open, and the answer is what that says.
#define _CFGMGR32_
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <cfgmgr32.h>

#include "kmdf/wine/fx_control.h"
#include "tests/wine/doubles/standin_state.h"

namespace {

constexpr wchar_t kStateKey[] = L"Software\\QuellixTest\\CfgMgr32";
constexpr wchar_t kControllerNode[] = L"ACPI\\VLT0949\\1";
constexpr wchar_t kControllerDevice[] = L"ACPI\\VLT0949";
constexpr ULONG kMaxDeviceIdLen = 200;
constexpr DEVINST kControllerDevinst = 0x951;

DWORD ReadValue(const wchar_t* name, DWORD fallback) {
    return qxdouble::ReadStateValue(kStateKey, name, fallback);
}

// The node's instance ID: the Instance value, or the designed one.
void ReadInstance(wchar_t (&out)[kMaxDeviceIdLen + 1]) {
    DWORD size = sizeof(out) - sizeof(wchar_t), type = 0;
    HKEY key = nullptr;
    out[0] = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kStateKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExW(key, L"Instance", nullptr, &type, reinterpret_cast<BYTE*>(out),
                             &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            size = 0;
        out[size / sizeof(wchar_t)] = 0;
        RegCloseKey(key);
    }
    if (out[0] == 0) lstrcpynW(out, kControllerNode, kMaxDeviceIdLen + 1);
}

void WriteValue(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kStateKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

void Count(const wchar_t* name) {
    WriteValue(name, ReadValue(name, 0) + 1);
}

// The framework double's answer to a disable or enable; false when there is
// no framework double to ask.
bool AskPnpManager(DWORD code, CONFIGRET* cr) {
    HANDLE h = CreateFileW(L"\\\\.\\QXKMDFCTL", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    QxKmdfPnp answer = {};
    DWORD got = 0;
    const BOOL ok =
        DeviceIoControl(h, code, const_cast<wchar_t*>(kControllerNode), sizeof(kControllerNode),
                        &answer, sizeof(answer), &got, nullptr);
    CloseHandle(h);
    if (!ok || got != sizeof(answer)) {
        *cr = CR_FAILURE;
    } else if (answer.outcome == kQxKmdfDone) {
        *cr = CR_SUCCESS;
    } else if (answer.outcome == kQxKmdfVetoed) {
        *cr = CR_REMOVE_VETOED;
    } else if (answer.outcome == kQxKmdfNoNode) {
        *cr = CR_NO_SUCH_DEVNODE;
    } else {
        *cr = CR_FAILURE;
    }
    return true;
}

bool SameId(const wchar_t* a, const wchar_t* b) {
    if (a == nullptr) return false;
    // Device instance ids compare without regard to case.
    return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL;
}

}  // namespace

extern "C" {

// Lets a test tell this copy from Wine's own.
__declspec(dllexport) DWORD qx_cfgmgr32_standin() {
    return 1;
}

CONFIGRET WINAPI CM_Locate_DevNodeW(PDEVINST devinst, DEVINSTID_W id, ULONG flags) {
    Count(L"LocateCalls");
    if (devinst == nullptr) return CR_INVALID_POINTER;
    *devinst = 0;
    if (flags != CM_LOCATE_DEVNODE_NORMAL) return CR_INVALID_FLAG;
    wchar_t instance[kMaxDeviceIdLen + 1];
    ReadInstance(instance);
    if (ReadValue(L"Known", 0) != 1 || !SameId(id, instance)) return CR_NO_SUCH_DEVNODE;
    *devinst = kControllerDevinst;
    return CR_SUCCESS;
}

// The enumerator filter alone: the node when it exists and lies under it.
CONFIGRET WINAPI CM_Get_Device_ID_ListW(PCWSTR filter, PWCHAR buffer, ULONG units, ULONG flags) {
    Count(L"ListCalls");
    if (buffer == nullptr) return CR_INVALID_POINTER;
    if (units == 0) return CR_INVALID_DATA;
    if ((flags & CM_GETIDLIST_FILTER_ENUMERATOR) == 0 || filter == nullptr) return CR_INVALID_FLAG;
    wchar_t instance[kMaxDeviceIdLen + 1];
    ReadInstance(instance);
    const int prefix = lstrlenW(kControllerDevice);
    const bool listed =
        ReadValue(L"Known", 0) == 1 && SameId(filter, kControllerDevice) &&
        CompareStringOrdinal(instance, prefix, kControllerDevice, prefix, TRUE) == CSTR_EQUAL &&
        instance[prefix] == L'\\';
    const ULONG needed = listed ? static_cast<ULONG>(lstrlenW(instance)) + 2 : 1;
    if (units < needed) return CR_BUFFER_SMALL;
    buffer[0] = 0;
    if (listed) {
        lstrcpynW(buffer, instance, kMaxDeviceIdLen + 1);
        buffer[needed - 1] = 0;
    }
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Disable_DevNode(DEVINST devinst, ULONG) {
    Count(L"DisableCalls");
    // A handle of a node that is gone is no handle any more.
    if (devinst != kControllerDevinst || ReadValue(L"Known", 0) != 1) return CR_INVALID_DEVNODE;
    CONFIGRET cr = ReadValue(L"DisableResult", CR_SUCCESS);
    if (cr == CR_SUCCESS) AskPnpManager(QXKMDF_DISABLE, &cr);
    if (cr == CR_SUCCESS) WriteValue(L"Disabled", 1);
    return cr;
}

CONFIGRET WINAPI CM_Enable_DevNode(DEVINST devinst, ULONG) {
    Count(L"EnableCalls");
    // A handle of a node that is gone is no handle any more.
    if (devinst != kControllerDevinst || ReadValue(L"Known", 0) != 1) return CR_INVALID_DEVNODE;
    CONFIGRET cr = ReadValue(L"EnableResult", CR_SUCCESS);
    if (cr == CR_SUCCESS) AskPnpManager(QXKMDF_ENABLE, &cr);
    if (cr == CR_SUCCESS) WriteValue(L"Disabled", 0);
    return cr;
}

}  // extern "C"
