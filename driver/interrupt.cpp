// The interrupt: a passive-level service routine that hands each interrupt to
// a waiting user request and holds the line until user mode acknowledges it.
//
// WaitRequest is shared by the default queue (WaitOnInterrupt), the interrupt
// routine (NotifyInterruptWaiter) and the wait's cancel routine. All three
// take StateLock around it, and the routine that takes the request out of
// WaitRequest is the one that completes it: exactly one completion per wait.
#include "qxveltrane.h"

VOID SignalInterrupt(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    if (Context->InterruptObject == NULL) {
        WdfRequestComplete(Request, STATUS_NOT_FOUND);
        return;
    }
    KeSetEvent(&Context->InterruptEvent, IO_NO_INCREMENT, FALSE);
    WdfRequestComplete(Request, STATUS_SUCCESS);
}

VOID WaitOnInterrupt(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    PREQUEST_CONTEXT_T requestContext = GetRequestContext(Request);
    requestContext->DeviceHandle = Context->DeviceHandle;

    NTSTATUS status;
    WdfSpinLockAcquire(Context->StateLock);
    if (Context->WaitRequest != NULL) {
        status = STATUS_INVALID_DEVICE_STATE;  // the pending wait stays as it is
    } else {
        // A cancel routine called from here on blocks on the lock until the
        // request is published, and then finds and takes it.
        status = WdfRequestMarkCancelableEx(Request, OnWaitRequestCancel);
        if (NT_SUCCESS(status)) {
            Context->WaitRequest = Request;
        }
    }
    WdfSpinLockRelease(Context->StateLock);

    if (!NT_SUCCESS(status)) {
        WdfRequestComplete(Request, status);
    }
}

_Use_decl_annotations_ VOID OnWaitRequestCancel(WDFREQUEST Request) {
    PREQUEST_CONTEXT_T requestContext = GetRequestContext(Request);
    PDEVICE_CONTEXT_T context = GetDeviceContext(requestContext->DeviceHandle);

    WdfSpinLockAcquire(context->StateLock);
    if (context->WaitRequest == Request) {
        context->WaitRequest = NULL;
    }
    WdfSpinLockRelease(context->StateLock);
    WdfRequestComplete(Request, STATUS_CANCELLED);
}

BOOLEAN NotifyInterruptWaiter(PDEVICE_CONTEXT_T Context) {
    WdfSpinLockAcquire(Context->StateLock);
    WDFREQUEST waiter = Context->WaitRequest;
    Context->WaitRequest = NULL;
    NTSTATUS status = STATUS_NOT_FOUND;
    if (waiter != NULL) {
        status = WdfRequestUnmarkCancelable(waiter);
    }
    WdfSpinLockRelease(Context->StateLock);

    if (waiter == NULL || !NT_SUCCESS(status)) {
        // No waiter, or its cancel routine has begun and completes it.
        return FALSE;
    }
    WdfRequestComplete(waiter, STATUS_SUCCESS);
    return TRUE;
}

_Use_decl_annotations_ BOOLEAN OnInterruptIsr(WDFINTERRUPT Interrupt, ULONG MessageID) {
    UNREFERENCED_PARAMETER(MessageID);
    PDEVICE_CONTEXT_T context = GetDeviceContext(WdfInterruptGetDevice(Interrupt));

    KeClearEvent(&context->InterruptEvent);
    if (NotifyInterruptWaiter(context)) {
        // Hold the interrupt until user mode has serviced the controller and
        // acknowledged (SIGNAL_INTERRUPT) or closed a handle, but not for
        // ever: every D0 exit waits for this routine, and a client that never
        // answers must not stall a power transition.
        LARGE_INTEGER hold;
        hold.QuadPart = -10000LL * QX_INTERRUPT_HOLD_MS;
        if (KeWaitForSingleObject(&context->InterruptEvent, Executive, KernelMode, FALSE, &hold) == STATUS_TIMEOUT) {
            QX_TRACE(TRACE_IO, DPFLTR_WARNING_LEVEL, "interrupt not acknowledged within %u ms",
                     (unsigned)QX_INTERRUPT_HOLD_MS);
        }
    }
    return TRUE;
}
