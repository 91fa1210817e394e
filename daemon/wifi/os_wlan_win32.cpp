#include "common/win/win32.h"
#include <objbase.h>
#include <wlanapi.h>

#include <atomic>
#include <cstring>

#include "daemon/wifi/os_wlan.h"

namespace qx::os {

static_assert(sizeof(GUID) == 16, "GUID is 16 bytes");

struct WlanInterfaceList {
    WLAN_INTERFACE_INFO_LIST list;
};

namespace {

// Lists and other blocks the WLAN service hands out.
using UniqueWlanMemory = win::UniqueAny<void*, &::WlanFreeMemory>;

// The one registration's target; the WLAN service calls the trampoline on its
// own thread while the worker may be reading, hence atomic.
std::atomic<WlanNoticeFn> g_notice_fn{nullptr};

VOID WINAPI NoticeTrampoline(PWLAN_NOTIFICATION_DATA data, PVOID context) {
    WlanNoticeFn fn = g_notice_fn.load(std::memory_order_relaxed);
    if (fn == nullptr || data == nullptr) return;
    WlanNotice notice;
    notice.Source = data->NotificationSource;
    notice.Code = data->NotificationCode;
    std::memcpy(notice.InterfaceGuid, &data->InterfaceGuid, 16);
    fn(&notice, context);
}

}  // namespace

uint32_t WlanOpen(uint32_t client_version, WlanHandle* handle) {
    DWORD negotiated = 0;
    HANDLE h = nullptr;
    DWORD rc = ::WlanOpenHandle(client_version, nullptr, &negotiated, &h);
    if (rc == ERROR_SUCCESS) *handle = h;
    return rc;
}

uint32_t WlanRegister(WlanHandle handle, uint32_t sources, bool ignore_duplicate, WlanNoticeFn fn,
                      void* context) {
    g_notice_fn.store(fn, std::memory_order_relaxed);
    return ::WlanRegisterNotification(handle, sources, ignore_duplicate ? TRUE : FALSE,
                                      NoticeTrampoline, context, nullptr, nullptr);
}

// Left as a plain call: the seam reports the close's own status, which an
// owner would swallow.
uint32_t WlanClose(WlanHandle handle) {
    return ::WlanCloseHandle(handle, nullptr);
}

uint32_t WlanEnumInterfaces(WlanHandle handle, WlanInterfaceList** list) {
    PWLAN_INTERFACE_INFO_LIST l = nullptr;
    DWORD rc = ::WlanEnumInterfaces(handle, nullptr, &l);
    if (rc == ERROR_SUCCESS) *list = reinterpret_cast<WlanInterfaceList*>(l);
    return rc;
}

uint32_t WlanInterfaceCount(const WlanInterfaceList* list) {
    return list->list.dwNumberOfItems;
}

void WlanInterfaceGuid(const WlanInterfaceList* list, uint32_t index, uint8_t guid[16]) {
    std::memcpy(guid, &list->list.InterfaceInfo[index].InterfaceGuid, 16);
}

void WlanFreeList(WlanInterfaceList* list) {
    win::Dispose<UniqueWlanMemory>(list);
}

int32_t FormatGuid(const uint8_t guid[16], char16_t* out, int32_t units) {
    GUID g;
    std::memcpy(&g, guid, 16);
    return ::StringFromGUID2(g, win::W(out), units);
}

}  // namespace qx::os
