// The kernel's bounded string formatting, as inline routines over the
// kernel's _vsnwprintf (exported by ntoskrnl.exe; on the host, by the KMDF
// simulation with the same semantics: the Windows format language, where a
// wide "%s" takes a wide string and "I64" sizes a 64-bit argument).
#pragma once

#include <ntddk.h>

// Writes at most Count characters; returns the characters written, or -1
// when the text did not fit (the buffer is then not terminated).
QX_EXTERN_C int _vsnwprintf(WCHAR* Buffer, size_t Count, const WCHAR* Format, va_list Arguments);

#define NTSTRSAFE_MAX_CCH 2147483647

// Formats into cchDest characters and always terminates. Fails with
// STATUS_INVALID_PARAMETER for an unusable buffer and with
// STATUS_BUFFER_OVERFLOW when the text was cut to fit.
FORCEINLINE NTSTATUS RtlStringCchVPrintfW(PWSTR pszDest, size_t cchDest, PCWSTR pszFormat,
                                          va_list argList) {
    if (pszDest == NULL || cchDest == 0 || cchDest > NTSTRSAFE_MAX_CCH || pszFormat == NULL) {
        if (pszDest != NULL && cchDest != 0 && cchDest <= NTSTRSAFE_MAX_CCH) pszDest[0] = L'\0';
        return STATUS_INVALID_PARAMETER;
    }
    const size_t cchMax = cchDest - 1;
    const int written = _vsnwprintf(pszDest, cchMax, pszFormat, argList);
    if (written < 0 || (size_t)written > cchMax) {
        pszDest[cchMax] = L'\0';
        return STATUS_BUFFER_OVERFLOW;
    }
    pszDest[written] = L'\0';
    return STATUS_SUCCESS;
}

// Variadic, so never inlined: emitted once per image like any inline function.
inline NTSTATUS RtlStringCchPrintfW(PWSTR pszDest, size_t cchDest, PCWSTR pszFormat, ...) {
    va_list argList;
    va_start(argList, pszFormat);
    const NTSTATUS status = RtlStringCchVPrintfW(pszDest, cchDest, pszFormat, argList);
    va_end(argList);
    return status;
}

inline NTSTATUS RtlStringCbPrintfW(PWSTR pszDest, size_t cbDest, PCWSTR pszFormat, ...) {
    va_list argList;
    va_start(argList, pszFormat);
    const NTSTATUS status =
        RtlStringCchVPrintfW(pszDest, cbDest / sizeof(WCHAR), pszFormat, argList);
    va_end(argList);
    return status;
}
