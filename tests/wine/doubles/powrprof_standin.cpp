// Our stand-in for powrprof.dll under Wine, whose own copy says the machine
// has no modern standby and whose display-state registration is a stub that
// never calls back. It plays a modern-standby notebook as the test says,
// from HKCU\Software\QuellixTest\Powrprof:
//   AoAc (DWORD)            SYSTEM_POWER_CAPABILITIES.AoAc (default 1)
//   Display (DWORD)         the console display: 0 off, 1 on (default), 2 dimmed
//   RegisterResult (DWORD)  what PowerSettingRegisterNotification answers (default 0)
// and records there Registrations (DWORD), the registrations it took. A
// registration's callback runs on a thread of the stand-in's: at once with
// the current state, then at each change of Display (looked at every 50 ms).
// Built twice: with the registration, and without its export (older Windows).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstddef>
#include "tests/wine/doubles/standin_state.h"

namespace {

constexpr wchar_t kStateKey[] = L"Software\\QuellixTest\\Powrprof";
constexpr LONG kStatusSuccess = 0;
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);
constexpr LONG kStatusInvalidParameter = static_cast<LONG>(0xC000000D);
constexpr int kSystemPowerCapabilities = 4;
// SYSTEM_POWER_CAPABILITIES of the Windows 8 SDK: AoAc after FastSystemS4,
// Hiberboot and WakeAlarmPresent.
constexpr size_t kAoAcOffset = offsetof(SYSTEM_POWER_CAPABILITIES, spare2) + 2;
constexpr DWORD kDeviceNotifyCallback = 2;
constexpr GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

DWORD ReadValue(const wchar_t* name, DWORD fallback) {
    return qxdouble::ReadStateValue(kStateKey, name, fallback);
}

void WriteValue(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kStateKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

using NotifyCallback = ULONG(CALLBACK*)(PVOID context, ULONG type, PVOID setting);
struct SubscribeParameters {  // DEVICE_NOTIFY_SUBSCRIBE_PARAMETERS
    NotifyCallback Callback;
    PVOID Context;
};
// POWERBROADCAST_SETTING with its DWORD of data.
struct DisplaySetting {
    GUID PowerSetting;
    DWORD DataLength;
    DWORD Data;
};

DWORD WINAPI Notifier(LPVOID param) {
    const SubscribeParameters subscription = *static_cast<SubscribeParameters*>(param);
    DWORD told = 0xFFFFFFFFu;
    for (;;) {
        const DWORD state = ReadValue(L"Display", 1);
        if (state != told) {
            DisplaySetting setting = {kConsoleDisplayState, sizeof(DWORD), state};
            subscription.Callback(subscription.Context, PBT_POWERSETTINGCHANGE, &setting);
            told = state;
        }
        Sleep(50);
    }
}

}  // namespace

extern "C" {

// Lets a test tell this copy from Wine's own.
__declspec(dllexport) DWORD qx_powrprof_standin() {
    return 1;
}

LONG WINAPI CallNtPowerInformation(int level, PVOID in, ULONG in_size, PVOID out, ULONG out_size) {
    if (level != kSystemPowerCapabilities || in != nullptr || in_size != 0 || out == nullptr)
        return kStatusInvalidParameter;
    if (out_size < sizeof(SYSTEM_POWER_CAPABILITIES)) return kStatusBufferTooSmall;
    ZeroMemory(out, sizeof(SYSTEM_POWER_CAPABILITIES));
    static_cast<BYTE*>(out)[kAoAcOffset] = ReadValue(L"AoAc", 1) != 0 ? 1 : 0;
    return kStatusSuccess;
}

DWORD WINAPI PowerSettingRegisterNotification(const GUID* setting, DWORD flags, HANDLE recipient,
                                              HANDLE* registration) {
    if (setting == nullptr || registration == nullptr || recipient == nullptr)
        return ERROR_INVALID_PARAMETER;
    if (flags != kDeviceNotifyCallback || !IsEqualGUID(*setting, kConsoleDisplayState))
        return ERROR_INVALID_PARAMETER;
    const DWORD result = ReadValue(L"RegisterResult", ERROR_SUCCESS);
    if (result != ERROR_SUCCESS) return result;
    // The parameters must outlive the call: the stand-in reads them once, on its thread.
    HANDLE thread = CreateThread(nullptr, 0, Notifier, recipient, 0, nullptr);
    if (thread == nullptr) return GetLastError();
    WriteValue(L"Registrations", ReadValue(L"Registrations", 0) + 1);
    *registration = thread;
    return ERROR_SUCCESS;
}

}  // extern "C"
