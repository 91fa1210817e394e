// The bus: the connection to the SPB controller through the resource hub, and
// every transfer, each carried by the one reusable BusRequest.
#include "qxveltrane.h"
#include <ntstrsafe.h>

namespace {

// Takes BusRequest for a client request. False while the bus objects do not
// exist (out of D0): the caller completes the request at once.
BOOLEAN ClaimBus(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    BOOLEAN claimed = FALSE;
    WdfSpinLockAcquire(Context->StateLock);
    if (Context->BusReady) {
        Context->ClientRequest = Request;
        KeClearEvent(&Context->BusIdleEvent);
        claimed = TRUE;
    }
    WdfSpinLockRelease(Context->StateLock);
    return claimed;
}

// The bus completion and the cancel routine both reach this once unmarking
// failed; whichever comes second completes the client request, so the cancel
// routine never runs on a request that is already gone.
VOID FinishCancelledRequest(PDEVICE_CONTEXT_T Context, WDFREQUEST Request, BOOLEAN RecordOutcome, NTSTATUS Status,
                            ULONG_PTR Information) {
    PREQUEST_CONTEXT_T requestContext = GetRequestContext(Request);
    if (RecordOutcome) {
        requestContext->BusStatus = Status;
        requestContext->BusInformation = Information;
    }
    if (InterlockedDecrement(&requestContext->CompletionOwners) == 0) {
        CompleteClientRequest(Context, requestContext->BusStatus, requestContext->BusInformation);
    }
}

// Common tail of every asynchronous bus operation: a failing step completes
// the client request with its status and no bytes.
VOID FinishStart(PDEVICE_CONTEXT_T Context, WDFREQUEST Request, NTSTATUS Status) {
    if (NT_SUCCESS(Status)) {
        Status = SendBusRequest(Context, Request);
    }
    if (!NT_SUCCESS(Status)) {
        CompleteClientRequest(Context, Status, 0);
    }
}

VOID SendControl(PDEVICE_CONTEXT_T Context, WDFREQUEST Request, ULONG IoctlCode) {
    if (!ClaimBus(Context, Request)) {
        WdfRequestCompleteWithInformation(Request, QX_STATUS_BUS_NOT_READY, 0);
        return;
    }
    NTSTATUS status =
        WdfIoTargetFormatRequestForIoctl(Context->BusTarget, Context->BusRequest, IoctlCode, NULL, NULL, NULL, NULL);
    FinishStart(Context, Request, status);
}

VOID SendSequence(PDEVICE_CONTEXT_T Context, WDFREQUEST Request, ULONG IoctlCode) {
    if (!ClaimBus(Context, Request)) {
        WdfRequestCompleteWithInformation(Request, QX_STATUS_BUS_NOT_READY, 0);
        return;
    }
    PVOID writeBuffer = NULL;
    size_t writeLength = 0;
    PVOID readBuffer = NULL;
    size_t readLength = 0;
    NTSTATUS status = WdfRequestRetrieveInputBuffer(Request, 0, &writeBuffer, &writeLength);
    if (NT_SUCCESS(status)) {
        status = WdfRequestRetrieveOutputBuffer(Request, 0, &readBuffer, &readLength);
    }
    if (NT_SUCCESS(status) && (writeLength > QX_MAX_TRANSFER_BYTES || readLength > QX_MAX_TRANSFER_BYTES)) {
        status = STATUS_INVALID_BUFFER_SIZE;
    }
    if (NT_SUCCESS(status)) {
        QX_TRANSFER_LIST* list = &Context->TransferList;
        SPB_TRANSFER_LIST_INIT(&list->List, 2);
        list->List.Transfers[0] =
            SPB_TRANSFER_LIST_ENTRY_INIT_SIMPLE(SpbTransferDirectionToDevice, 0, writeBuffer, (ULONG)writeLength);
        list->ExtraTransfers[0] =
            SPB_TRANSFER_LIST_ENTRY_INIT_SIMPLE(SpbTransferDirectionFromDevice, 0, readBuffer, (ULONG)readLength);

        WDF_OBJECT_ATTRIBUTES attributes;
        WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
        status = WdfMemoryCreatePreallocated(&attributes, list, sizeof(*list), &Context->TransferMemory);
        if (!NT_SUCCESS(status)) {
            Context->TransferMemory = NULL;
        }
    }
    if (NT_SUCCESS(status)) {
        PREQUEST_CONTEXT_T busContext = GetRequestContext(Context->BusRequest);
        busContext->IsSequence = TRUE;
        busContext->WriteLength = writeLength;
        status = WdfIoTargetFormatRequestForIoctl(Context->BusTarget, Context->BusRequest, IoctlCode,
                                                  Context->TransferMemory, NULL, NULL, NULL);
    }
    FinishStart(Context, Request, status);
}

}  // namespace

NTSTATUS BuildResourceHubPath(ULONG IdLowPart, ULONG IdHighPart, PWSTR Path, size_t PathBytes) {
    WCHAR digits[17];
    ULONG64 id = ((ULONG64)IdHighPart << 32) | IdLowPart;
    if (PathBytes >= sizeof(WCHAR)) {
        Path[0] = L'\0';
    }
    NTSTATUS status = RtlStringCbPrintfW(digits, sizeof(digits), L"%0*I64x", 16, id);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = RtlStringCbPrintfW(Path, PathBytes, L"%ls%ls", L"\\Device\\RESOURCE_HUB\\", digits);
    if (!NT_SUCCESS(status) && PathBytes >= sizeof(WCHAR)) {
        Path[0] = L'\0';
    }
    return status;
}

NTSTATUS OpenBusTargetLocked(PDEVICE_CONTEXT_T Context) {
    WCHAR path[152 / sizeof(WCHAR)];
    NTSTATUS status =
        BuildResourceHubPath(Context->ConnectionId.LowPart, Context->ConnectionId.HighPart, path, sizeof(path));
    if (NT_SUCCESS(status)) {
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, path);
        WDF_IO_TARGET_OPEN_PARAMS openParams;
        WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&openParams, &name, GENERIC_READ | GENERIC_WRITE);
        openParams.ShareAccess = 0;
        openParams.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        openParams.CreateDisposition = FILE_OPEN;
        openParams.CreateOptions = FILE_NON_DIRECTORY_FILE;
        status = WdfIoTargetOpen(Context->BusTarget, &openParams);
    }
    Context->BusOpened = NT_SUCCESS(status) ? TRUE : FALSE;
    return status;
}

NTSTATUS BusOpen(PDEVICE_CONTEXT_T Context) {
    NTSTATUS status;
    WdfWaitLockAcquire(Context->TargetLock, NULL);
    if (!Context->BusReady || Context->BusTarget == NULL) {
        status = QX_STATUS_BUS_NOT_READY;
    } else {
        status = OpenBusTargetLocked(Context);
    }
    if (NT_SUCCESS(status) && !Context->IdleReferenceHeld) {
        // While a client has the connection the device stays in D0. This
        // runs in D0 (the queue is power-managed), so nothing waits here.
        NTSTATUS idleStatus = WdfDeviceStopIdle(Context->DeviceHandle, FALSE);
        if (NT_SUCCESS(idleStatus)) {
            Context->IdleReferenceHeld = TRUE;
        } else {
            QX_TRACE(TRACE_IO, DPFLTR_WARNING_LEVEL, "no idle reference %08x", (unsigned)idleStatus);
        }
    }
    WdfWaitLockRelease(Context->TargetLock);
    if (!NT_SUCCESS(status)) {
        QX_TRACE(TRACE_IO, DPFLTR_WARNING_LEVEL, "bus open failed %08x", (unsigned)status);
    }
    return status;
}

NTSTATUS BusClose(PDEVICE_CONTEXT_T Context) {
    WdfWaitLockAcquire(Context->TargetLock, NULL);
    if (Context->BusReady && Context->BusTarget != NULL) {
        WdfIoTargetClose(Context->BusTarget);
    }
    Context->BusOpened = FALSE;
    Context->BusWasOpen = FALSE;
    if (Context->IdleReferenceHeld) {
        // Nobody uses the bus: the device may idle to D3 after its time-out.
        Context->IdleReferenceHeld = FALSE;
        WdfDeviceResumeIdle(Context->DeviceHandle);
    }
    WdfWaitLockRelease(Context->TargetLock);
    return STATUS_SUCCESS;
}

VOID BusRead(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    if (!ClaimBus(Context, Request)) {
        WdfRequestCompleteWithInformation(Request, QX_STATUS_BUS_NOT_READY, 0);
        return;
    }
    WDFMEMORY memory;
    NTSTATUS status = WdfRequestRetrieveOutputMemory(Request, &memory);
    if (NT_SUCCESS(status)) {
        status = WdfIoTargetFormatRequestForRead(Context->BusTarget, Context->BusRequest, memory, NULL, NULL);
    }
    FinishStart(Context, Request, status);
}

VOID BusWrite(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    if (!ClaimBus(Context, Request)) {
        WdfRequestCompleteWithInformation(Request, QX_STATUS_BUS_NOT_READY, 0);
        return;
    }
    WDFMEMORY memory;
    NTSTATUS status = WdfRequestRetrieveInputMemory(Request, &memory);
    if (NT_SUCCESS(status)) {
        status = WdfIoTargetFormatRequestForWrite(Context->BusTarget, Context->BusRequest, memory, NULL, NULL);
    }
    FinishStart(Context, Request, status);
}

VOID BusLock(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    SendControl(Context, Request, IOCTL_SPB_LOCK_CONTROLLER);
}

VOID BusUnlock(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    SendControl(Context, Request, IOCTL_SPB_UNLOCK_CONTROLLER);
}

VOID BusLockConnection(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    SendControl(Context, Request, IOCTL_SPB_LOCK_CONNECTION);
}

VOID BusUnlockConnection(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    SendControl(Context, Request, IOCTL_SPB_UNLOCK_CONNECTION);
}

VOID BusWriteRead(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    SendSequence(Context, Request, IOCTL_SPB_EXECUTE_SEQUENCE);
}

VOID BusFullDuplex(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    SendSequence(Context, Request, IOCTL_SPB_FULL_DUPLEX);
}

NTSTATUS SendBusRequest(PDEVICE_CONTEXT_T Context, WDFREQUEST Request) {
    PREQUEST_CONTEXT_T requestContext = GetRequestContext(Request);
    requestContext->DeviceHandle = Context->DeviceHandle;
    requestContext->IsSequence = FALSE;
    requestContext->WriteLength = 0;
    requestContext->CompletionOwners = 2;
    requestContext->BusStatus = STATUS_SUCCESS;
    requestContext->BusInformation = 0;

    NTSTATUS status = WdfRequestMarkCancelableEx(Request, OnClientRequestCancel);
    if (!NT_SUCCESS(status)) {
        return status;  // already cancelled by the client
    }

    WdfRequestSetCompletionRoutine(Context->BusRequest, OnBusRequestComplete, WDF_NO_CONTEXT);
    if (!WdfRequestSend(Context->BusRequest, Context->BusTarget, WDF_NO_SEND_OPTIONS)) {
        status = WdfRequestGetStatus(Context->BusRequest);
        if (NT_SUCCESS(status)) {
            status = STATUS_UNSUCCESSFUL;  // a refused send is never a success
        }
        QX_TRACE(TRACE_IO, DPFLTR_ERROR_LEVEL, "send refused %08x", (unsigned)status);
        NTSTATUS unmarkStatus = WdfRequestUnmarkCancelable(Request);
        if (unmarkStatus == STATUS_CANCELLED) {
            // The cancel routine has been or will be called: leave the request
            // to whichever of us comes second.
            FinishCancelledRequest(Context, Request, TRUE, status, 0);
            return STATUS_PENDING;
        }
        return status;
    }
    return STATUS_SUCCESS;
}

VOID CompleteClientRequest(PDEVICE_CONTEXT_T Context, NTSTATUS Status, ULONG_PTR Information) {
    PREQUEST_CONTEXT_T busContext = GetRequestContext(Context->BusRequest);
    busContext->IsSequence = FALSE;
    busContext->WriteLength = 0;

    WDF_REQUEST_REUSE_PARAMS reuseParams;
    WDF_REQUEST_REUSE_PARAMS_INIT(&reuseParams, WDF_REQUEST_REUSE_NO_FLAGS, STATUS_SUCCESS);
    NTSTATUS reuseStatus = WdfRequestReuse(Context->BusRequest, &reuseParams);
    if (!NT_SUCCESS(reuseStatus)) {
        QX_TRACE(TRACE_IO, DPFLTR_ERROR_LEVEL, "reuse failed %08x", (unsigned)reuseStatus);
    }
    if (Context->TransferMemory != NULL) {
        WdfObjectDelete(Context->TransferMemory);
        Context->TransferMemory = NULL;
    }

    WdfSpinLockAcquire(Context->StateLock);
    WDFREQUEST client = Context->ClientRequest;
    Context->ClientRequest = NULL;
    WdfSpinLockRelease(Context->StateLock);
    // Idle before the client completes: its completion lets the next request in.
    KeSetEvent(&Context->BusIdleEvent, IO_NO_INCREMENT, FALSE);
    if (client != NULL) {
        WdfRequestCompleteWithInformation(client, Status, Information);
    }
}

_Use_decl_annotations_ VOID OnBusRequestComplete(WDFREQUEST Request, WDFIOTARGET Target,
                                                 PWDF_REQUEST_COMPLETION_PARAMS Params, WDFCONTEXT Context) {
    UNREFERENCED_PARAMETER(Target);
    UNREFERENCED_PARAMETER(Context);
    PREQUEST_CONTEXT_T busContext = GetRequestContext(Request);
    PDEVICE_CONTEXT_T context = GetDeviceContext(busContext->DeviceHandle);

    NTSTATUS status = Params->IoStatus.Status;
    ULONG_PTR count = Params->IoStatus.Information;
    if (busContext->IsSequence) {
        // The bus counts the write and the read bytes together.
        count = (count >= busContext->WriteLength) ? (ULONG_PTR)(count - busContext->WriteLength) : 0;
    }

    WDFREQUEST client = context->ClientRequest;
    NTSTATUS unmarkStatus = WdfRequestUnmarkCancelable(client);
    if (unmarkStatus == STATUS_CANCELLED) {
        QX_TRACE(TRACE_IO, DPFLTR_INFO_LEVEL, "completion met a cancel in progress");
        FinishCancelledRequest(context, client, TRUE, status, count);
        return;
    }
    if (!NT_SUCCESS(unmarkStatus)) {
        QX_TRACE(TRACE_IO, DPFLTR_WARNING_LEVEL, "unmark failed %08x", (unsigned)unmarkStatus);
    }
    CompleteClientRequest(context, status, count);
}

_Use_decl_annotations_ VOID OnClientRequestCancel(WDFREQUEST Request) {
    PREQUEST_CONTEXT_T requestContext = GetRequestContext(Request);
    PDEVICE_CONTEXT_T context = GetDeviceContext(requestContext->DeviceHandle);

    // BusRequest outlives this client request: D0 exit deletes it only after
    // the client request was completed, and that happens at the earliest below.
    WdfSpinLockAcquire(context->StateLock);
    BOOLEAN ready = context->BusReady;
    WdfSpinLockRelease(context->StateLock);
    if (ready) {
        WdfRequestCancelSentRequest(context->BusRequest);
    }
    FinishCancelledRequest(context, Request, FALSE, STATUS_SUCCESS, 0);
}
