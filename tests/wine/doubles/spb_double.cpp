// Our double of the SPB controller under Wine: a WDM driver whose device
// object carries the resource hub's name for the controller's connection
// (id 1:2), so that QXVeltrane opens it as it opens the real controller, and
// the antenna controller on the bus behind it: the same controller, fault
// modes and control device "\\.\QXSPBCTL" as the WDM double of the driver
// (controller_device.h). It answers reads, writes, sequences and full-duplex
// transfers, and the locks of the controller and the connection
// (kmdf/spb/spb_rules.h, the simulated controller's rules on the host).
//
// It must share QXVeltrane's winedevice process (one service group): the
// buffers of a transfer list are the driver's kernel pointers.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h>

#include "kmdf/spb/spb_rules.h"
#include "tests/wine/doubles/controller_device.h"

namespace {

using qxdouble::Complete;
using qxdouble::g_controller;
using qxdouble::g_lock;

// The resource hub's directory does not exist under Wine; the double makes it.
const wchar_t kHubDirectory[] = L"\\Device\\RESOURCE_HUB";
const wchar_t kControllerName[] = L"\\Device\\RESOURCE_HUB\\0000000100000002";
const wchar_t kControlName[] = L"\\Device\\QXSPBCTL";
const wchar_t kControlLink[] = L"\\DosDevices\\QXSPBCTL";

// The most transfers the controller takes in one list.
constexpr uint32_t kMaxTransfers = 8;

HANDLE g_hub;
PDEVICE_OBJECT g_controllerDevice;
PDEVICE_OBJECT g_controlDevice;
spbrules::Locks g_locks;

// A connection refused at its create keeps its handle under Wine (the
// create's failure does not reach the opener); its requests fail the same way.
void* const kRefused = reinterpret_cast<void*>(1);

// A sequence's transfers run in list order. The write part is one bus
// write (one frame for the controller), the read part one bus read; the
// controller's settings end each as for a plain transfer, and a held or
// failed part holds or fails the whole request.
NTSTATUS Sequence(PIRP irp, PIO_STACK_LOCATION sp, ULONG code) {
    spbrules::Transfer transfers[kMaxTransfers];
    uint32_t count = 0;
    NTSTATUS status = spbrules::ReadTransferList(code, irp->AssociatedIrp.SystemBuffer,
                                                 sp->Parameters.DeviceIoControl.InputBufferLength,
                                                 transfers, kMaxTransfers, &count);
    if (!NT_SUCCESS(status)) return Complete(irp, status, 0);
    const int64_t now = qxdouble::NowMs();
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    qxproto::Outcome outcome = qxproto::Outcome::Complete;
    for (uint32_t i = 0; i < count && outcome == qxproto::Outcome::Complete; i++) {
        if (transfers[i].direction == spbrules::kToDevice) {
            ++g_controller.log.writes;
            outcome = g_controller.firmware.NextWriteOutcome();
        } else {
            ++g_controller.log.reads;
            outcome = g_controller.firmware.NextReadOutcome();
        }
    }
    ULONG_PTR information = 0;
    if (outcome == qxproto::Outcome::Complete) {
        for (uint32_t i = 0; i < count; i++) {
            const spbrules::Transfer& t = transfers[i];
            const ULONG len = static_cast<ULONG>(t.length);
            if (t.direction == spbrules::kToDevice) {
                g_controller.OnWrite(t.buffer, len, now);
            } else {
                g_controller.OnRead(t.buffer, len, now);
            }
            information += len;
        }
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (outcome == qxproto::Outcome::Pending) return qxdouble::HoldUntilCancelled(irp);
    if (outcome == qxproto::Outcome::FailNow) return Complete(irp, STATUS_IO_DEVICE_ERROR, 0);
    return Complete(irp, STATUS_SUCCESS, information);
}

NTSTATUS ControllerIoctl(PIRP irp, PIO_STACK_LOCATION sp) {
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    if (spbrules::Locks::Handles(code)) {
        KIRQL irql;
        KeAcquireSpinLock(&g_lock, &irql);
        const int32_t status = g_locks.Apply(code);
        KeReleaseSpinLock(&g_lock, irql);
        return Complete(irp, status, 0);
    }
    return Sequence(irp, sp, code);
}

NTSTATUS ControllerDispatch(PIRP irp, PIO_STACK_LOCATION sp) {
    PFILE_OBJECT file = sp->FileObject;
    switch (sp->MajorFunction) {
        case IRP_MJ_CREATE: {
            KIRQL irql;
            KeAcquireSpinLock(&g_lock, &irql);
            ++g_controller.log.opens;
            const bool refuse = g_controller.refuse_open != 0;
            if (!refuse) ++g_controller.log.handles;
            KeReleaseSpinLock(&g_lock, irql);
            if (refuse) {
                if (file != nullptr) file->FsContext = kRefused;
                return Complete(irp, STATUS_NOT_FOUND, 0);
            }
            return Complete(irp, STATUS_SUCCESS, 0);
        }
        case IRP_MJ_CLEANUP:
            return Complete(irp, STATUS_SUCCESS, 0);
        case IRP_MJ_CLOSE:
            if (file == nullptr || file->FsContext != kRefused) qxdouble::CountHandles(-1);
            return Complete(irp, STATUS_SUCCESS, 0);
        default:
            break;
    }
    if (file != nullptr && file->FsContext == kRefused) return Complete(irp, STATUS_NOT_FOUND, 0);
    switch (sp->MajorFunction) {
        case IRP_MJ_READ:
            return qxdouble::Transfer(irp, false, qxdouble::IrpBuffer(irp),
                                      sp->Parameters.Read.Length);
        case IRP_MJ_WRITE:
            return qxdouble::Transfer(irp, true, qxdouble::IrpBuffer(irp),
                                      sp->Parameters.Write.Length);
        case IRP_MJ_DEVICE_CONTROL:
        case IRP_MJ_INTERNAL_DEVICE_CONTROL:
            return ControllerIoctl(irp, sp);
        default:
            return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (device == g_controllerDevice) return ControllerDispatch(irp, sp);
    if (sp->MajorFunction == IRP_MJ_DEVICE_CONTROL) return qxdouble::ControlIoctl(irp, sp);
    if (sp->MajorFunction == IRP_MJ_CREATE || sp->MajorFunction == IRP_MJ_CLOSE ||
        sp->MajorFunction == IRP_MJ_CLEANUP) {
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

void Unload(PDRIVER_OBJECT driver) {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kControlLink);
    IoDeleteSymbolicLink(&link);
    while (driver->DeviceObject != nullptr) IoDeleteDevice(driver->DeviceObject);
    if (g_hub != nullptr) ZwClose(g_hub);
    g_hub = nullptr;
}

NTSTATUS NewDevice(PDRIVER_OBJECT driver, const wchar_t* name, DEVICE_TYPE type,
                   PDEVICE_OBJECT* device) {
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, name);
    NTSTATUS status = IoCreateDevice(driver, 0, &deviceName, type, 0, FALSE, device);
    if (NT_SUCCESS(status)) {
        (*device)->Flags |= DO_BUFFERED_IO;
        (*device)->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    return status;
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    qxdouble::InitController();
    g_locks = spbrules::Locks{};
    for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; ++i) driver->MajorFunction[i] = Dispatch;
    driver->DriverUnload = Unload;

    UNICODE_STRING hub;
    RtlInitUnicodeString(&hub, kHubDirectory);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &hub, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                               nullptr);
    NTSTATUS status = ZwCreateDirectoryObject(&g_hub, DIRECTORY_ALL_ACCESS, &attributes);
    if (NT_SUCCESS(status))
        status = NewDevice(driver, kControllerName, FILE_DEVICE_CONTROLLER, &g_controllerDevice);
    if (NT_SUCCESS(status))
        status = NewDevice(driver, kControlName, FILE_DEVICE_UNKNOWN, &g_controlDevice);
    if (NT_SUCCESS(status)) {
        UNICODE_STRING name, link;
        RtlInitUnicodeString(&name, kControlName);
        RtlInitUnicodeString(&link, kControlLink);
        status = IoCreateSymbolicLink(&link, &name);
    }
    if (!NT_SUCCESS(status)) Unload(driver);
    return status;
}
