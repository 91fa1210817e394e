// Our wlanapi.dll, placed beside the program (a native copy there wins over
// Wine's own). It reports two WLAN interfaces, another one first and then the
// notebook's (notebook_ids.h), or as many of them as its DWORD "Interfaces"
// under HKCU\Software\QuellixTest\Wlanapi says (1: the notebook's alone),
// and keeps the one notification registration.
// QxWlanFire lets a test deliver a notification: it calls the registered
// callback on a thread of its own, as the WLAN service does, and returns once
// the callback has run.
#include <windows.h>
#include <wlanapi.h>

#include <cstddef>
#include <cstring>

#include "tests/wine/doubles/notebook_ids.h"
#include "tests/wine/doubles/standin_state.h"

namespace {

const HANDLE kClient = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x57A1));
LONG g_open = 0;
WLAN_NOTIFICATION_CALLBACK g_callback = nullptr;
void* g_context = nullptr;
DWORD g_sources = 0;

struct Fired {
    WLAN_NOTIFICATION_DATA data;
};

DWORD WINAPI Deliver(void* param) {
    auto* f = static_cast<Fired*>(param);
    g_callback(&f->data, g_context);
    return 0;
}

}  // namespace

extern "C" {

__declspec(dllexport) DWORD WINAPI QxWlanStandIn(void) {
    return 1;
}

DWORD WINAPI WlanOpenHandle(DWORD version, PVOID reserved, PDWORD negotiated, PHANDLE handle) {
    if (reserved != nullptr || negotiated == nullptr || handle == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (version != 1 && version != 2) return ERROR_NOT_SUPPORTED;
    *negotiated = version;
    *handle = kClient;
    InterlockedIncrement(&g_open);
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanCloseHandle(HANDLE handle, PVOID /*reserved*/) {
    if (handle != kClient || g_open == 0) return ERROR_INVALID_HANDLE;
    InterlockedDecrement(&g_open);
    g_callback = nullptr;
    g_sources = 0;
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanRegisterNotification(HANDLE handle, DWORD sources, BOOL /*ignore_duplicate*/,
                                      WLAN_NOTIFICATION_CALLBACK callback, PVOID context,
                                      PVOID /*reserved*/, PDWORD previous) {
    if (handle != kClient || g_open == 0) return ERROR_INVALID_HANDLE;
    if (previous != nullptr) *previous = g_sources;
    g_sources = sources;
    g_callback = callback;
    g_context = context;
    return ERROR_SUCCESS;
}

DWORD WINAPI WlanEnumInterfaces(HANDLE handle, PVOID /*reserved*/,
                                PWLAN_INTERFACE_INFO_LIST* list) {
    if (handle != kClient || g_open == 0) return ERROR_INVALID_HANDLE;
    if (list == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD n = qxdouble::ReadStateValue(L"Software\\QuellixTest\\Wlanapi", L"Interfaces", 2);
    if (n > 2) n = 2;
    // MinGW declares InterfaceInfo as a flexible array.
    const SIZE_T size =
        offsetof(WLAN_INTERFACE_INFO_LIST, InterfaceInfo) + n * sizeof(WLAN_INTERFACE_INFO);
    auto* l =
        static_cast<PWLAN_INTERFACE_INFO_LIST>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
    if (l == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
    static const GUID other = QX_OTHER_INTERFACE_GUID;
    static const GUID ours = QX_NOTEBOOK_INTERFACE_GUID;
    l->dwNumberOfItems = n;
    for (DWORD i = 0; i < n; ++i) {
        l->InterfaceInfo[i].InterfaceGuid = i + 1 == n ? ours : other;
        l->InterfaceInfo[i].isState = wlan_interface_state_connected;
    }
    *list = l;
    return ERROR_SUCCESS;
}

VOID WINAPI WlanFreeMemory(PVOID memory) {
    if (memory != nullptr) HeapFree(GetProcessHeap(), 0, memory);
}

// which: 0 the notebook's interface, 1 the other one. Returns 1 when a
// registered callback was called, 0 when the source was not registered.
__declspec(dllexport) DWORD WINAPI QxWlanFire(DWORD source, DWORD code, DWORD which) {
    if (g_callback == nullptr || (g_sources & source) == 0) return 0;
    static const GUID other = QX_OTHER_INTERFACE_GUID;
    static const GUID ours = QX_NOTEBOOK_INTERFACE_GUID;
    Fired f;
    std::memset(&f, 0, sizeof f);
    f.data.NotificationSource = source;
    f.data.NotificationCode = code;
    f.data.InterfaceGuid = which == 0 ? ours : other;
    HANDLE t = CreateThread(nullptr, 0, Deliver, &f, 0, nullptr);
    if (t == nullptr) return 0;
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
    return 1;
}

}  // extern "C"
