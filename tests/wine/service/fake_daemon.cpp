// Stand-in for quellix.exe under the service host: holds quellix.lock beside
// itself open without sharing, as the daemon holds its exclusive device,
// appends its process id, "steers" (or "refused" when another one holds the
// lock: it then ends at once, as the daemon gives up on a device it cannot
// open) and its command line to quellix.log beside itself, then runs until it
// is ended; when quellix.exit exists beside it, it ends by itself after half
// a second.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain() {
    wchar_t dir[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 3;
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (slash != nullptr) slash[1] = 0;

    wchar_t lock_path[MAX_PATH + 16];
    swprintf(lock_path, MAX_PATH + 16, L"%lsquellix.lock", dir);
    HANDLE lock = CreateFileW(lock_path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);

    wchar_t log_path[MAX_PATH + 16];
    swprintf(log_path, MAX_PATH + 16, L"%lsquellix.log", dir);
    FILE* log = _wfopen(log_path, L"a");
    if (log != nullptr) {
        fprintf(log, "%lu %s %ls\n", GetCurrentProcessId(),
                lock == INVALID_HANDLE_VALUE ? "refused" : "steers", GetCommandLineW());
        fclose(log);
    }
    if (lock == INVALID_HANDLE_VALUE) return 4;

    wchar_t exit_path[MAX_PATH + 16];
    swprintf(exit_path, MAX_PATH + 16, L"%lsquellix.exit", dir);
    if (GetFileAttributesW(exit_path) != INVALID_FILE_ATTRIBUTES) {
        Sleep(500);
        return 0;
    }
    for (;;) Sleep(60000);
}
