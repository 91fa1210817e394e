// OS seam: the WLAN API client (wlanapi) and GUID formatting (ole32).
#pragma once

#include <cstdint>

namespace qx::os {

using WlanHandle = void*;

constexpr uint32_t kWlanSourceAcm = 0x08;
constexpr uint32_t kWlanSourceMsm = 0x10;

// The fields of WLAN_NOTIFICATION_DATA the daemon reads.
struct WlanNotice {
    uint32_t Source;
    uint32_t Code;
    uint8_t InterfaceGuid[16];  // GUID in memory order
};
using WlanNoticeFn = void (*)(const WlanNotice* notice, void* context);

// WlanOpenHandle with the client version; 0 or the Win32 error.
uint32_t WlanOpen(uint32_t client_version, WlanHandle* handle);
// WlanRegisterNotification for the sources; fn runs on the WLAN service's
// thread. One registration per process. 0 or the Win32 error.
uint32_t WlanRegister(WlanHandle handle, uint32_t sources, bool ignore_duplicate, WlanNoticeFn fn,
                      void* context);
uint32_t WlanClose(WlanHandle handle);

// WlanEnumInterfaces: the list is the WLAN service's memory, freed with
// WlanFreeList (WlanFreeMemory). 0 or the Win32 error.
struct WlanInterfaceList;
uint32_t WlanEnumInterfaces(WlanHandle handle, WlanInterfaceList** list);
uint32_t WlanInterfaceCount(const WlanInterfaceList* list);
void WlanInterfaceGuid(const WlanInterfaceList* list, uint32_t index, uint8_t guid[16]);
void WlanFreeList(WlanInterfaceList* list);

// StringFromGUID2 into out (units long); the units written, terminator
// included, or 0 when it does not fit.
int32_t FormatGuid(const uint8_t guid[16], char16_t* out, int32_t units);

}  // namespace qx::os
