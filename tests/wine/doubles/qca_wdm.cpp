// A kernel-mode double of the Qualcomm Atheros driver's control device,
// loaded by Wine as a kernel service: "\\.\ATH_WIFIDEV.00" with its PPDU log
// and "\\.\ATHWIFICTL" for the test (qca_double.h).
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "tests/wine/doubles/qca_double.h"

namespace {

using IoctlFn = NTSTATUS (*)(PIRP irp, PIO_STACK_LOCATION sp);

struct DeviceSpec {
    const wchar_t* device_name;
    const wchar_t* link_name;
    IoctlFn ioctl;
};

struct DeviceExtension {
    IoctlFn ioctl;
};

const DeviceSpec kDevices[] = {
    {L"\\Device\\ATH_WIFIDEV.00", L"\\DosDevices\\ATH_WIFIDEV.00", qcadouble::QcaLogIoctl},
    {L"\\Device\\ATHWIFICTL", L"\\DosDevices\\ATHWIFICTL", qcadouble::QcaCtlIoctl},
};
constexpr ULONG kDeviceCount = sizeof(kDevices) / sizeof(kDevices[0]);

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<DeviceExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    switch (sp->MajorFunction) {
        case IRP_MJ_DEVICE_CONTROL:
            return ext->ioctl(irp, sp);
        case IRP_MJ_CREATE:
        case IRP_MJ_CLOSE:
        case IRP_MJ_CLEANUP:
            return qcadouble::Finish(irp, STATUS_SUCCESS, 0);
        default:
            return qcadouble::Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

void Unload(PDRIVER_OBJECT driver) {
    for (ULONG i = 0; i < kDeviceCount; ++i) {
        UNICODE_STRING link;
        RtlInitUnicodeString(&link, kDevices[i].link_name);
        IoDeleteSymbolicLink(&link);
    }
    while (driver->DeviceObject != nullptr) IoDeleteDevice(driver->DeviceObject);
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    qcadouble::Init();
    for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
    driver->DriverUnload = Unload;
    for (ULONG i = 0; i < kDeviceCount; ++i) {
        UNICODE_STRING name, link;
        RtlInitUnicodeString(&name, kDevices[i].device_name);
        RtlInitUnicodeString(&link, kDevices[i].link_name);
        PDEVICE_OBJECT device = nullptr;
        NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceExtension), &name,
                                         FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
        if (NT_SUCCESS(status)) {
            static_cast<DeviceExtension*>(device->DeviceExtension)->ioctl = kDevices[i].ioctl;
            device->Flags |= DO_BUFFERED_IO;
            device->Flags &= ~DO_DEVICE_INITIALIZING;
            status = IoCreateSymbolicLink(&link, &name);
        }
        if (!NT_SUCCESS(status)) {
            Unload(driver);
            return status;
        }
    }
    return STATUS_SUCCESS;
}
