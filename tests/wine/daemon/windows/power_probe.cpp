// Plays the system's power broadcasts to the daemon's hidden window:
//   power_probe suspend | resume | resume-user
// the end of a session that another program vetoed (Wine's wineboot cannot
// play it: it sends WM_ENDSESSION FALSE only to the program that vetoed):
//   power_probe session-kept
// and, as a baseline for memory measurements, a program that only holds a
// hidden top-level window of its own for ten seconds:
//   power_probe window
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: power_probe suspend|resume|resume-user|session-kept\n");
        return 2;
    }
    if (std::strcmp(argv[1], "window") == 0) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"QXBASELINE";
        RegisterClassExW(&wc);
        HWND own =
            CreateWindowExW(0, L"QXBASELINE", L"QXBASELINE", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                            CW_USEDEFAULT, 0, nullptr, nullptr, wc.hInstance, nullptr);
        std::printf("window %s\n", own != nullptr ? "created" : "failed");
        std::fflush(stdout);
        Sleep(10000);
        return own != nullptr ? 0 : 1;
    }
    HWND window = nullptr;
    for (int i = 0; i < 100 && window == nullptr; ++i) {
        window = FindWindowW(L"QXEVENTMON", L"QXEVENTMON");
        if (window == nullptr) Sleep(100);
    }
    if (window == nullptr) {
        std::printf("no QXEVENTMON window\n");
        return 1;
    }
    if (std::strcmp(argv[1], "suspend") == 0) {
        SendMessageW(window, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    } else if (std::strcmp(argv[1], "resume") == 0) {
        SendMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    } else if (std::strcmp(argv[1], "resume-user") == 0) {
        SendMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
        SendMessageW(window, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    } else if (std::strcmp(argv[1], "session-kept") == 0) {
        // As Windows does when another program refuses: every window was
        // asked (the daemon's says yes), then each is told the session goes on.
        const LRESULT answer = SendMessageW(window, WM_QUERYENDSESSION, 0, 0);
        SendMessageW(window, WM_ENDSESSION, FALSE, 0);
        std::printf("sent session-kept, query answered %d\n", static_cast<int>(answer));
        return 0;
    } else {
        std::printf("unknown broadcast %s\n", argv[1]);
        return 2;
    }
    std::printf("sent %s\n", argv[1]);
    return 0;
}
