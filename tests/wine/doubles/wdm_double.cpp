// Our kernel-mode double of the controller's driver, loaded by Wine as a
// kernel service. "\\.\QXSPB" behaves like the real device towards the
// daemon's transport (IOCTL_QXSPB_OPEN, one write = one frame to the
// controller, one read = the controller's bare reply) and plays the
// controller behind it; "\\.\QXSPBCTL" lets a test choose how transfers end
// and read back what arrived. Further devices (the Wi-Fi vendor's control
// device) join as another entry of kDevices with dispatch routines of their own.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "driver/include/qxspb_public.h"
#include "tests/wine/doubles/controller_device.h"
#include "tests/wine/doubles/qca_double.h"

namespace {

// Dispatch routines of one device; a null one refuses the request.
struct DeviceOps {
    void (*created)(int32_t delta);  // +1 on create, -1 on close; may be null
    NTSTATUS (*read)(PIRP irp, PIO_STACK_LOCATION sp);
    NTSTATUS (*write)(PIRP irp, PIO_STACK_LOCATION sp);
    NTSTATUS (*ioctl)(PIRP irp, PIO_STACK_LOCATION sp);
};

struct DeviceSpec {
    const wchar_t* device_name;
    const wchar_t* link_name;
    DeviceOps ops;
    // Marked exclusive as the driver's INF marks the real device: while a
    // handle is open, every other open fails with STATUS_ACCESS_DENIED.
    // Windows' I/O manager makes that check on the named device object;
    // Wine's does not, and it hands out the handle even when the double
    // fails IRP_MJ_CREATE. So the double fails the create and then every
    // request of that other file object with STATUS_ACCESS_DENIED: its first
    // request (the daemon's open control code) fails as the open would have.
    bool exclusive;
};

struct DeviceExtension {
    const DeviceOps* ops;
    bool exclusive;
    PVOID owner;  // of an exclusive device: the file object that has it, or null
};

// The exclusive device's create: true when this file object now has it.
bool TakeExclusive(DeviceExtension* ext, PFILE_OBJECT file) {
    return InterlockedCompareExchangePointer(&ext->owner, file, nullptr) == nullptr;
}

// A request of a file object that does not have the exclusive device.
bool Outsider(DeviceExtension* ext, PFILE_OBJECT file) {
    return ext->exclusive &&
           InterlockedCompareExchangePointer(&ext->owner, nullptr, nullptr) != file;
}

using qxdouble::Complete;
using qxdouble::g_controller;
using qxdouble::g_lock;

NTSTATUS SpbWrite(PIRP irp, PIO_STACK_LOCATION sp) {
    return qxdouble::Transfer(irp, true, qxdouble::IrpBuffer(irp), sp->Parameters.Write.Length);
}

NTSTATUS SpbRead(PIRP irp, PIO_STACK_LOCATION sp) {
    return qxdouble::Transfer(irp, false, qxdouble::IrpBuffer(irp), sp->Parameters.Read.Length);
}

NTSTATUS SpbIoctl(PIRP irp, PIO_STACK_LOCATION sp) {
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    if (code == IOCTL_QXSPB_CLOSE) return Complete(irp, STATUS_SUCCESS, 0);
    if (code != IOCTL_QXSPB_OPEN) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    ++g_controller.log.opens;
    const bool refuse = g_controller.refuse_open != 0;
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, refuse ? STATUS_NOT_FOUND : STATUS_SUCCESS, 0);
}

const DeviceSpec kDevices[] = {
    {L"\\Device\\QXSPB",
     QXSPB_LINK_NAME_W,
     {qxdouble::CountHandles, SpbRead, SpbWrite, SpbIoctl},
     true},
    {L"\\Device\\QXSPBCTL",
     L"\\DosDevices\\QXSPBCTL",
     {nullptr, nullptr, nullptr, qxdouble::ControlIoctl},
     false},
    {L"\\Device\\ATH_WIFIDEV.00",
     L"\\DosDevices\\ATH_WIFIDEV.00",
     {qcadouble::QcaHandles, nullptr, nullptr, qcadouble::QcaLogIoctl},
     false},
    {L"\\Device\\ATHWIFICTL",
     L"\\DosDevices\\ATHWIFICTL",
     {nullptr, nullptr, nullptr, qcadouble::QcaCtlIoctl},
     false},
};
constexpr ULONG kDeviceCount = sizeof(kDevices) / sizeof(kDevices[0]);

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<DeviceExtension*>(device->DeviceExtension);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS (*op)(PIRP, PIO_STACK_LOCATION) = nullptr;
    switch (sp->MajorFunction) {
        case IRP_MJ_READ:
            op = ext->ops->read;
            break;
        case IRP_MJ_WRITE:
            op = ext->ops->write;
            break;
        case IRP_MJ_DEVICE_CONTROL:
            op = ext->ops->ioctl;
            break;
        case IRP_MJ_CREATE:
            if (ext->exclusive && !TakeExclusive(ext, sp->FileObject))
                return Complete(irp, STATUS_ACCESS_DENIED, 0);
            if (ext->ops->created != nullptr) ext->ops->created(1);
            return Complete(irp, STATUS_SUCCESS, 0);
        case IRP_MJ_CLOSE:
            if (Outsider(ext, sp->FileObject)) return Complete(irp, STATUS_SUCCESS, 0);
            if (ext->exclusive) InterlockedExchangePointer(&ext->owner, nullptr);
            if (ext->ops->created != nullptr) ext->ops->created(-1);
            return Complete(irp, STATUS_SUCCESS, 0);
        case IRP_MJ_CLEANUP:
            return Complete(irp, STATUS_SUCCESS, 0);
        default:
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (op == nullptr) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (Outsider(ext, sp->FileObject)) return Complete(irp, STATUS_ACCESS_DENIED, 0);
    return op(irp, sp);
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
    qxdouble::InitController();
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
            auto* ext = static_cast<DeviceExtension*>(device->DeviceExtension);
            ext->ops = &kDevices[i].ops;
            ext->exclusive = kDevices[i].exclusive;
            ext->owner = nullptr;
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
