// The device object: creation, PnP and power callbacks, file clean-up.
#include "qxveltrane.h"

namespace {

// Reads "ConnectInterrupt" under the hardware key's "Settings" subkey. Any
// failure leaves the value at 0: registry problems never stop the device.
ULONG ReadConnectInterrupt(WDFDEVICE Device) {
    ULONG value = 0;
    WDFKEY hardwareKey = NULL;
    WDFKEY settingsKey = NULL;
    DECLARE_CONST_UNICODE_STRING(settingsName, L"Settings");
    DECLARE_CONST_UNICODE_STRING(valueName, L"ConnectInterrupt");

    NTSTATUS status =
        WdfDeviceOpenRegistryKey(Device, PLUGPLAY_REGKEY_DEVICE, KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &hardwareKey);
    if (NT_SUCCESS(status)) {
        status = WdfRegistryOpenKey(hardwareKey, &settingsName, KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &settingsKey);
    }
    if (NT_SUCCESS(status)) {
        status = WdfRegistryQueryULong(settingsKey, &valueName, &value);
        if (!NT_SUCCESS(status)) {
            value = 0;
        }
    }
    if (settingsKey != NULL) {
        WdfRegistryClose(settingsKey);
    }
    if (hardwareKey != NULL) {
        WdfRegistryClose(hardwareKey);
    }
    return value;
}

}  // namespace

_Use_decl_annotations_ NTSTATUS OnDeviceAdd(WDFDRIVER Driver, PWDFDEVICE_INIT DeviceInit) {
    UNREFERENCED_PARAMETER(Driver);
    DbgPrint("DUVAD!!!!! IN DEVICE ADD!!!!!!!\n");

    WDF_PNPPOWER_EVENT_CALLBACKS pnpCallbacks;
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&pnpCallbacks);
    pnpCallbacks.EvtDevicePrepareHardware = OnPrepareHardware;
    pnpCallbacks.EvtDeviceReleaseHardware = OnReleaseHardware;
    pnpCallbacks.EvtDeviceD0Entry = OnD0Entry;
    pnpCallbacks.EvtDeviceD0Exit = OnD0Exit;
    WdfDeviceInitSetPnpPowerEventCallbacks(DeviceInit, &pnpCallbacks);

    WDF_FILEOBJECT_CONFIG fileConfig;
    WDF_FILEOBJECT_CONFIG_INIT(&fileConfig, WDF_NO_EVENT_CALLBACK, WDF_NO_EVENT_CALLBACK, OnFileCleanup);
    WDF_OBJECT_ATTRIBUTES fileAttributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&fileAttributes);
    WdfDeviceInitSetFileObjectConfig(DeviceInit, &fileConfig, &fileAttributes);

    WDF_OBJECT_ATTRIBUTES requestAttributes;
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&requestAttributes, REQUEST_CONTEXT_T);
    WdfDeviceInitSetRequestAttributes(DeviceInit, &requestAttributes);

    WDF_OBJECT_ATTRIBUTES deviceAttributes;
    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&deviceAttributes, DEVICE_CONTEXT_T);
    WDFDEVICE device;
    NTSTATUS status = WdfDeviceCreate(&DeviceInit, &deviceAttributes, &device);
    if (!NT_SUCCESS(status)) {
        QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "WdfDeviceCreate failed %08x", (unsigned)status);
        return status;
    }
    PDEVICE_CONTEXT_T context = GetDeviceContext(device);
    context->DeviceHandle = device;

    // The daemon recovers the controller by disabling and re-enabling this device.
    WDF_DEVICE_STATE deviceState;
    WDF_DEVICE_STATE_INIT(&deviceState);
    deviceState.NotDisableable = WdfFalse;
    WdfDeviceSetDeviceState(device, &deviceState);

    // On a notebook that sleeps in S0 the device must not stay in D0 all
    // night: it idles to D3 when nobody holds the bus connection (BusOpen
    // takes an idle reference, BusClose gives it back). It cannot wake the
    // system; the power framework runs the time-out, with ours as its hint.
    WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS idleSettings;
    WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS_INIT(&idleSettings, IdleCannotWakeFromS0);
    idleSettings.IdleTimeout = QX_IDLE_TIMEOUT_MS;
    idleSettings.IdleTimeoutType = SystemManagedIdleTimeoutWithHint;
    NTSTATUS idleStatus = WdfDeviceAssignS0IdleSettings(device, &idleSettings);
    if (!NT_SUCCESS(idleStatus)) {
        // Not fatal: the device then stays in D0 while it is started.
        QX_TRACE(TRACE_DRIVER, DPFLTR_WARNING_LEVEL, "no idling in S0 %08x", (unsigned)idleStatus);
    }

    WDF_OBJECT_ATTRIBUTES lockAttributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&lockAttributes);
    lockAttributes.ParentObject = device;
    status = WdfSpinLockCreate(&lockAttributes, &context->StateLock);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = WdfWaitLockCreate(&lockAttributes, &context->TargetLock);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    KeInitializeEvent(&context->BusIdleEvent, NotificationEvent, TRUE);
    KeInitializeEvent(&context->InterruptEvent, SynchronizationEvent, FALSE);

    // Default queue: parallel, so a pending wait-on-interrupt never blocks the rest.
    WDF_IO_QUEUE_CONFIG queueConfig;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&queueConfig, WdfIoQueueDispatchParallel);
    queueConfig.PowerManaged = WdfFalse;
    queueConfig.AllowZeroLengthRequests = FALSE;
    queueConfig.EvtIoDefault = OnTopLevelIoDefault;
    WDFQUEUE defaultQueue;
    status = WdfIoQueueCreate(device, &queueConfig, WDF_NO_OBJECT_ATTRIBUTES, &defaultQueue);
    if (!NT_SUCCESS(status)) {
        QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "default queue failed %08x", (unsigned)status);
        return status;
    }

    // Sequential queue: one bus operation at a time, which is what lets a
    // single BusRequest and ClientRequest serve them all. Its callback opens
    // and closes BusTarget under TargetLock, which is only allowed at
    // PASSIVE_LEVEL. The framework presents the next request from inside
    // WdfRequestComplete, and a bus completion routine completes at up to
    // DISPATCH_LEVEL; a passive execution level makes the framework present
    // from a passive-level work item there instead. Power-managed: a request
    // that arrives while the device idles in D3 brings it back to D0 before
    // it is presented, and one arriving while the system has the device in
    // D3 waits for D0. OnIoStop ends a bus operation in flight when the
    // device leaves D0, instead of making the power transition wait for it.
    WDF_IO_QUEUE_CONFIG_INIT(&queueConfig, WdfIoQueueDispatchSequential);
    queueConfig.PowerManaged = WdfTrue;
    queueConfig.AllowZeroLengthRequests = FALSE;
    queueConfig.EvtIoRead = OnIoREAD;
    queueConfig.EvtIoWrite = OnIoWRITE;
    queueConfig.EvtIoDeviceControl = OnIoDeviceControl;
    queueConfig.EvtIoStop = OnIoStop;
    WDF_OBJECT_ATTRIBUTES queueAttributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&queueAttributes);
    queueAttributes.ExecutionLevel = WdfExecutionLevelPassive;
    status = WdfIoQueueCreate(device, &queueConfig, &queueAttributes, &context->IoQueue);
    if (!NT_SUCCESS(status)) {
        QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "sequential queue failed %08x", (unsigned)status);
        return status;
    }

    WCHAR linkBuffer[256 / sizeof(WCHAR)] = QXSPB_LINK_NAME_W;
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, linkBuffer);
    status = WdfDeviceCreateSymbolicLink(device, &linkName);
    if (!NT_SUCCESS(status)) {
        QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "symbolic link failed %08x", (unsigned)status);
        return status;
    }

    context->ConnectInterrupt = (ReadConnectInterrupt(device) == 1) ? TRUE : FALSE;
    return status;
}

_Use_decl_annotations_ NTSTATUS OnPrepareHardware(WDFDEVICE Device, WDFCMRESLIST ResourcesRaw,
                                                  WDFCMRESLIST ResourcesTranslated) {
    DbgPrint("DUVAD: in OnPrepareHardware()\n");
    PDEVICE_CONTEXT_T context = GetDeviceContext(Device);

    BOOLEAN connectionFound = FALSE;
    BOOLEAN interruptFound = FALSE;
    ULONG interruptIndex = 0;
    ULONG count = WdfCmResourceListGetCount(ResourcesTranslated);
    for (ULONG i = 0; i < count; i++) {
        PCM_PARTIAL_RESOURCE_DESCRIPTOR descriptor = WdfCmResourceListGetDescriptor(ResourcesTranslated, i);
        if (descriptor == NULL) {
            continue;
        }
        if (descriptor->Type == CmResourceTypeInterrupt) {
            if (!interruptFound) {
                interruptFound = TRUE;
                interruptIndex = i;
            }
        } else if (descriptor->Type == CmResourceTypeConnection) {
            UCHAR cls = descriptor->u.Connection.Class;
            UCHAR type = descriptor->u.Connection.Type;
            if (!connectionFound && cls == CM_RESOURCE_CONNECTION_CLASS_SERIAL &&
                (type == CM_RESOURCE_CONNECTION_TYPE_SERIAL_I2C || type == CM_RESOURCE_CONNECTION_TYPE_SERIAL_SPI)) {
                connectionFound = TRUE;
                context->ConnectionId.LowPart = descriptor->u.Connection.IdLowPart;
                context->ConnectionId.HighPart = descriptor->u.Connection.IdHighPart;
            }
        }
    }

    if (!connectionFound) {
        QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "no I2C or SPI connection resource");
        return STATUS_NOT_FOUND;
    }

    if (context->ConnectInterrupt && interruptFound) {
        WDF_INTERRUPT_CONFIG interruptConfig;
        WDF_INTERRUPT_CONFIG_INIT(&interruptConfig, OnInterruptIsr, NULL);
        interruptConfig.PassiveHandling = TRUE;
        interruptConfig.InterruptRaw = WdfCmResourceListGetDescriptor(ResourcesRaw, interruptIndex);
        interruptConfig.InterruptTranslated = WdfCmResourceListGetDescriptor(ResourcesTranslated, interruptIndex);
        WDF_OBJECT_ATTRIBUTES interruptAttributes;
        WDF_OBJECT_ATTRIBUTES_INIT(&interruptAttributes);
        NTSTATUS status = WdfInterruptCreate(Device, &interruptConfig, &interruptAttributes, &context->InterruptObject);
        if (!NT_SUCCESS(status)) {
            context->InterruptObject = NULL;
            QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "WdfInterruptCreate failed %08x", (unsigned)status);
            return status;
        }
        KeInitializeEvent(&context->InterruptEvent, SynchronizationEvent, FALSE);
    }
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS OnReleaseHardware(WDFDEVICE Device, WDFCMRESLIST ResourcesTranslated) {
    UNREFERENCED_PARAMETER(ResourcesTranslated);
    PDEVICE_CONTEXT_T context = GetDeviceContext(Device);
    if (context->InterruptObject != NULL) {
        WdfObjectDelete(context->InterruptObject);
        context->InterruptObject = NULL;
    }
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS OnD0Entry(WDFDEVICE Device, WDF_POWER_DEVICE_STATE PreviousState) {
    UNREFERENCED_PARAMETER(PreviousState);
    PDEVICE_CONTEXT_T context = GetDeviceContext(Device);

    WdfWaitLockAcquire(context->TargetLock, NULL);
    WdfSpinLockAcquire(context->StateLock);
    context->BusReady = FALSE;
    WdfSpinLockRelease(context->StateLock);
    context->TransferMemory = NULL;

    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    NTSTATUS status = WdfIoTargetCreate(Device, &attributes, &context->BusTarget);
    if (!NT_SUCCESS(status)) {
        context->BusTarget = NULL;
        WdfWaitLockRelease(context->TargetLock);
        QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "WdfIoTargetCreate failed %08x", (unsigned)status);
        return status;
    }

    WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(&attributes, REQUEST_CONTEXT_T);
    attributes.ParentObject = Device;
    status = WdfRequestCreate(&attributes, NULL, &context->BusRequest);
    if (!NT_SUCCESS(status)) {
        context->BusRequest = NULL;
        WdfObjectDelete(context->BusTarget);
        context->BusTarget = NULL;
        WdfWaitLockRelease(context->TargetLock);
        QX_TRACE(TRACE_DRIVER, DPFLTR_ERROR_LEVEL, "WdfRequestCreate failed %08x", (unsigned)status);
        return status;
    }
    PREQUEST_CONTEXT_T busContext = GetRequestContext(context->BusRequest);
    busContext->DeviceHandle = Device;
    busContext->IsSequence = FALSE;
    busContext->WriteLength = 0;

    KeSetEvent(&context->BusIdleEvent, IO_NO_INCREMENT, FALSE);
    WdfSpinLockAcquire(context->StateLock);
    context->BusReady = TRUE;
    WdfSpinLockRelease(context->StateLock);

    // A D0 exit nobody announced (hibernate, fast startup, a lost broadcast)
    // must not leave the client with a closed bus until its next open: the
    // connection that was open before the D0 exit, and only that one, is
    // opened again. A failure leaves it closed for the client's next open.
    if (context->BusWasOpen) {
        context->BusWasOpen = FALSE;
        NTSTATUS openStatus = OpenBusTargetLocked(context);
        if (!NT_SUCCESS(openStatus)) {
            QX_TRACE(TRACE_DRIVER, DPFLTR_WARNING_LEVEL, "bus not reopened %08x", (unsigned)openStatus);
        }
    }
    WdfWaitLockRelease(context->TargetLock);
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ NTSTATUS OnD0Exit(WDFDEVICE Device, WDF_POWER_DEVICE_STATE TargetState) {
    UNREFERENCED_PARAMETER(TargetState);
    PDEVICE_CONTEXT_T context = GetDeviceContext(Device);

    // No new bus operation starts, and no open or close touches BusTarget,
    // from here on: both check BusReady under TargetLock.
    WdfWaitLockAcquire(context->TargetLock, NULL);
    WdfSpinLockAcquire(context->StateLock);
    context->BusReady = FALSE;
    WdfSpinLockRelease(context->StateLock);
    context->BusWasOpen = context->BusOpened;
    context->BusOpened = FALSE;
    WdfWaitLockRelease(context->TargetLock);

    // Closing cancels what was sent and refuses new sends; then wait until the
    // operation in flight has completed its client request, which is also
    // when a late cancel routine is done with BusRequest. TargetLock is not
    // held across these waits: the completion they wait for lets the queue's
    // next request in, and an open or close there takes TargetLock.
    if (context->BusTarget != NULL) {
        WdfIoTargetClose(context->BusTarget);
    }
    KeWaitForSingleObject(&context->BusIdleEvent, Executive, KernelMode, FALSE, NULL);

    if (context->TransferMemory != NULL) {
        WdfObjectDelete(context->TransferMemory);
        context->TransferMemory = NULL;
    }
    if (context->BusRequest != NULL) {
        WdfObjectDelete(context->BusRequest);
        context->BusRequest = NULL;
    }
    if (context->BusTarget != NULL) {
        WdfObjectDelete(context->BusTarget);
        context->BusTarget = NULL;
    }
    return STATUS_SUCCESS;
}

_Use_decl_annotations_ VOID OnFileCleanup(WDFFILEOBJECT FileObject) {
    PDEVICE_CONTEXT_T context = GetDeviceContext(WdfFileObjectGetDevice(FileObject));
    // One connection is shared by all handles: any handle's clean-up closes it.
    BusClose(context);
    if (context->InterruptObject != NULL) {
        KeSetEvent(&context->InterruptEvent, IO_NO_INCREMENT, FALSE);
    }
}
