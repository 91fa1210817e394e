// The one door to the Windows headers for the daemon, the service host and the
// uninstaller: every *_win32.cpp includes this instead of <windows.h>, so the
// header set-up, the UTF-16 checks and the owners of Win32 handles are written
// once. SDK headers beyond these come after it, in the file that needs them.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// SetupAPI's device lists have an owner below; the header also needs windows.h first.
#include <setupapi.h>

#include "common/win/unique_handle.h"

// Our portable code speaks UTF-16 as char16_t; Windows takes the same units
// as wchar_t. The casts below are sound only while both are 16 bits wide.
static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

namespace qx::win {

inline const wchar_t* W(const char16_t* text) noexcept {
    return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* W(char16_t* text) noexcept {
    return reinterpret_cast<wchar_t*>(text);
}
inline const char16_t* U16(const wchar_t* text) noexcept {
    return reinterpret_cast<const char16_t*>(text);
}
inline char16_t* U16(wchar_t* text) noexcept {
    return reinterpret_cast<char16_t*>(text);
}

// Libraries this process loads at run time come from the system folder only,
// never from the program's folder, the current directory or PATH, where a DLL
// of the name asked for could have been planted. Every program calls it
// first thing; the libraries it imports were bound before and stay as they
// are. A library that brings dependencies of its own is loaded with the
// search flags that name its folder (see the daemon's vendor library).
inline void RestrictLibrarySearch() noexcept {
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Close calls whose signature is not "one handle in".
inline void FreeProcessHeapBlock(void* block) noexcept {
    ::HeapFree(::GetProcessHeap(), 0, block);
}

// CreateProcessW hands back two handles at once; both are ours to close.
inline void CloseProcessInformation(PROCESS_INFORMATION info) noexcept {
    if (info.hThread != nullptr) ::CloseHandle(info.hThread);
    if (info.hProcess != nullptr) ::CloseHandle(info.hProcess);
}

struct ProcessInformationIsInvalid {
    template <typename T>
    static T Empty() noexcept {
        return T{};
    }
    static bool Holds(const PROCESS_INFORMATION& info) noexcept {
        return info.hProcess != nullptr || info.hThread != nullptr;
    }
};

// Events, threads, processes, registered event sources: NULL on failure.
using UniqueHandle = UniqueAny<HANDLE, &::CloseHandle, NullOrAllOnesIsInvalid<false>>;
// Files and devices from CreateFileW: INVALID_HANDLE_VALUE on failure.
using UniqueFileHandle = UniqueAny<HANDLE, &::CloseHandle, NullOrAllOnesIsInvalid<true>>;
using UniqueEventSource = UniqueAny<HANDLE, &::DeregisterEventSource>;
using UniqueServiceHandle = UniqueAny<SC_HANDLE, &::CloseServiceHandle>;
// RegOpenKeyExW leaves NULL, SetupDiOpenDevRegKey returns INVALID_HANDLE_VALUE.
using UniqueHkey = UniqueAny<HKEY, &::RegCloseKey, NullOrAllOnesIsInvalid<false>>;
using UniqueDevInfo =
    UniqueAny<HDEVINFO, &::SetupDiDestroyDeviceInfoList, NullOrAllOnesIsInvalid<true>>;
using UniqueProcessInformation =
    UniqueAny<PROCESS_INFORMATION, &CloseProcessInformation, ProcessInformationIsInvalid>;
// A block of the process heap (HeapAlloc(GetProcessHeap(), ...)).
template <typename T>
using UniqueHeapBlock = UniqueAny<T*, &FreeProcessHeapBlock>;
using UniqueLibrary = UniqueAny<HMODULE, &::FreeLibrary>;

}  // namespace qx::win
