// The queues: routing of every request the device receives.
#include "qxveltrane.h"

_Use_decl_annotations_ VOID OnTopLevelIoDefault(WDFQUEUE Queue, WDFREQUEST Request) {
    PDEVICE_CONTEXT_T context = GetDeviceContext(WdfIoQueueGetDevice(Queue));

    WDF_REQUEST_PARAMETERS parameters;
    WDF_REQUEST_PARAMETERS_INIT(&parameters);
    WdfRequestGetParameters(Request, &parameters);

    // A wait stays pending for as long as no interrupt comes; handled here it
    // never occupies the sequential queue.
    if (parameters.Type == WdfRequestTypeDeviceControl &&
        parameters.Parameters.DeviceIoControl.IoControlCode == IOCTL_QXSPB_WAIT_ON_INTERRUPT) {
        WaitOnInterrupt(context, Request);
        return;
    }

    NTSTATUS status = WdfRequestForwardToIoQueue(Request, context->IoQueue);
    if (!NT_SUCCESS(status)) {
        QX_TRACE(TRACE_IO, DPFLTR_ERROR_LEVEL, "forwarding failed %08x", (unsigned)status);
        WdfRequestComplete(Request, status);
    }
}

_Use_decl_annotations_ VOID OnIoREAD(WDFQUEUE Queue, WDFREQUEST Request, size_t Length) {
    UNREFERENCED_PARAMETER(Length);
    DbgPrint("DUVAD: in OnIoREAD()\n");
    BusRead(GetDeviceContext(WdfIoQueueGetDevice(Queue)), Request);
}

_Use_decl_annotations_ VOID OnIoWRITE(WDFQUEUE Queue, WDFREQUEST Request, size_t Length) {
    UNREFERENCED_PARAMETER(Length);
    DbgPrint("DUVAD: in OnIoWRITE()\n");
    BusWrite(GetDeviceContext(WdfIoQueueGetDevice(Queue)), Request);
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
        case IOCTL_QXSPB_SIGNAL_INTERRUPT:
            SignalInterrupt(context, Request);
            break;
        default:
            // IOCTL_QXSPB_WAIT_ON_INTERRUPT belongs to the default queue; here it is
            // as unknown as any other code.
            WdfRequestCompleteWithInformation(Request, STATUS_INVALID_DEVICE_REQUEST, 0);
            break;
    }
}
