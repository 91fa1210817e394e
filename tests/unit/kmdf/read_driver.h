// The smallest driver the simulation's tests load: one parallel queue, not
// power managed, whose reads go to Read, behind "\\.\QXSPB".
#pragma once

#include <wdf.h>

#include "driver/include/qxspb_public.h"
#include "kmdf/stub/fx_stub.h"

namespace kmdftest {

template <PFN_WDF_IO_QUEUE_IO_READ Read>
NTSTATUS ReadDriverAdd(WDFDRIVER, PWDFDEVICE_INIT DeviceInit) {
    WDFDEVICE device;
    NTSTATUS status = WdfDeviceCreate(&DeviceInit, WDF_NO_OBJECT_ATTRIBUTES, &device);
    if (!NT_SUCCESS(status)) return status;
    WDF_IO_QUEUE_CONFIG config;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&config, WdfIoQueueDispatchParallel);
    config.PowerManaged = WdfFalse;
    config.EvtIoRead = Read;
    status = WdfIoQueueCreate(device, &config, WDF_NO_OBJECT_ATTRIBUTES, WDF_NO_HANDLE);
    if (!NT_SUCCESS(status)) return status;
    DECLARE_CONST_UNICODE_STRING(link, QXSPB_LINK_NAME_W);
    return WdfDeviceCreateSymbolicLink(device, &link);
}

template <PFN_WDF_IO_QUEUE_IO_READ Read>
NTSTATUS ReadDriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, ReadDriverAdd<Read>);
    return WdfDriverCreate(DriverObject, RegistryPath, WDF_NO_OBJECT_ATTRIBUTES, &config,
                           WDF_NO_HANDLE);
}

// The image: our loader stub binds it, then runs ReadDriverEntry.
template <PFN_WDF_IO_QUEUE_IO_READ Read>
NTSTATUS ReadDriverImage(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    return FxDriverEntryWorker(DriverObject, RegistryPath, ReadDriverEntry<Read>);
}

}  // namespace kmdftest
