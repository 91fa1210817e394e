// The framework loader's interface (WDFLDR.SYS), as a KMDF client's loader
// stub meets it: the bind record and the bind and unbind calls. Our stub
// (kmdf/stub) calls them; on the host the KMDF simulation answers them, under
// Wine our stand-in WDFLDR.SYS, on Windows the real loader.
#pragma once

#include <wdf.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _WDF_VERSION {
    ULONG Major;
    ULONG Minor;
    ULONG Build;
} WDF_VERSION;

typedef struct _WDF_BIND_INFO {
    ULONG Size;           // sizeof(WDF_BIND_INFO)
    PWCHAR Component;     // L"KmdfLibrary"
    WDF_VERSION Version;  // the framework version the client was built for
    ULONG FuncCount;      // WdfFunctionTableNumEntries of that version
    // A 1.15 client passes the address of its WdfFunctions_01015 variable;
    // the loader stores the address of its own table there.
    WDFFUNC* FuncTable;
    PVOID Module;  // the loader's own use
} WDF_BIND_INFO, *PWDF_BIND_INFO;

NTSTATUS WdfVersionBind(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath,
                        PWDF_BIND_INFO BindInfo, PWDF_DRIVER_GLOBALS* Globals);
NTSTATUS WdfVersionUnbind(PUNICODE_STRING RegistryPath, PWDF_BIND_INFO BindInfo,
                          PWDF_DRIVER_GLOBALS Globals);

#ifdef __cplusplus
}  // extern "C"
#endif
