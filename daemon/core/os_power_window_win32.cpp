// The hidden "QXEVENTMON" window that receives the system's power broadcasts.
#include "common/win/win32.h"
#include <process.h>

#include "daemon/core/os_power_window.h"

namespace {

struct PowerEventMonitor {
    HWND window;    // written by the window thread once the window exists
    HANDLE ready;   // set by the window thread after its window attempt
    HANDLE thread;  // the window thread, for the clean-up to wait on
    DWORD thread_id;
};

// Written before the window thread starts, only read on it.
qx::os::PowerWindowHandlers g_handlers = {};
PowerEventMonitor* g_monitor = nullptr;

LRESULT CALLBACK PowerWindowProc(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (msg == WM_QUERYENDSESSION) return g_handlers.query_end_session() ? TRUE : FALSE;
    if (msg == WM_ENDSESSION) {
        // Windows ends the process soon after this returns; the shutdown
        // runs first (and does not return).
        g_handlers.end_session(wparam != FALSE, (lparam & ENDSESSION_LOGOFF) != 0);
        return 0;
    }
    if (msg == WM_POWERBROADCAST) g_handlers.power_broadcast(wparam);
    return DefWindowProcW(hwnd, msg, wparam, lparam);
}

unsigned __stdcall PowerWindowThread(void* param) {
    auto* monitor = static_cast<PowerEventMonitor*>(param);
    HINSTANCE module = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = PowerWindowProc;
    wc.hInstance = module;
    wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hIconSm = wc.hIcon;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"QXEVENTMON";
    RegisterClassExW(&wc);  // a failure shows as a failed window creation
    // A top-level window (not message-only): broadcasts reach only those. Never shown.
    monitor->window =
        CreateWindowExW(0, L"QXEVENTMON", L"QXEVENTMON", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                        CW_USEDEFAULT, 0, nullptr, nullptr, module, nullptr);
    SetEvent(monitor->ready);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace

namespace qx::os {

bool StartPowerWindow(const PowerWindowHandlers& handlers) {
    auto* monitor = static_cast<PowerEventMonitor*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PowerEventMonitor)));
    if (monitor == nullptr) return false;
    monitor->ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_handlers = handlers;
    g_monitor = monitor;
    // _beginthreadex rather than _beginthread: its handle stays valid after the
    // thread ends, so the clean-up can wait for the thread before freeing the monitor.
    unsigned id = 0;
    monitor->thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, PowerWindowThread, monitor, 0, &id));
    monitor->thread_id = id;
    return true;
}

void StopPowerWindow() {
    PowerEventMonitor* monitor = g_monitor;
    if (monitor == nullptr) return;
    g_monitor = nullptr;
    if (monitor->thread != nullptr) {
        // The window may not exist yet: wait for the thread's attempt first.
        if (monitor->ready != nullptr) WaitForSingleObject(monitor->ready, INFINITE);
        if (monitor->window != nullptr) {
            SendMessageW(monitor->window, WM_CLOSE, 0, 0);
        } else {
            PostThreadMessageW(monitor->thread_id, WM_QUIT, 0, 0);
        }
        WaitForSingleObject(monitor->thread, INFINITE);
        qx::win::Dispose<qx::win::UniqueHandle>(monitor->thread);
    }
    qx::win::Dispose<qx::win::UniqueHandle>(monitor->ready);
    qx::win::Dispose<qx::win::UniqueHeapBlock<PowerEventMonitor>>(monitor);
}

}  // namespace qx::os
