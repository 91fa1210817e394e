// Our stand-in for cfgmgr32.dll under Wine, whose own copy cannot locate a
// device node and aborts on disable or enable. It knows one node,
// "ACPI\VLT0949\1", when the test says so, and answers disable and enable as
// the test says. Everything lives under HKCU\Software\QuellixTest\CfgMgr32:
//   Known (DWORD)          1: the controller's node exists
//   DisableResult (DWORD)  CONFIGRET of CM_Disable_DevNode (default 0)
//   EnableResult (DWORD)   CONFIGRET of CM_Enable_DevNode (default 0)
// and the stand-in records there what was asked of it:
//   LocateCalls, DisableCalls, EnableCalls (DWORD), Disabled (DWORD, 1 while disabled)
#define _CFGMGR32_
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <cfgmgr32.h>

namespace {

constexpr wchar_t kStateKey[] = L"Software\\QuellixTest\\CfgMgr32";
constexpr wchar_t kControllerNode[] = L"ACPI\\VLT0949\\1";
constexpr DEVINST kControllerDevinst = 0x951;

DWORD ReadValue(const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof(value), type = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kStateKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return fallback;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_DWORD ? value : fallback;
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
    if (ReadValue(L"Known", 0) != 1 || !SameId(id, kControllerNode)) return CR_NO_SUCH_DEVNODE;
    *devinst = kControllerDevinst;
    return CR_SUCCESS;
}

CONFIGRET WINAPI CM_Disable_DevNode(DEVINST devinst, ULONG) {
    Count(L"DisableCalls");
    if (devinst != kControllerDevinst) return CR_INVALID_DEVNODE;
    DWORD cr = ReadValue(L"DisableResult", CR_SUCCESS);
    if (cr == CR_SUCCESS) WriteValue(L"Disabled", 1);
    return cr;
}

CONFIGRET WINAPI CM_Enable_DevNode(DEVINST devinst, ULONG) {
    Count(L"EnableCalls");
    if (devinst != kControllerDevinst) return CR_INVALID_DEVNODE;
    DWORD cr = ReadValue(L"EnableResult", CR_SUCCESS);
    if (cr == CR_SUCCESS) WriteValue(L"Disabled", 0);
    return cr;
}

}  // extern "C"
