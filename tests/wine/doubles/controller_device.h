// The antenna controller behind a device object of a kernel-mode double: the
// one controller (controller_double.h) under a spin lock, bus transfers that
// end as its settings say (completed, held until the issuer cancels them,
// or not acknowledged), and the control device "\\.\QXSPBCTL" through which
// a test sets the mode and reads the log (qxspb_ctl.h). The WDM double of
// the driver and the SPB controller double each include it once.
//
// Kernel mode, MinGW's <ntddk.h> first.
#pragma once

#include "tests/wine/doubles/controller_double.h"
#include "tests/wine/doubles/ctl_records.h"

namespace qxdouble {

// Everything the double knows, guarded by one spin lock.
inline KSPIN_LOCK g_lock;
inline Controller g_controller;

// Cancelled requests the bus has not let go of (kQxCancelNever), linked
// through their list entry; completed when a later mode completes cancels.
inline LIST_ENTRY g_held;

inline void InitController() {
    KeInitializeSpinLock(&g_lock);
    InitializeListHead(&g_held);
    RtlZeroMemory(&g_controller, sizeof(g_controller));
    g_controller.PowerOn();
}

inline NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// Buffered I/O: the bytes sit in the system buffer; fall back to the user
// buffer for a loader that passes it directly.
inline uint8_t* IrpBuffer(PIRP irp) {
    if (irp->AssociatedIrp.SystemBuffer != nullptr)
        return static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    return static_cast<uint8_t*>(irp->UserBuffer);
}

inline void CompleteCancelled(PIRP irp) {
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    ++g_controller.log.cancelled;
    KeReleaseSpinLock(&g_lock, irql);
    Complete(irp, STATUS_CANCELLED, 0);
}

// A late completion: a work item of its own sleeps the delay, then completes.
// Its pointer and the delay ride in the request's driver context.
inline void CompleteLater(PDEVICE_OBJECT, PVOID context) {
    auto irp = static_cast<PIRP>(context);
    auto item = static_cast<PIO_WORKITEM>(irp->Tail.Overlay.DriverContext[0]);
    LARGE_INTEGER delay;
    delay.QuadPart = -10000LL * reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[1]);
    KeDelayExecutionThread(KernelMode, FALSE, &delay);
    CompleteCancelled(irp);
    IoFreeWorkItem(item);
}

// A cancel only asks: the bus completes the request at once, after the
// mode's cancel delay, or (kQxCancelNever) not until a later mode.
inline void CancelPending(PDEVICE_OBJECT device, PIRP irp) {
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
inline void ReleaseHeld() {
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
inline NTSTATUS HoldUntilCancelled(PIRP irp) {
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
inline int64_t NowMs() {
    LARGE_INTEGER frequency;
    const LARGE_INTEGER ticks = KeQueryPerformanceCounter(&frequency);
    if (frequency.QuadPart <= 0) return 0;
    return ticks.QuadPart / frequency.QuadPart * 1000 +
           ticks.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}

// One bus transfer of len bytes at buf: the controller decides how the bus
// ends it; a completed one reaches it. Pending: held until the issuer
// cancels it; FailNow: not acknowledged.
inline NTSTATUS Transfer(PIRP irp, bool write, uint8_t* buf, ULONG len) {
    const int64_t now = NowMs();
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    qxproto::Outcome outcome;
    if (write) {
        ++g_controller.log.writes;
        outcome = g_controller.firmware.NextWriteOutcome();
        if (outcome == qxproto::Outcome::Complete && buf != nullptr)
            g_controller.OnWrite(buf, len, now);
    } else {
        ++g_controller.log.reads;
        outcome = g_controller.firmware.NextReadOutcome();
        if (outcome == qxproto::Outcome::Complete && buf != nullptr)
            g_controller.OnRead(buf, len, now);
    }
    KeReleaseSpinLock(&g_lock, irql);
    if (outcome == qxproto::Outcome::Pending) return HoldUntilCancelled(irp);
    if (outcome == qxproto::Outcome::FailNow || buf == nullptr)
        return Complete(irp, STATUS_IO_DEVICE_ERROR, 0);
    return Complete(irp, STATUS_SUCCESS, len);
}

inline void CountHandles(int32_t delta) {
    KIRQL irql;
    KeAcquireSpinLock(&g_lock, &irql);
    g_controller.log.handles += delta;
    KeReleaseSpinLock(&g_lock, irql);
}

// The control device's requests: set the mode, fetch the log, reset it.
inline NTSTATUS ControlIoctl(PIRP irp, PIO_STACK_LOCATION sp) {
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

}  // namespace qxdouble
