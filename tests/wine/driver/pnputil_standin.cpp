// A stand-in pnputil.exe for the Wine tests of the MSI (Wine has none): it
// records how it was started and whether the INF it names exists, under
// HKLM\Software\Quellix\PnpUtil, and exits with the code that key's
// "ExitCode" asks for (0 when absent).
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Quellix\\PnpUtil", 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return 1;
    }
    DWORD calls = 0;
    DWORD size = sizeof calls;
    RegQueryValueExW(key, L"Calls", nullptr, nullptr, reinterpret_cast<BYTE*>(&calls), &size);
    calls++;
    RegSetValueExW(key, L"Calls", 0, REG_DWORD, reinterpret_cast<BYTE*>(&calls), sizeof calls);
    const wchar_t* line = GetCommandLineW();
    RegSetValueExW(key, L"CommandLine", 0, REG_SZ, reinterpret_cast<const BYTE*>(line),
                   static_cast<DWORD>((wcslen(line) + 1) * sizeof(wchar_t)));
    wchar_t self[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    RegSetValueExW(key, L"Program", 0, REG_SZ, reinterpret_cast<const BYTE*>(self),
                   (n + 1) * sizeof(wchar_t));
    // argv: pnputil /add-driver INF /install
    DWORD present = 0;
    if (argc >= 3) present = GetFileAttributesW(argv[2]) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
    RegSetValueExW(key, L"InfPresent", 0, REG_DWORD, reinterpret_cast<BYTE*>(&present),
                   sizeof present);
    DWORD code = 0;
    size = sizeof code;
    RegQueryValueExW(key, L"ExitCode", nullptr, nullptr, reinterpret_cast<BYTE*>(&code), &size);
    RegCloseKey(key);
    return static_cast<int>(code);
}
