// Stand-in for quellix.exe under the service host: appends its process id and
// command line to quellix.log beside itself, then runs until it is ended; when
// quellix.exit exists beside it, it ends by itself after half a second.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain() {
    wchar_t dir[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 3;
    wchar_t* slash = wcsrchr(dir, L'\\');
    if (slash != nullptr) slash[1] = 0;

    wchar_t log_path[MAX_PATH + 16];
    swprintf(log_path, MAX_PATH + 16, L"%lsquellix.log", dir);
    FILE* log = _wfopen(log_path, L"a");
    if (log != nullptr) {
        fprintf(log, "%lu %ls\n", GetCurrentProcessId(), GetCommandLineW());
        fclose(log);
    }

    wchar_t exit_path[MAX_PATH + 16];
    swprintf(exit_path, MAX_PATH + 16, L"%lsquellix.exit", dir);
    if (GetFileAttributesW(exit_path) != INVALID_FILE_ATTRIBUTES) {
        Sleep(500);
        return 0;
    }
    for (;;) Sleep(60000);
}
