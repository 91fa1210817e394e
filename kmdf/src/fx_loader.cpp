// The framework's loader: the bind of a client image (WdfVersionBind), its
// unbind, and the function table the bind hands out.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "kmdf/src/fx.h"

namespace kmdfsim {

namespace {

// An entry of the table this framework does not implement. On Windows a
// method the framework lacks would be a jump into whatever the slot holds;
// here it stops the machine, naming the entry.
template <int Index>
void Unimplemented() {
    Violation("the driver called entry " + std::to_string(Index) +
              " of the function table, a method this framework does not implement");
    fprintf(stderr, "kmdfsim: unimplemented framework method at table index %d; stopping\n", Index);
    std::abort();
}

// One trap per entry, as an initializer list (a fold over 444 entries
// exceeds clang's nesting limit).
template <int... Index>
void PutUnimplemented(MethodTable& table, std::integer_sequence<int, Index...>) {
    const WDFFUNC traps[] = {&Unimplemented<Index>...};
    for (int i = 0; i < WdfFunctionTableNumEntries; i++) {
        table.entries[i] = traps[i];
        table.names[i] = nullptr;
    }
}

MethodTable BuildTable() {
    MethodTable table;
    PutUnimplemented(table, std::make_integer_sequence<int, WdfFunctionTableNumEntries>());
    fx::AddPowerMethods(table);
    fx::AddObjectMethods(table);
    fx::AddDeviceMethods(table);
    fx::AddRequestMethods(table);
    fx::AddTargetMethods(table);
    return table;
}

bool SameWide(PCWSTR a, PCWSTR b) {
    if (a == nullptr || b == nullptr) return false;
    while (*a != 0 && *a == *b) {
        a++;
        b++;
    }
    return *a == *b;
}

std::wstring FromUnicode(PCUNICODE_STRING s) {
    if (s == nullptr || s->Buffer == nullptr) return std::wstring();
    return std::wstring(s->Buffer, s->Length / sizeof(WCHAR));
}

}  // namespace

void MethodTable::Put(int index, const char* name, WDFFUNC entry) {
    if (index < 0 || index >= WdfFunctionTableNumEntries || names[index] != nullptr) {
        fprintf(stderr, "kmdfsim: %s: table index %d is out of range or taken\n", name, index);
        std::abort();
    }
    entries[index] = entry;
    names[index] = name;
}

const MethodTable& Methods() {
    static const MethodTable table = BuildTable();
    return table;
}

void CheckCaller(PWDF_DRIVER_GLOBALS globals, int index) {
    PWDF_DRIVER_GLOBALS bound;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        bound = Fx().bound;
    }
    if (globals == bound && bound != nullptr) return;
    Violation(std::string(Methods().names[index]) +
              (bound == nullptr ? " called while no driver is bound to the framework"
                                : " called with driver globals the framework did not hand to the "
                                  "bound driver"));
}

}  // namespace kmdfsim

using namespace kmdfsim;

// The loader's checks are those a client of 1.15 must pass: the record's
// size, the component, the version it was built for and the table it
// expects. A malformed bind is a broken loader stub, so it is also a
// violation.
NTSTATUS WdfVersionBind(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath,
                        PWDF_BIND_INFO BindInfo, PWDF_DRIVER_GLOBALS* Globals) {
    CheckIrql("WdfVersionBind", PASSIVE_LEVEL);
    if (DriverObject == nullptr || RegistryPath == nullptr || BindInfo == nullptr ||
        Globals == nullptr || BindInfo->Size != sizeof(WDF_BIND_INFO) ||
        !SameWide(BindInfo->Component, L"KmdfLibrary") || BindInfo->FuncTable == nullptr) {
        Violation("WdfVersionBind with a malformed bind record");
        return STATUS_INVALID_PARAMETER;
    }
    if (BindInfo->Version.Major != 1 || BindInfo->Version.Minor != 15 ||
        BindInfo->FuncCount != static_cast<ULONG>(WdfFunctionTableNumEntries)) {
        Violation("WdfVersionBind of a client built for another framework version (" +
                  std::to_string(BindInfo->Version.Major) + "." +
                  std::to_string(BindInfo->Version.Minor) + ", " +
                  std::to_string(BindInfo->FuncCount) + " table entries)");
        return STATUS_REVISION_MISMATCH;
    }
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (Fx().bound != nullptr) {
        Violation("WdfVersionBind while a driver is bound already");
        return STATUS_INVALID_DEVICE_STATE;
    }
    auto globals = std::make_unique<WDF_DRIVER_GLOBALS>();
    *globals = WDF_DRIVER_GLOBALS{};
    // The service name, the last part of the registry path, in ASCII.
    const std::wstring path = FromUnicode(RegistryPath);
    const std::wstring service = path.substr(path.find_last_of(L'\\') + 1);
    for (size_t i = 0; i < service.size() && i + 1 < sizeof(globals->DriverName); i++) {
        globals->DriverName[i] = service[i] < 0x80 ? static_cast<CHAR>(service[i]) : '?';
    }
    memcpy(&globals->DriverTag, globals->DriverName, sizeof(globals->DriverTag));
    globals->DisplaceDriverUnload = TRUE;
    // A 1.15 client passes the address of its table variable.
    *reinterpret_cast<WDFFUNC**>(BindInfo->FuncTable) = const_cast<WDFFUNC*>(Methods().entries);
    Fx().bound = globals.get();
    Fx().bindInfo = BindInfo;
    Fx().boundPath = path;
    Fx().allGlobals.push_back(std::move(globals));
    *Globals = Fx().bound;
    return STATUS_SUCCESS;
}

NTSTATUS WdfVersionUnbind(PUNICODE_STRING RegistryPath, PWDF_BIND_INFO BindInfo,
                          PWDF_DRIVER_GLOBALS Globals) {
    CheckIrql("WdfVersionUnbind", PASSIVE_LEVEL);
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (Globals == nullptr || Globals != Fx().bound || BindInfo != Fx().bindInfo ||
            FromUnicode(RegistryPath) != Fx().boundPath) {
            Violation("WdfVersionUnbind of a bind this framework did not make");
            return STATUS_INVALID_PARAMETER;
        }
        Fx().bound = nullptr;
        Fx().bindInfo = nullptr;
    }
    // What a client leaves at its unbind goes with it.
    DeleteDriverObject();
    return STATUS_SUCCESS;
}
