// The queues: routing of every request the device receives.
#include "qxveltrane.h"

_Use_decl_annotations_ VOID OnTopLevelIoDefault(WDFQUEUE Queue, WDFREQUEST Request) {
    PDEVICE_CONTEXT_T context = GetDeviceContext(WdfIoQueueGetDevice(Queue));

    WDF_REQUEST_PARAMETERS parameters;
    WDF_REQUEST_PARAMETERS_INIT(&parameters);
    WdfRequestGetParameters(Request, &parameters);

    // A wait stays pending for as long as no interrupt comes; handled here it
    // never occupies the sequential queue. The acknowledgement is handled
    // here too: the sequential queue is power-managed and takes nothing
    // while the device leaves D0, yet the D0 exit waits for the interrupt
    // routine, which waits for this acknowledgement.
    if (parameters.Type == WdfRequestTypeDeviceControl) {
        const ULONG code = parameters.Parameters.DeviceIoControl.IoControlCode;
        if (code == IOCTL_QXSPB_WAIT_ON_INTERRUPT) {
            WaitOnInterrupt(context, Request);
            return;
        }
        if (code == IOCTL_QXSPB_SIGNAL_INTERRUPT) {
            SignalInterrupt(context, Request);
            return;
        }
    }

    NTSTATUS status = WdfRequestForwardToIoQueue(Request, context->IoQueue);
    if (!NT_SUCCESS(status)) {
        QX_TRACE(TRACE_IO, DPFLTR_ERROR_LEVEL, "forwarding failed %08x", (unsigned)status);
        WdfRequestComplete(Request, status);
    }
}

_Use_decl_annotations_ VOID OnIoREAD(WDFQUEUE Queue, WDFREQUEST Request, size_t Length) {
    DbgPrint("DUVAD: in OnIoREAD()\n");
    if (Length > QX_MAX_TRANSFER_BYTES) {
        WdfRequestCompleteWithInformation(Request, STATUS_INVALID_BUFFER_SIZE, 0);
        return;
    }
    BusRead(GetDeviceContext(WdfIoQueueGetDevice(Queue)), Request);
}

_Use_decl_annotations_ VOID OnIoWRITE(WDFQUEUE Queue, WDFREQUEST Request, size_t Length) {
    DbgPrint("DUVAD: in OnIoWRITE()\n");
    if (Length > QX_MAX_TRANSFER_BYTES) {
        WdfRequestCompleteWithInformation(Request, STATUS_INVALID_BUFFER_SIZE, 0);
        return;
    }
    BusWrite(GetDeviceContext(WdfIoQueueGetDevice(Queue)), Request);
}

// The device leaves D0 (or goes away) while the sequential queue's request is
// the current bus operation: cancel it on the bus, so that its completion
// ends the client's request now. The power transition waits for that
// completion, not for a transfer the bus might finish much later.
_Use_decl_annotations_ VOID OnIoStop(WDFQUEUE Queue, WDFREQUEST Request, ULONG ActionFlags) {
    UNREFERENCED_PARAMETER(ActionFlags);
    PDEVICE_CONTEXT_T context = GetDeviceContext(WdfIoQueueGetDevice(Queue));
    WdfSpinLockAcquire(context->StateLock);
    BOOLEAN onTheBus = context->BusReady && context->ClientRequest == Request;
    WdfSpinLockRelease(context->StateLock);
    // Not under StateLock: the bus may complete BusRequest inside the cancel,
    // and its completion takes the lock. No other request can take BusRequest
    // meanwhile: the queue presents nothing while the device leaves D0.
    if (onTheBus) {
        WdfRequestCancelSentRequest(context->BusRequest);
    }
}

_Use_decl_annotations_ VOID OnIoDeviceControl(WDFQUEUE Queue, WDFREQUEST Request, size_t OutputBufferLength,
                                              size_t InputBufferLength, ULONG IoControlCode) {
    UNREFERENCED_PARAMETER(OutputBufferLength);
    UNREFERENCED_PARAMETER(InputBufferLength);
    DbgPrint("DUVAD: in OnIoDeviceControl()\n");
    PDEVICE_CONTEXT_T context = GetDeviceContext(WdfIoQueueGetDevice(Queue));

    switch (IoControlCode) {
        case IOCTL_QXSPB_OPEN:
            WdfRequestCompleteWithInformation(Request, BusOpen(context), 0);
            break;
        case IOCTL_QXSPB_CLOSE:
            WdfRequestCompleteWithInformation(Request, BusClose(context), 0);
            break;
        case IOCTL_QXSPB_LOCK:
            BusLock(context, Request);
            break;
        case IOCTL_QXSPB_UNLOCK:
            BusUnlock(context, Request);
            break;
        case IOCTL_QXSPB_LOCK_CONNECTION:
            BusLockConnection(context, Request);
            break;
        case IOCTL_QXSPB_UNLOCK_CONNECTION:
            BusUnlockConnection(context, Request);
            break;
        case IOCTL_QXSPB_WRITE_READ:
            BusWriteRead(context, Request);
            break;
        case IOCTL_QXSPB_FULL_DUPLEX:
            BusFullDuplex(context, Request);
            break;
        default:
            // IOCTL_QXSPB_WAIT_ON_INTERRUPT and IOCTL_QXSPB_SIGNAL_INTERRUPT belong
            // to the default queue; here they are as unknown as any other code.
            WdfRequestCompleteWithInformation(Request, STATUS_INVALID_DEVICE_REQUEST, 0);
            break;
    }
}
