// The loader stub: the bind of a KMDF 1.15 client. Kernel code of the image
// itself: no C runtime, no global constructors; everything it keeps is
// plain static storage filled at run time.
#include "kmdf/stub/fx_stub.h"

// The client's view of the framework, filled by the bind.
WDFFUNC* WdfFunctions_01015 = NULL;
PWDF_DRIVER_GLOBALS WdfDriverGlobals = NULL;

namespace {

WCHAR g_component[] = L"KmdfLibrary";
WDF_BIND_INFO g_bindInfo;

// The registry path outlives the entry point only as our copy: the unbind at
// unload names the bind by it. Service keys are short; one that does not fit
// is refused before anything is bound.
WCHAR g_registryPathBuffer[512];
UNICODE_STRING g_registryPath;

PDRIVER_UNLOAD g_displacedUnload;

VOID FxStubDriverUnload(PDRIVER_OBJECT DriverObject) {
    if (g_displacedUnload != NULL) {
        g_displacedUnload(DriverObject);
    }
    WdfVersionUnbind(&g_registryPath, &g_bindInfo, WdfDriverGlobals);
}

BOOLEAN CopyRegistryPath(PCUNICODE_STRING RegistryPath) {
    const USHORT chars = RegistryPath->Length / sizeof(WCHAR);
    if (RegistryPath->Buffer == NULL ||
        chars >= sizeof(g_registryPathBuffer) / sizeof(g_registryPathBuffer[0])) {
        return FALSE;
    }
    for (USHORT i = 0; i < chars; i++) {
        g_registryPathBuffer[i] = RegistryPath->Buffer[i];
    }
    g_registryPathBuffer[chars] = L'\0';
    g_registryPath.Buffer = g_registryPathBuffer;
    g_registryPath.Length = (USHORT)(chars * sizeof(WCHAR));
    g_registryPath.MaximumLength = (USHORT)sizeof(g_registryPathBuffer);
    return TRUE;
}

}  // namespace

NTSTATUS FxDriverEntryWorker(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath,
                             PDRIVER_INITIALIZE ClientEntry) {
    if (DriverObject == NULL || RegistryPath == NULL || !CopyRegistryPath(RegistryPath)) {
        return STATUS_NAME_TOO_LONG;
    }
    g_bindInfo.Size = sizeof(WDF_BIND_INFO);
    g_bindInfo.Component = g_component;
    g_bindInfo.Version.Major = 1;
    g_bindInfo.Version.Minor = 15;
    g_bindInfo.Version.Build = 0;
    g_bindInfo.FuncCount = WdfFunctionTableNumEntries;
    // A 1.15 client hands the loader the address of its table variable.
    g_bindInfo.FuncTable = (WDFFUNC*)&WdfFunctions_01015;
    g_bindInfo.Module = NULL;
    g_displacedUnload = NULL;
    WdfFunctions_01015 = NULL;
    WdfDriverGlobals = NULL;

    NTSTATUS status = WdfVersionBind(DriverObject, &g_registryPath, &g_bindInfo, &WdfDriverGlobals);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (WdfFunctions_01015 == NULL || WdfDriverGlobals == NULL) {
        // A loader that claims a bind but hands out no table: nothing of the
        // driver may run, every method call would jump through nothing.
        WdfVersionUnbind(&g_registryPath, &g_bindInfo, WdfDriverGlobals);
        return STATUS_INVALID_DEVICE_STATE;
    }

    status = ClientEntry(DriverObject, RegistryPath);
    if (!NT_SUCCESS(status)) {
        WdfVersionUnbind(&g_registryPath, &g_bindInfo, WdfDriverGlobals);
        return status;
    }
    if (WdfDriverGlobals->DisplaceDriverUnload) {
        g_displacedUnload = DriverObject->DriverUnload;
        DriverObject->DriverUnload = FxStubDriverUnload;
    }
    return status;
}
