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

#include "tests/wine/doubles/controller_double.h"
#include "tests/wine/doubles/ctl_records.h"
#include "tests/wine/doubles/qca_double.h"

namespace {

constexpr ULONG kIoctlQxspbOpen = 0x04731E00;
constexpr ULONG kIoctlQxspbClose = 0x04731E04;

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

// Everything the double knows, guarded by one spin lock.
KSPIN_LOCK g_lock;
qxdouble::Controller g_controller;

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Buffered I/O: the bytes sit in the system buffer; fall back to the user
// buffer for a loader that passes it directly.
uint8_t* IrpBuffer(PIRP irp) {
    if (irp->AssociatedIrp.SystemBuffer != nullptr)
        return static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    return static_cast<uint8_t*>(irp->UserBuffer);
}

// Cancelled requests the bus has not let go of (kQxCancelNever), linked
// through their list entry; completed when a later mode completes cancels.
LIST_ENTRY g_held;

void CompleteCancelled(PIRP irp) {
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    ++g_controller.log.cancelled;
    KeReleaseSpinLock(&g_lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

// A late completion: a work item of its own sleeps the delay, then completes.
// Its pointer and the delay ride in the request's driver context.
void CompleteLater(PDEVICE_OBJECT, PVOID context) {
    auto irp = static_cast<PIRP>(context);
    auto item = static_cast<PIO_WORKITEM>(irp->Tail.Overlay.DriverContext[0]);
    LARGE_INTEGER delay;
    delay.QuadPart = -10000LL * reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[1]);
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
    CompleteCancelled(irp);
    IoFreeWorkItem(item);
}

void CancelPending(PDEVICE_OBJECT device, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    const uint32_t delay = g_controller.cancel_delay_ms;
    if (delay == kQxCancelNever) InsertTailList(&g_held, &irp->Tail.Overlay.ListEntry);
    KeReleaseSpinLock(&g_lock, irql);
    if (delay == kQxCancelNever) return;
    PIO_WORKITEM item = delay == 0 ? nullptr : IoAllocateWorkItem(device);
    if (item == nullptr) {
        CompleteCancelled(irp);
        return;
    }
    irp->Tail.Overlay.DriverContext[0] = item;
    irp->Tail.Overlay.DriverContext[1] = reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(delay));
    IoQueueWorkItem(item, CompleteLater, DelayedWorkQueue, irp);
}

// After a mode that completes cancels again: what the bus held ends, cancelled.
void ReleaseHeld() {
    for (;;) {
        KIRQL irql;
        KeAcquireSpinLock(&g_lock, &irql);
        PIRP irp = nullptr;
        if (!IsListEmpty(&g_held) && g_controller.cancel_delay_ms != kQxCancelNever)
            irp = CONTAINING_RECORD(RemoveHeadList(&g_held), IRP, Tail.Overlay.ListEntry);
        KeReleaseSpinLock(&g_lock, irql);
        if (irp == nullptr) return;
        CompleteCancelled(irp);
    }
}

// Leaves the request pending until its issuer cancels it.
NTSTATUS HoldUntilCancelled(PIRP irp) {
    IoMarkIrpPending(irp);
    (void)IoSetCancelRoutine(irp, CancelPending);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        Complete(irp, STATUS_CANCELLED, 0);
    }
    return STATUS_PENDING;
}

// Milliseconds of a monotonic clock, for the controller's reply delay. The
// performance counter is a real export (of hal.dll); MinGW's headers make
// KeQueryInterruptTime a read of the kernel's shared data page instead.
int64_t NowMs() {
    LARGE_INTEGER frequency;
    const LARGE_INTEGER ticks = KeQueryPerformanceCounter(&frequency);
    if (frequency.QuadPart <= 0) return 0;
    return ticks.QuadPart / frequency.QuadPart * 1000 +
           ticks.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}

// The controller decides how the bus ends the transfer; a completed one
// reaches it. Pending: held until the issuer cancels; FailNow: not acknowledged.
NTSTATUS SpbWrite(PIRP irp, PIO_STACK_LOCATION sp) {
    const ULONG len = sp->Parameters.Write.Length;
    const int64_t now = NowMs();
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    ++g_controller.log.writes;
    const qxproto::Outcome outcome = g_controller.firmware.NextWriteOutcome();
    uint8_t* buf = IrpBuffer(irp);
    if (outcome == qxproto::Outcome::Complete && buf != nullptr)
        g_controller.OnWrite(buf, len, now);
    KeReleaseSpinLock(&g_lock, irql);
    if (outcome == qxproto::Outcome::Pending) return HoldUntilCancelled(irp);
    if (outcome == qxproto::Outcome::FailNow || buf == nullptr)
        return Complete(irp, STATUS_IO_DEVICE_ERROR, 0);
    return Complete(irp, STATUS_SUCCESS, len);
}

NTSTATUS SpbRead(PIRP irp, PIO_STACK_LOCATION sp) {
    const ULONG len = sp->Parameters.Read.Length;
    const int64_t now = NowMs();
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    ++g_controller.log.reads;
    const qxproto::Outcome outcome = g_controller.firmware.NextReadOutcome();
    uint8_t* buf = IrpBuffer(irp);
    if (outcome == qxproto::Outcome::Complete && buf != nullptr) g_controller.OnRead(buf, len, now);
    KeReleaseSpinLock(&g_lock, irql);
    if (outcome == qxproto::Outcome::Pending) return HoldUntilCancelled(irp);
    if (outcome == qxproto::Outcome::FailNow || buf == nullptr)
        return Complete(irp, STATUS_IO_DEVICE_ERROR, 0);
    return Complete(irp, STATUS_SUCCESS, len);
}

NTSTATUS SpbIoctl(PIRP irp, PIO_STACK_LOCATION sp) {
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    if (code == kIoctlQxspbClose) return Complete(irp, STATUS_SUCCESS, 0);
    if (code != kIoctlQxspbOpen) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    ++g_controller.log.opens;
    const bool refuse = g_controller.refuse_open != 0;
    KeReleaseSpinLock(&g_lock, irql);
    return Complete(irp, refuse ? STATUS_NOT_FOUND : STATUS_SUCCESS, 0);
}

void SpbHandles(int32_t delta) {
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    g_controller.log.handles += delta;
    KeReleaseSpinLock(&g_lock, irql);
}

NTSTATUS CtlIoctl(PIRP irp, PIO_STACK_LOCATION sp) {
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in_len = sp->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out_len = sp->Parameters.DeviceIoControl.OutputBufferLength;
    void* buf = irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR info = 0;
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    if (code == QXCTL_SET_MODE) {
        QxDoubleMode mode;
        status = TakeRecord(buf, in_len, &mode, sizeof(QxDoubleMode));
        if (NT_SUCCESS(status)) g_controller.SetMode(mode);
    } else if (code == QXCTL_GET_LOG) {
        status = GiveRecord(buf, out_len, &g_controller.Log(), sizeof(QxDoubleLog), &info);
    } else if (code == QXCTL_RESET) {
        g_controller.ClearLog();
    } else {
        status = STATUS_INVALID_DEVICE_REQUEST;
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (code == QXCTL_SET_MODE) ReleaseHeld();
    return Complete(irp, status, info);
}

const DeviceSpec kDevices[] = {
    {L"\\Device\\QXSPB", L"\\DosDevices\\QXSPB", {SpbHandles, SpbRead, SpbWrite, SpbIoctl}, true},
    {L"\\Device\\QXSPBCTL",
     L"\\DosDevices\\QXSPBCTL",
     {nullptr, nullptr, nullptr, CtlIoctl},
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
    KeInitializeSpinLock(&g_lock);
    InitializeListHead(&g_held);
    RtlZeroMemory(&g_controller, sizeof(g_controller));
    g_controller.PowerOn();
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
