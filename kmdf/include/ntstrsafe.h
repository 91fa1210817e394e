// Host stand-in for the kernel's bounded string routines.
#pragma once

#include <ntddk.h>

// Formats into a buffer of cbDest bytes; always terminates. Fails with
// STATUS_BUFFER_OVERFLOW (truncated) or STATUS_INVALID_PARAMETER.
NTSTATUS RtlStringCbPrintfW(PWSTR pszDest, size_t cbDest, PCWSTR pszFormat, ...);
NTSTATUS RtlStringCchPrintfW(PWSTR pszDest, size_t cchDest, PCWSTR pszFormat, ...);
