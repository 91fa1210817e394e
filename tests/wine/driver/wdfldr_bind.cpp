// A stand-in WDFLDR.SYS that only checks the bind of a KMDF 1.15 client:
// the bind record, the first calls that come through the function table it
// hands out, and the unbind. It writes what it saw under
// HKLM\Software\Quellix\KmdfBind and ends the load with a status that says
// it: WdfDriverCreate, the driver's first table call, fails with
// 0xE0B10000 plus the number of the first check that failed (0: every check
// held), so the image's DriverEntry fails with it and the stub unbinds.
//
// Kernel code built with our own KMDF headers (kmdf/include), no C runtime.
#include <ntddk.h>
#include <wdf.h>
#include <wdfldr.h>

#include <utility>

// The table is untyped; each entry is cast back by the caller.
#pragma GCC diagnostic ignored "-Wcast-function-type"

extern "C" NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName,
                                          ULONG ValueType, PVOID ValueData, ULONG ValueLength);
#define RTL_REGISTRY_ABSOLUTE 0
#define REG_DWORD 4

namespace {

const WCHAR kKey[] = L"\\Registry\\Machine\\Software\\Quellix\\KmdfBind";

void Record(PCWSTR name, ULONG value) {
    RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kKey, name, REG_DWORD, &value, sizeof(value));
}

constexpr NTSTATUS kBindRefused = (NTSTATUS)0xE0B00000;  // + the failed check
constexpr NTSTATUS kCreateSeen = (NTSTATUS)0xE0B10000;   // + the failed check, 0: none
constexpr NTSTATUS kUnexpected = (NTSTATUS)0xE0B20000;   // + the table index

WDF_DRIVER_GLOBALS g_globals;
PDRIVER_OBJECT g_driverObject;
PWDF_BIND_INFO g_bindInfo;
WCHAR g_path[256];
ULONG g_calls;

BOOLEAN SameText(PCWSTR a, PCWSTR b) {
    while (*a != 0 && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

BOOLEAN SamePath(PCUNICODE_STRING path) {
    const ULONG chars = path == NULL ? 0 : path->Length / sizeof(WCHAR);
    if (path == NULL || path->Buffer == NULL || chars == 0 || chars >= 256) return FALSE;
    for (ULONG i = 0; i < chars; i++) {
        if (path->Buffer[i] != g_path[i]) return FALSE;
    }
    return g_path[chars] == 0;
}

// Every entry but WdfDriverCreate: the driver called something unexpected.
template <int Index>
NTSTATUS Unexpected() {
    Record(L"Unexpected", Index);
    return kUnexpected + Index;
}

template <int... Index>
void FillUnexpected(WDFFUNC* table, std::integer_sequence<int, Index...>) {
    const WDFFUNC traps[] = {reinterpret_cast<WDFFUNC>(&Unexpected<Index>)...};
    for (int i = 0; i < WdfFunctionTableNumEntries; i++) table[i] = traps[i];
}

// The checks on the driver's first call, in order; the first that fails
// names the status.
NTSTATUS DriverCreate(PWDF_DRIVER_GLOBALS Globals, PDRIVER_OBJECT DriverObject,
                      PCUNICODE_STRING RegistryPath, PWDF_OBJECT_ATTRIBUTES Attributes,
                      PWDF_DRIVER_CONFIG Config, WDFDRIVER* Driver) {
    g_calls++;
    Record(L"FirstCall", WdfDriverCreateTableIndex);
    const BOOLEAN checks[] = {
        Globals == &g_globals,
        DriverObject == g_driverObject,
        SamePath(RegistryPath),
        Attributes != NULL && Attributes->Size == 56,
        Attributes != NULL && Attributes->EvtCleanupCallback != NULL,
        Attributes != NULL && Attributes->ExecutionLevel == WdfExecutionLevelInheritFromParent &&
            Attributes->SynchronizationScope == WdfSynchronizationScopeInheritFromParent,
        Config != NULL && Config->Size == 32,
        Config != NULL && Config->EvtDriverDeviceAdd != NULL && Config->EvtDriverUnload == NULL,
        Config != NULL && Config->DriverInitFlags == 0,
        Config != NULL && Config->DriverPoolTag == 0x00585851,  // "QXX" and a zero byte
        Driver == NULL,                                         // WDF_NO_HANDLE
    };
    for (ULONG i = 0; i < sizeof(checks) / sizeof(checks[0]); i++) {
        if (!checks[i]) {
            Record(L"DriverCreate", i + 1);
            return kCreateSeen + (NTSTATUS)(i + 1);
        }
    }
    Record(L"DriverCreate", 0);
    return kCreateSeen;
}

WDFFUNC g_table[WdfFunctionTableNumEntries];

}  // namespace

extern "C" BOOLEAN StandinEntry(PVOID, ULONG, PVOID) {
    return TRUE;
}

extern "C" NTSTATUS WdfVersionBind(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath,
                                   PWDF_BIND_INFO BindInfo, PWDF_DRIVER_GLOBALS* Globals) {
    Record(L"Binds", 1);
    // The client's table variable must start empty; this loader puts the
    // address of its table there.
    const BOOLEAN checks[] = {
        BindInfo != NULL && BindInfo->Size == 48,
        BindInfo != NULL && BindInfo->Component != NULL &&
            SameText(BindInfo->Component, L"KmdfLibrary"),
        BindInfo != NULL && BindInfo->Version.Major == 1 && BindInfo->Version.Minor == 15,
        BindInfo != NULL && BindInfo->FuncCount == 444,
        BindInfo != NULL && BindInfo->FuncTable != NULL && *(WDFFUNC**)BindInfo->FuncTable == NULL,
        Globals != NULL && DriverObject != NULL,
        RegistryPath != NULL && RegistryPath->Buffer != NULL &&
            RegistryPath->Length / sizeof(WCHAR) < 256,
    };
    for (ULONG i = 0; i < sizeof(checks) / sizeof(checks[0]); i++) {
        if (!checks[i]) {
            Record(L"Bind", i + 1);
            return kBindRefused + (NTSTATUS)(i + 1);
        }
    }
    Record(L"Bind", 0);
    for (ULONG i = 0; i < RegistryPath->Length / sizeof(WCHAR); i++)
        g_path[i] = RegistryPath->Buffer[i];
    g_driverObject = DriverObject;
    g_bindInfo = BindInfo;
    FillUnexpected(g_table, std::make_integer_sequence<int, WdfFunctionTableNumEntries>());
    g_table[WdfDriverCreateTableIndex] = reinterpret_cast<WDFFUNC>(&DriverCreate);
    *(WDFFUNC**)BindInfo->FuncTable = g_table;
    *Globals = &g_globals;
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS WdfVersionUnbind(PUNICODE_STRING RegistryPath, PWDF_BIND_INFO BindInfo,
                                     PWDF_DRIVER_GLOBALS Globals) {
    const BOOLEAN same = BindInfo == g_bindInfo && Globals == &g_globals && SamePath(RegistryPath);
    Record(L"Unbind", same ? 1 : 2);
    Record(L"Calls", g_calls);
    return STATUS_SUCCESS;
}
