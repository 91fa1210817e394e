// Modern standby through powrprof.dll, found at run time: where it lacks the
// display-state registration (older Windows, Wine) the daemon follows the
// suspend broadcasts alone.
#include "common/win/win32.h"

#include <cstddef>

#include "daemon/core/os_power.h"

namespace qx::os {

namespace {

// The callback registration of powersetting.h, which MinGW's headers lack.
constexpr DWORD kDeviceNotifyCallback = 2;  // DEVICE_NOTIFY_CALLBACK
using NotifyCallback = ULONG(CALLBACK*)(PVOID context, ULONG type, PVOID setting);
struct SubscribeParameters {  // DEVICE_NOTIFY_SUBSCRIBE_PARAMETERS
    NotifyCallback Callback;
    PVOID Context;
};
using RegisterFn = DWORD(WINAPI*)(LPCGUID, DWORD, HANDLE, HPOWERNOTIFY*);
using PowerInformationFn = LONG(WINAPI*)(POWER_INFORMATION_LEVEL, PVOID, ULONG, PVOID, ULONG);

// {6FE69556-704A-47A0-8F24-C28D936FDA47}
constexpr GUID kConsoleDisplayState = {
    0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

// MinGW's SYSTEM_POWER_CAPABILITIES predates Windows 8: its spare2[3] are
// Hiberboot, WakeAlarmPresent and AoAc.
constexpr size_t kAoAcOffset = offsetof(SYSTEM_POWER_CAPABILITIES, spare2) + 2;
static_assert(kAoAcOffset == 20, "AoAc follows FastSystemS4, Hiberboot and WakeAlarmPresent");

// powrprof from the system directory only, never from beside the program;
// loaded for the life of the process. void (*)() is the one function type
// every export may be cast through.
using AnyFn = void (*)();
AnyFn PowrprofExport(const char* name) {
    HMODULE module = LoadLibraryExW(L"powrprof.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module == nullptr ? nullptr : reinterpret_cast<AnyFn>(GetProcAddress(module, name));
}

DisplayStateHandler g_handler = nullptr;
// The registration keeps pointing at these for the life of the process.
SubscribeParameters g_subscription = {};
HPOWERNOTIFY g_registration = nullptr;

ULONG CALLBACK OnPowerSetting(PVOID, ULONG type, PVOID setting) {
    const auto* change = static_cast<const POWERBROADCAST_SETTING*>(setting);
    if (type != PBT_POWERSETTINGCHANGE || change == nullptr ||
        !IsEqualGUID(change->PowerSetting, kConsoleDisplayState) ||
        change->DataLength < sizeof(DWORD))
        return ERROR_SUCCESS;
    DWORD state = 0;
    CopyMemory(&state, change->Data, sizeof state);
    if (g_handler != nullptr) g_handler(state);
    return ERROR_SUCCESS;
}

}  // namespace

bool ModernStandbySupported() {
    auto query = reinterpret_cast<PowerInformationFn>(PowrprofExport("CallNtPowerInformation"));
    if (query == nullptr) return false;
    SYSTEM_POWER_CAPABILITIES caps = {};
    if (query(SystemPowerCapabilities, nullptr, 0, &caps, sizeof caps) != 0) return false;
    return reinterpret_cast<const BYTE*>(&caps)[kAoAcOffset] != 0;
}

bool FollowConsoleDisplay(DisplayStateHandler handler) {
    auto register_fn =
        reinterpret_cast<RegisterFn>(PowrprofExport("PowerSettingRegisterNotification"));
    if (register_fn == nullptr || g_registration != nullptr) return false;
    g_handler = handler;
    g_subscription.Callback = OnPowerSetting;
    g_subscription.Context = nullptr;
    return register_fn(&kConsoleDisplayState, kDeviceNotifyCallback, &g_subscription,
                       &g_registration) == ERROR_SUCCESS;
}

}  // namespace qx::os
