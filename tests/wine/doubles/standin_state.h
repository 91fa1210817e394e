// The state our DLL stand-ins share with their tests: DWORD values under a
// key of HKEY_CURRENT_USER that the test sets with `wine reg add`, read at
// each call so that a test can change the stand-in's answers as it goes.
#pragma once

#include <windows.h>

namespace qxdouble {

// The DWORD value name under key; fallback when the key or value is missing
// or is not a DWORD.
inline DWORD ReadStateValue(const wchar_t* key, const wchar_t* name, DWORD fallback) {
    DWORD value = 0, size = sizeof(value), type = 0;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return fallback;
    LONG rc =
        RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(handle);
    return rc == ERROR_SUCCESS && type == REG_DWORD ? value : fallback;
}

}  // namespace qxdouble
