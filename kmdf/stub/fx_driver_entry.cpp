// The image's entry point: the loader stub around the driver's DriverEntry.
#include "kmdf/stub/fx_stub.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

extern "C" NTSTATUS FxDriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    return FxDriverEntryWorker(DriverObject, RegistryPath, DriverEntry);
}
