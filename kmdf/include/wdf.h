// The Kernel-Mode Driver Framework 1.15 client header of this tree: the
// types, initialisers and methods QXVeltrane uses, binary-faithful to the
// framework on x64 Windows. A client never links a framework method: each
// method below is an inline wrapper that calls through the function table
// the framework's loader hands the driver when it binds (WdfVersionBind, see
// wdfldr.h), at the method's fixed index, with the driver's globals first.
//
// The same header serves the MinGW build of QXVeltrane.sys, which the real
// framework (or our stand-in WDFLDR.SYS under Wine) binds, and the host
// build, whose framework is the KMDF simulation in kmdf/src, bound the same
// way.
#pragma once

#include <ntddk.h>

// Every wrapper casts its untyped table entry to the method's type, which is
// what the table is for: the warning about casts between function types
// would fire on each one.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"

#ifdef __cplusplus
extern "C" {
#endif

// ---- Handles --------------------------------------------------------------------------

#define DECLARE_WDF_HANDLE(name) typedef struct name##__* name
typedef HANDLE WDFOBJECT, *PWDFOBJECT;
typedef PVOID WDFCONTEXT;
DECLARE_WDF_HANDLE(WDFDRIVER);
DECLARE_WDF_HANDLE(WDFDEVICE);
DECLARE_WDF_HANDLE(WDFQUEUE);
DECLARE_WDF_HANDLE(WDFREQUEST);
DECLARE_WDF_HANDLE(WDFIOTARGET);
DECLARE_WDF_HANDLE(WDFMEMORY);
DECLARE_WDF_HANDLE(WDFINTERRUPT);
DECLARE_WDF_HANDLE(WDFKEY);
DECLARE_WDF_HANDLE(WDFFILEOBJECT);
DECLARE_WDF_HANDLE(WDFCMRESLIST);
DECLARE_WDF_HANDLE(WDFSPINLOCK);
DECLARE_WDF_HANDLE(WDFSTRING);
DECLARE_WDF_HANDLE(WDFWAITLOCK);
typedef struct WDFDEVICE_INIT* PWDFDEVICE_INIT;

#define WDF_NO_HANDLE NULL
#define WDF_NO_OBJECT_ATTRIBUTES NULL
#define WDF_NO_SEND_OPTIONS NULL
#define WDF_NO_CONTEXT NULL
#define WDF_NO_EVENT_CALLBACK NULL

// ---- The binding: globals and the function table ---------------------------------------

typedef VOID (*WDFFUNC)(VOID);

typedef struct _WDF_DRIVER_GLOBALS {
    WDFDRIVER Driver;
    ULONG DriverFlags;
    ULONG DriverTag;
    CHAR DriverName[32];
    // Set by the framework at the bind: the loader stub then puts its own
    // unload routine in the driver object, so that the unload unbinds.
    BOOLEAN DisplaceDriverUnload;
} WDF_DRIVER_GLOBALS, *PWDF_DRIVER_GLOBALS;

// Both start NULL and are filled by the bind; the loader stub defines them.
extern WDFFUNC* WdfFunctions_01015;
extern PWDF_DRIVER_GLOBALS WdfDriverGlobals;
#define WdfFunctions WdfFunctions_01015

// Where each method sits in the 1.15 table.
typedef enum _WDFFUNCENUM {
    WdfDeviceSetDeviceStateTableIndex = 29,
    WdfDeviceAssignS0IdleSettingsTableIndex = 46,
    WdfDeviceOpenRegistryKeyTableIndex = 48,
    WdfDeviceInitSetPnpPowerEventCallbacksTableIndex = 55,
    WdfDeviceInitSetPowerPolicyOwnershipTableIndex = 57,
    WdfDeviceInitSetFileObjectConfigTableIndex = 71,
    WdfDeviceInitSetRequestAttributesTableIndex = 72,
    WdfDeviceCreateTableIndex = 75,
    WdfDeviceCreateSymbolicLinkTableIndex = 80,
    WdfDriverCreateTableIndex = 116,
    WdfFileObjectGetDeviceTableIndex = 139,
    WdfInterruptCreateTableIndex = 141,
    WdfInterruptGetDeviceTableIndex = 151,
    WdfIoQueueCreateTableIndex = 152,
    WdfIoQueueGetDeviceTableIndex = 157,
    WdfIoTargetCreateTableIndex = 167,
    WdfIoTargetOpenTableIndex = 168,
    WdfIoTargetCloseTableIndex = 170,
    WdfIoTargetFormatRequestForReadTableIndex = 183,
    WdfIoTargetFormatRequestForWriteTableIndex = 185,
    WdfIoTargetFormatRequestForIoctlTableIndex = 187,
    WdfMemoryCreatePreallocatedTableIndex = 193,
    WdfObjectGetTypedContextWorkerTableIndex = 202,
    WdfObjectDeleteTableIndex = 208,
    WdfRegistryOpenKeyTableIndex = 229,
    WdfRegistryCloseTableIndex = 231,
    WdfRegistryQueryULongTableIndex = 240,
    WdfRequestCreateTableIndex = 247,
    WdfRequestReuseTableIndex = 249,
    WdfRequestSendTableIndex = 253,
    WdfRequestGetStatusTableIndex = 254,
    WdfRequestUnmarkCancelableTableIndex = 256,
    WdfRequestCancelSentRequestTableIndex = 258,
    WdfRequestSetCompletionRoutineTableIndex = 260,
    WdfRequestCompleteTableIndex = 263,
    WdfRequestCompleteWithInformationTableIndex = 265,
    WdfRequestGetParametersTableIndex = 266,
    WdfRequestRetrieveInputMemoryTableIndex = 267,
    WdfRequestRetrieveOutputMemoryTableIndex = 268,
    WdfRequestRetrieveInputBufferTableIndex = 269,
    WdfRequestRetrieveOutputBufferTableIndex = 270,
    WdfRequestForwardToIoQueueTableIndex = 281,
    WdfCmResourceListGetCountTableIndex = 304,
    WdfCmResourceListGetDescriptorTableIndex = 305,
    WdfWaitLockCreateTableIndex = 312,
    WdfWaitLockAcquireTableIndex = 313,
    WdfWaitLockReleaseTableIndex = 314,
    WdfSpinLockCreateTableIndex = 315,
    WdfSpinLockAcquireTableIndex = 316,
    WdfSpinLockReleaseTableIndex = 317,
    WdfRequestMarkCancelableExTableIndex = 393,
    WdfInterruptQueueWorkItemForIsrTableIndex = 416,
    WdfDeviceStopIdleActualTableIndex = 438,
    WdfDeviceResumeIdleActualTableIndex = 439,
    WdfFunctionTableNumEntries = 444,
} WDFFUNCENUM;

// ---- Common enumerations ----------------------------------------------------------------

typedef enum _WDF_TRI_STATE { WdfFalse = FALSE, WdfTrue = TRUE, WdfUseDefault = 2 } WDF_TRI_STATE;

typedef enum _WDF_EXECUTION_LEVEL {
    WdfExecutionLevelInvalid = 0,
    WdfExecutionLevelInheritFromParent,
    WdfExecutionLevelPassive,
    WdfExecutionLevelDispatch,
} WDF_EXECUTION_LEVEL;

typedef enum _WDF_SYNCHRONIZATION_SCOPE {
    WdfSynchronizationScopeInvalid = 0,
    WdfSynchronizationScopeInheritFromParent,
    WdfSynchronizationScopeDevice,
    WdfSynchronizationScopeQueue,
    WdfSynchronizationScopeNone,
} WDF_SYNCHRONIZATION_SCOPE;

// ---- Objects and typed contexts ----------------------------------------------------------

typedef VOID EVT_WDF_OBJECT_CONTEXT_CLEANUP(WDFOBJECT Object);
typedef EVT_WDF_OBJECT_CONTEXT_CLEANUP* PFN_WDF_OBJECT_CONTEXT_CLEANUP;
typedef VOID EVT_WDF_OBJECT_CONTEXT_DESTROY(WDFOBJECT Object);
typedef EVT_WDF_OBJECT_CONTEXT_DESTROY* PFN_WDF_OBJECT_CONTEXT_DESTROY;

typedef struct _WDF_OBJECT_CONTEXT_TYPE_INFO WDF_OBJECT_CONTEXT_TYPE_INFO;
typedef const WDF_OBJECT_CONTEXT_TYPE_INFO* PCWDF_OBJECT_CONTEXT_TYPE_INFO;
typedef PCWDF_OBJECT_CONTEXT_TYPE_INFO (*PFN_GET_UNIQUE_CONTEXT_TYPE)(VOID);

struct _WDF_OBJECT_CONTEXT_TYPE_INFO {
    ULONG Size;
    PCSTR ContextName;
    size_t ContextSize;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO UniqueType;
    PFN_GET_UNIQUE_CONTEXT_TYPE EvtDriverGetUniqueContextType;
};

typedef struct _WDF_OBJECT_ATTRIBUTES {
    ULONG Size;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP EvtCleanupCallback;
    PFN_WDF_OBJECT_CONTEXT_DESTROY EvtDestroyCallback;
    WDF_EXECUTION_LEVEL ExecutionLevel;
    WDF_SYNCHRONIZATION_SCOPE SynchronizationScope;
    WDFOBJECT ParentObject;
    size_t ContextSizeOverride;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO ContextTypeInfo;
} WDF_OBJECT_ATTRIBUTES, *PWDF_OBJECT_ATTRIBUTES;

FORCEINLINE VOID WDF_OBJECT_ATTRIBUTES_INIT(PWDF_OBJECT_ATTRIBUTES Attributes) {
    *Attributes = WDF_OBJECT_ATTRIBUTES{};
    Attributes->Size = sizeof(WDF_OBJECT_ATTRIBUTES);
    Attributes->ExecutionLevel = WdfExecutionLevelInheritFromParent;
    Attributes->SynchronizationScope = WdfSynchronizationScopeInheritFromParent;
}

typedef PVOID (*PFN_WDFOBJECTGETTYPEDCONTEXTWORKER)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                    WDFOBJECT Handle,
                                                    PCWDF_OBJECT_CONTEXT_TYPE_INFO TypeInfo);
FORCEINLINE PVOID WdfObjectGetTypedContextWorker(WDFOBJECT Handle,
                                                 PCWDF_OBJECT_CONTEXT_TYPE_INFO TypeInfo) {
    return (
        (PFN_WDFOBJECTGETTYPEDCONTEXTWORKER)WdfFunctions[WdfObjectGetTypedContextWorkerTableIndex])(
        WdfDriverGlobals, Handle, TypeInfo);
}

typedef VOID (*PFN_WDFOBJECTDELETE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFOBJECT Object);
FORCEINLINE VOID WdfObjectDelete(WDFOBJECT Object) {
    ((PFN_WDFOBJECTDELETE)WdfFunctions[WdfObjectDeleteTableIndex])(WdfDriverGlobals, Object);
}

#ifdef __cplusplus
}  // extern "C"
#endif

// A context type: its type information (one per image, never constructed at
// run time) and its accessor, which asks the framework through the table.
#define WDF_GET_CONTEXT_TYPE_INFO(_contexttype) (&_WDF_##_contexttype##_TYPE_INFO)

#define WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(_contexttype, _castingfunction)            \
    inline constexpr WDF_OBJECT_CONTEXT_TYPE_INFO _WDF_##_contexttype##_TYPE_INFO = { \
        sizeof(WDF_OBJECT_CONTEXT_TYPE_INFO), #_contexttype, sizeof(_contexttype),    \
        &_WDF_##_contexttype##_TYPE_INFO, NULL};                                      \
    FORCEINLINE _contexttype* _castingfunction(WDFOBJECT Handle) {                    \
        return (_contexttype*)WdfObjectGetTypedContextWorker(                         \
            Handle, WDF_GET_CONTEXT_TYPE_INFO(_contexttype));                         \
    }

#define WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(_attributes, _contexttype) \
    (_attributes)->ContextTypeInfo = WDF_GET_CONTEXT_TYPE_INFO(_contexttype)->UniqueType

#define WDF_OBJECT_ATTRIBUTES_INIT_CONTEXT_TYPE(_attributes, _contexttype) \
    WDF_OBJECT_ATTRIBUTES_INIT(_attributes);                               \
    WDF_OBJECT_ATTRIBUTES_SET_CONTEXT_TYPE(_attributes, _contexttype)

#ifdef __cplusplus
extern "C" {
#endif

// ---- Driver ----------------------------------------------------------------------------------

typedef NTSTATUS EVT_WDF_DRIVER_DEVICE_ADD(WDFDRIVER Driver, PWDFDEVICE_INIT DeviceInit);
typedef EVT_WDF_DRIVER_DEVICE_ADD* PFN_WDF_DRIVER_DEVICE_ADD;
typedef VOID EVT_WDF_DRIVER_UNLOAD(WDFDRIVER Driver);
typedef EVT_WDF_DRIVER_UNLOAD* PFN_WDF_DRIVER_UNLOAD;

typedef struct _WDF_DRIVER_CONFIG {
    ULONG Size;
    PFN_WDF_DRIVER_DEVICE_ADD EvtDriverDeviceAdd;
    PFN_WDF_DRIVER_UNLOAD EvtDriverUnload;
    ULONG DriverInitFlags;
    ULONG DriverPoolTag;
} WDF_DRIVER_CONFIG, *PWDF_DRIVER_CONFIG;

FORCEINLINE VOID WDF_DRIVER_CONFIG_INIT(PWDF_DRIVER_CONFIG Config,
                                        PFN_WDF_DRIVER_DEVICE_ADD EvtDriverDeviceAdd) {
    *Config = WDF_DRIVER_CONFIG{};
    Config->Size = sizeof(WDF_DRIVER_CONFIG);
    Config->EvtDriverDeviceAdd = EvtDriverDeviceAdd;
}

typedef NTSTATUS (*PFN_WDFDRIVERCREATE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                        PDRIVER_OBJECT DriverObject, PCUNICODE_STRING RegistryPath,
                                        PWDF_OBJECT_ATTRIBUTES DriverAttributes,
                                        PWDF_DRIVER_CONFIG DriverConfig, WDFDRIVER* Driver);
FORCEINLINE NTSTATUS WdfDriverCreate(PDRIVER_OBJECT DriverObject, PCUNICODE_STRING RegistryPath,
                                     PWDF_OBJECT_ATTRIBUTES DriverAttributes,
                                     PWDF_DRIVER_CONFIG DriverConfig, WDFDRIVER* Driver) {
    return ((PFN_WDFDRIVERCREATE)WdfFunctions[WdfDriverCreateTableIndex])(
        WdfDriverGlobals, DriverObject, RegistryPath, DriverAttributes, DriverConfig, Driver);
}

// ---- Device -------------------------------------------------------------------------------------

typedef enum _WDF_POWER_DEVICE_STATE {
    WdfPowerDeviceInvalid = 0,
    WdfPowerDeviceD0,
    WdfPowerDeviceD1,
    WdfPowerDeviceD2,
    WdfPowerDeviceD3,
    WdfPowerDeviceD3Final,
    WdfPowerDevicePrepareForHibernation,
    WdfPowerDeviceMaximum,
} WDF_POWER_DEVICE_STATE;

typedef NTSTATUS EVT_WDF_DEVICE_PREPARE_HARDWARE(WDFDEVICE Device, WDFCMRESLIST ResourcesRaw,
                                                 WDFCMRESLIST ResourcesTranslated);
typedef EVT_WDF_DEVICE_PREPARE_HARDWARE* PFN_WDF_DEVICE_PREPARE_HARDWARE;
typedef NTSTATUS EVT_WDF_DEVICE_RELEASE_HARDWARE(WDFDEVICE Device,
                                                 WDFCMRESLIST ResourcesTranslated);
typedef EVT_WDF_DEVICE_RELEASE_HARDWARE* PFN_WDF_DEVICE_RELEASE_HARDWARE;
typedef NTSTATUS EVT_WDF_DEVICE_D0_ENTRY(WDFDEVICE Device, WDF_POWER_DEVICE_STATE PreviousState);
typedef EVT_WDF_DEVICE_D0_ENTRY* PFN_WDF_DEVICE_D0_ENTRY;
typedef NTSTATUS EVT_WDF_DEVICE_D0_EXIT(WDFDEVICE Device, WDF_POWER_DEVICE_STATE TargetState);
typedef EVT_WDF_DEVICE_D0_EXIT* PFN_WDF_DEVICE_D0_EXIT;

typedef struct _WDF_PNPPOWER_EVENT_CALLBACKS {
    ULONG Size;
    PFN_WDF_DEVICE_D0_ENTRY EvtDeviceD0Entry;
    PVOID EvtDeviceD0EntryPostInterruptsEnabled;
    PFN_WDF_DEVICE_D0_EXIT EvtDeviceD0Exit;
    PVOID EvtDeviceD0ExitPreInterruptsDisabled;
    PFN_WDF_DEVICE_PREPARE_HARDWARE EvtDevicePrepareHardware;
    PFN_WDF_DEVICE_RELEASE_HARDWARE EvtDeviceReleaseHardware;
    PVOID EvtDeviceSelfManagedIoCleanup;
    PVOID EvtDeviceSelfManagedIoFlush;
    PVOID EvtDeviceSelfManagedIoInit;
    PVOID EvtDeviceSelfManagedIoSuspend;
    PVOID EvtDeviceSelfManagedIoRestart;
    PVOID EvtDeviceSurpriseRemoval;
    PVOID EvtDeviceQueryRemove;
    PVOID EvtDeviceQueryStop;
    PVOID EvtDeviceUsageNotification;
    PVOID EvtDeviceRelationsQuery;
    PVOID EvtDeviceUsageNotificationEx;
} WDF_PNPPOWER_EVENT_CALLBACKS, *PWDF_PNPPOWER_EVENT_CALLBACKS;

FORCEINLINE VOID WDF_PNPPOWER_EVENT_CALLBACKS_INIT(PWDF_PNPPOWER_EVENT_CALLBACKS Callbacks) {
    *Callbacks = WDF_PNPPOWER_EVENT_CALLBACKS{};
    Callbacks->Size = sizeof(WDF_PNPPOWER_EVENT_CALLBACKS);
}

typedef VOID EVT_WDF_DEVICE_FILE_CREATE(WDFDEVICE Device, WDFREQUEST Request,
                                        WDFFILEOBJECT FileObject);
typedef EVT_WDF_DEVICE_FILE_CREATE* PFN_WDF_DEVICE_FILE_CREATE;
typedef VOID EVT_WDF_FILE_CLOSE(WDFFILEOBJECT FileObject);
typedef EVT_WDF_FILE_CLOSE* PFN_WDF_FILE_CLOSE;
typedef VOID EVT_WDF_FILE_CLEANUP(WDFFILEOBJECT FileObject);
typedef EVT_WDF_FILE_CLEANUP* PFN_WDF_FILE_CLEANUP;

typedef enum _WDF_FILEOBJECT_CLASS {
    WdfFileObjectInvalid = 0,
    WdfFileObjectNotRequired = 1,
    WdfFileObjectWdfCanUseFsContext = 2,
    WdfFileObjectWdfCanUseFsContext2 = 3,
    WdfFileObjectWdfCannotUseFsContexts = 4,
    WdfFileObjectCanBeOptional = 0x80000000,
} WDF_FILEOBJECT_CLASS;

typedef struct _WDF_FILEOBJECT_CONFIG {
    ULONG Size;
    PFN_WDF_DEVICE_FILE_CREATE EvtDeviceFileCreate;
    PFN_WDF_FILE_CLOSE EvtFileClose;
    PFN_WDF_FILE_CLEANUP EvtFileCleanup;
    WDF_TRI_STATE AutoForwardCleanupClose;
    WDF_FILEOBJECT_CLASS FileObjectClass;
} WDF_FILEOBJECT_CONFIG, *PWDF_FILEOBJECT_CONFIG;

FORCEINLINE VOID WDF_FILEOBJECT_CONFIG_INIT(PWDF_FILEOBJECT_CONFIG FileEventCallbacks,
                                            PFN_WDF_DEVICE_FILE_CREATE EvtDeviceFileCreate,
                                            PFN_WDF_FILE_CLOSE EvtFileClose,
                                            PFN_WDF_FILE_CLEANUP EvtFileCleanup) {
    FileEventCallbacks->Size = sizeof(WDF_FILEOBJECT_CONFIG);
    FileEventCallbacks->EvtDeviceFileCreate = EvtDeviceFileCreate;
    FileEventCallbacks->EvtFileClose = EvtFileClose;
    FileEventCallbacks->EvtFileCleanup = EvtFileCleanup;
    FileEventCallbacks->FileObjectClass = WdfFileObjectWdfCannotUseFsContexts;
    FileEventCallbacks->AutoForwardCleanupClose = WdfUseDefault;
}

typedef struct _WDF_DEVICE_STATE {
    ULONG Size;
    WDF_TRI_STATE Disabled;
    WDF_TRI_STATE DontDisplayInUI;
    WDF_TRI_STATE Failed;
    WDF_TRI_STATE NotDisableable;
    WDF_TRI_STATE Removed;
    WDF_TRI_STATE ResourcesChanged;
} WDF_DEVICE_STATE, *PWDF_DEVICE_STATE;

FORCEINLINE VOID WDF_DEVICE_STATE_INIT(PWDF_DEVICE_STATE PnpDeviceState) {
    *PnpDeviceState = WDF_DEVICE_STATE{};
    PnpDeviceState->Size = sizeof(WDF_DEVICE_STATE);
    PnpDeviceState->Disabled = WdfUseDefault;
    PnpDeviceState->DontDisplayInUI = WdfUseDefault;
    PnpDeviceState->Failed = WdfUseDefault;
    PnpDeviceState->NotDisableable = WdfUseDefault;
    PnpDeviceState->Removed = WdfUseDefault;
    PnpDeviceState->ResourcesChanged = WdfUseDefault;
}

typedef VOID (*PFN_WDFDEVICEINITSETPNPPOWEREVENTCALLBACKS)(
    PWDF_DRIVER_GLOBALS DriverGlobals, PWDFDEVICE_INIT DeviceInit,
    PWDF_PNPPOWER_EVENT_CALLBACKS PnpPowerEventCallbacks);
FORCEINLINE VOID WdfDeviceInitSetPnpPowerEventCallbacks(
    PWDFDEVICE_INIT DeviceInit, PWDF_PNPPOWER_EVENT_CALLBACKS PnpPowerEventCallbacks) {
    ((PFN_WDFDEVICEINITSETPNPPOWEREVENTCALLBACKS)
         WdfFunctions[WdfDeviceInitSetPnpPowerEventCallbacksTableIndex])(
        WdfDriverGlobals, DeviceInit, PnpPowerEventCallbacks);
}

typedef VOID (*PFN_WDFDEVICEINITSETPOWERPOLICYOWNERSHIP)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                         PWDFDEVICE_INIT DeviceInit,
                                                         BOOLEAN IsPowerPolicyOwner);
FORCEINLINE VOID WdfDeviceInitSetPowerPolicyOwnership(PWDFDEVICE_INIT DeviceInit,
                                                      BOOLEAN IsPowerPolicyOwner) {
    ((PFN_WDFDEVICEINITSETPOWERPOLICYOWNERSHIP)
         WdfFunctions[WdfDeviceInitSetPowerPolicyOwnershipTableIndex])(WdfDriverGlobals, DeviceInit,
                                                                       IsPowerPolicyOwner);
}

typedef VOID (*PFN_WDFDEVICEINITSETFILEOBJECTCONFIG)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                     PWDFDEVICE_INIT DeviceInit,
                                                     PWDF_FILEOBJECT_CONFIG FileObjectConfig,
                                                     PWDF_OBJECT_ATTRIBUTES FileObjectAttributes);
FORCEINLINE VOID WdfDeviceInitSetFileObjectConfig(PWDFDEVICE_INIT DeviceInit,
                                                  PWDF_FILEOBJECT_CONFIG FileObjectConfig,
                                                  PWDF_OBJECT_ATTRIBUTES FileObjectAttributes) {
    ((PFN_WDFDEVICEINITSETFILEOBJECTCONFIG)
         WdfFunctions[WdfDeviceInitSetFileObjectConfigTableIndex])(
        WdfDriverGlobals, DeviceInit, FileObjectConfig, FileObjectAttributes);
}

typedef VOID (*PFN_WDFDEVICEINITSETREQUESTATTRIBUTES)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                      PWDFDEVICE_INIT DeviceInit,
                                                      PWDF_OBJECT_ATTRIBUTES RequestAttributes);
FORCEINLINE VOID WdfDeviceInitSetRequestAttributes(PWDFDEVICE_INIT DeviceInit,
                                                   PWDF_OBJECT_ATTRIBUTES RequestAttributes) {
    ((PFN_WDFDEVICEINITSETREQUESTATTRIBUTES)
         WdfFunctions[WdfDeviceInitSetRequestAttributesTableIndex])(WdfDriverGlobals, DeviceInit,
                                                                    RequestAttributes);
}

typedef NTSTATUS (*PFN_WDFDEVICECREATE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                        PWDFDEVICE_INIT* DeviceInit,
                                        PWDF_OBJECT_ATTRIBUTES DeviceAttributes, WDFDEVICE* Device);
FORCEINLINE NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* DeviceInit,
                                     PWDF_OBJECT_ATTRIBUTES DeviceAttributes, WDFDEVICE* Device) {
    return ((PFN_WDFDEVICECREATE)WdfFunctions[WdfDeviceCreateTableIndex])(
        WdfDriverGlobals, DeviceInit, DeviceAttributes, Device);
}

typedef VOID (*PFN_WDFDEVICESETDEVICESTATE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFDEVICE Device,
                                            PWDF_DEVICE_STATE DeviceState);
FORCEINLINE VOID WdfDeviceSetDeviceState(WDFDEVICE Device, PWDF_DEVICE_STATE DeviceState) {
    ((PFN_WDFDEVICESETDEVICESTATE)WdfFunctions[WdfDeviceSetDeviceStateTableIndex])(
        WdfDriverGlobals, Device, DeviceState);
}

typedef NTSTATUS (*PFN_WDFDEVICECREATESYMBOLICLINK)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                    WDFDEVICE Device,
                                                    PCUNICODE_STRING SymbolicLinkName);
FORCEINLINE NTSTATUS WdfDeviceCreateSymbolicLink(WDFDEVICE Device,
                                                 PCUNICODE_STRING SymbolicLinkName) {
    return ((PFN_WDFDEVICECREATESYMBOLICLINK)WdfFunctions[WdfDeviceCreateSymbolicLinkTableIndex])(
        WdfDriverGlobals, Device, SymbolicLinkName);
}

typedef WDFDEVICE (*PFN_WDFFILEOBJECTGETDEVICE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                WDFFILEOBJECT FileObject);
FORCEINLINE WDFDEVICE WdfFileObjectGetDevice(WDFFILEOBJECT FileObject) {
    return ((PFN_WDFFILEOBJECTGETDEVICE)WdfFunctions[WdfFileObjectGetDeviceTableIndex])(
        WdfDriverGlobals, FileObject);
}

// ---- Idling in S0 --------------------------------------------------------------------------

typedef enum _WDF_POWER_POLICY_S0_IDLE_CAPABILITIES {
    IdleCapsInvalid = 0,
    IdleCannotWakeFromS0,
    IdleCanWakeFromS0,
    IdleUsbSelectiveSuspend,
} WDF_POWER_POLICY_S0_IDLE_CAPABILITIES;

typedef enum _WDF_POWER_POLICY_S0_IDLE_USER_CONTROL {
    IdleUserControlInvalid = 0,
    IdleDoNotAllowUserControl,
    IdleAllowUserControl,
} WDF_POWER_POLICY_S0_IDLE_USER_CONTROL;

typedef enum _WDF_POWER_POLICY_IDLE_TIMEOUT_TYPE {
    DriverManagedIdleTimeout = 0,
    SystemManagedIdleTimeout,
    SystemManagedIdleTimeoutWithHint,
} WDF_POWER_POLICY_IDLE_TIMEOUT_TYPE;

typedef struct _WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS {
    ULONG Size;
    WDF_POWER_POLICY_S0_IDLE_CAPABILITIES IdleCaps;
    DEVICE_POWER_STATE DxState;
    ULONG IdleTimeout;  // milliseconds; 0 is the framework's default
    WDF_POWER_POLICY_S0_IDLE_USER_CONTROL UserControlOfIdleSettings;
    WDF_TRI_STATE Enabled;
    WDF_TRI_STATE PowerUpIdleDeviceOnSystemWake;
    WDF_POWER_POLICY_IDLE_TIMEOUT_TYPE IdleTimeoutType;
    WDF_TRI_STATE ExcludeD3Cold;
} WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS, *PWDF_DEVICE_POWER_POLICY_IDLE_SETTINGS;

FORCEINLINE VOID
WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS_INIT(PWDF_DEVICE_POWER_POLICY_IDLE_SETTINGS Settings,
                                           WDF_POWER_POLICY_S0_IDLE_CAPABILITIES IdleCaps) {
    *Settings = WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS{};
    Settings->Size = sizeof(WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS);
    Settings->IdleTimeout = 0;
    Settings->UserControlOfIdleSettings = IdleAllowUserControl;
    Settings->Enabled = WdfUseDefault;
    Settings->PowerUpIdleDeviceOnSystemWake = WdfUseDefault;
    Settings->IdleTimeoutType = DriverManagedIdleTimeout;
    Settings->ExcludeD3Cold = WdfUseDefault;
    Settings->IdleCaps = IdleCaps;
    Settings->DxState = IdleCaps == IdleCannotWakeFromS0 ? PowerDeviceD3 : PowerDeviceMaximum;
}

typedef NTSTATUS (*PFN_WDFDEVICEASSIGNS0IDLESETTINGS)(
    PWDF_DRIVER_GLOBALS DriverGlobals, WDFDEVICE Device,
    PWDF_DEVICE_POWER_POLICY_IDLE_SETTINGS Settings);
FORCEINLINE NTSTATUS
WdfDeviceAssignS0IdleSettings(WDFDEVICE Device, PWDF_DEVICE_POWER_POLICY_IDLE_SETTINGS Settings) {
    return (
        (PFN_WDFDEVICEASSIGNS0IDLESETTINGS)WdfFunctions[WdfDeviceAssignS0IdleSettingsTableIndex])(
        WdfDriverGlobals, Device, Settings);
}

typedef NTSTATUS (*PFN_WDFDEVICESTOPIDLEACTUAL)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFDEVICE Device,
                                                BOOLEAN WaitForD0, PVOID Tag, LONG Line,
                                                PCHAR File);
FORCEINLINE NTSTATUS WdfDeviceStopIdleActual(WDFDEVICE Device, BOOLEAN WaitForD0, PVOID Tag,
                                             LONG Line, PCHAR File) {
    return ((PFN_WDFDEVICESTOPIDLEACTUAL)WdfFunctions[WdfDeviceStopIdleActualTableIndex])(
        WdfDriverGlobals, Device, WaitForD0, Tag, Line, File);
}

typedef VOID (*PFN_WDFDEVICERESUMEIDLEACTUAL)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFDEVICE Device,
                                              PVOID Tag, LONG Line, PCHAR File);
FORCEINLINE VOID WdfDeviceResumeIdleActual(WDFDEVICE Device, PVOID Tag, LONG Line, PCHAR File) {
    ((PFN_WDFDEVICERESUMEIDLEACTUAL)WdfFunctions[WdfDeviceResumeIdleActualTableIndex])(
        WdfDriverGlobals, Device, Tag, Line, File);
}

// The idle references, tagged with where they were taken.
#define WdfDeviceStopIdleWithTag(Device, WaitForD0, Tag) \
    WdfDeviceStopIdleActual(Device, WaitForD0, Tag, __LINE__, (PCHAR)__FILE__)
#define WdfDeviceStopIdle(Device, WaitForD0) WdfDeviceStopIdleWithTag(Device, WaitForD0, NULL)
#define WdfDeviceResumeIdleWithTag(Device, Tag) \
    WdfDeviceResumeIdleActual(Device, Tag, __LINE__, (PCHAR)__FILE__)
#define WdfDeviceResumeIdle(Device) WdfDeviceResumeIdleWithTag(Device, NULL)

// ---- Registry ------------------------------------------------------------------------------

#define PLUGPLAY_REGKEY_DEVICE 1
#define PLUGPLAY_REGKEY_DRIVER 2

typedef NTSTATUS (*PFN_WDFDEVICEOPENREGISTRYKEY)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                 WDFDEVICE Device, ULONG DeviceInstanceKeyType,
                                                 ACCESS_MASK DesiredAccess,
                                                 PWDF_OBJECT_ATTRIBUTES KeyAttributes, WDFKEY* Key);
FORCEINLINE NTSTATUS WdfDeviceOpenRegistryKey(WDFDEVICE Device, ULONG DeviceInstanceKeyType,
                                              ACCESS_MASK DesiredAccess,
                                              PWDF_OBJECT_ATTRIBUTES KeyAttributes, WDFKEY* Key) {
    return ((PFN_WDFDEVICEOPENREGISTRYKEY)WdfFunctions[WdfDeviceOpenRegistryKeyTableIndex])(
        WdfDriverGlobals, Device, DeviceInstanceKeyType, DesiredAccess, KeyAttributes, Key);
}

typedef NTSTATUS (*PFN_WDFREGISTRYOPENKEY)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFKEY ParentKey,
                                           PCUNICODE_STRING KeyName, ACCESS_MASK DesiredAccess,
                                           PWDF_OBJECT_ATTRIBUTES KeyAttributes, WDFKEY* Key);
FORCEINLINE NTSTATUS WdfRegistryOpenKey(WDFKEY ParentKey, PCUNICODE_STRING KeyName,
                                        ACCESS_MASK DesiredAccess,
                                        PWDF_OBJECT_ATTRIBUTES KeyAttributes, WDFKEY* Key) {
    return ((PFN_WDFREGISTRYOPENKEY)WdfFunctions[WdfRegistryOpenKeyTableIndex])(
        WdfDriverGlobals, ParentKey, KeyName, DesiredAccess, KeyAttributes, Key);
}

typedef NTSTATUS (*PFN_WDFREGISTRYQUERYULONG)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFKEY Key,
                                              PCUNICODE_STRING ValueName, PULONG Value);
FORCEINLINE NTSTATUS WdfRegistryQueryULong(WDFKEY Key, PCUNICODE_STRING ValueName, PULONG Value) {
    return ((PFN_WDFREGISTRYQUERYULONG)WdfFunctions[WdfRegistryQueryULongTableIndex])(
        WdfDriverGlobals, Key, ValueName, Value);
}

typedef VOID (*PFN_WDFREGISTRYCLOSE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFKEY Key);
FORCEINLINE VOID WdfRegistryClose(WDFKEY Key) {
    ((PFN_WDFREGISTRYCLOSE)WdfFunctions[WdfRegistryCloseTableIndex])(WdfDriverGlobals, Key);
}

// ---- Resources ---------------------------------------------------------------------------------

typedef ULONG (*PFN_WDFCMRESOURCELISTGETCOUNT)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                               WDFCMRESLIST List);
FORCEINLINE ULONG WdfCmResourceListGetCount(WDFCMRESLIST List) {
    return ((PFN_WDFCMRESOURCELISTGETCOUNT)WdfFunctions[WdfCmResourceListGetCountTableIndex])(
        WdfDriverGlobals, List);
}

typedef PCM_PARTIAL_RESOURCE_DESCRIPTOR (*PFN_WDFCMRESOURCELISTGETDESCRIPTOR)(
    PWDF_DRIVER_GLOBALS DriverGlobals, WDFCMRESLIST List, ULONG Index);
FORCEINLINE PCM_PARTIAL_RESOURCE_DESCRIPTOR WdfCmResourceListGetDescriptor(WDFCMRESLIST List,
                                                                           ULONG Index) {
    return (
        (PFN_WDFCMRESOURCELISTGETDESCRIPTOR)WdfFunctions[WdfCmResourceListGetDescriptorTableIndex])(
        WdfDriverGlobals, List, Index);
}

// ---- Memory -------------------------------------------------------------------------------------

typedef struct _WDFMEMORY_OFFSET {
    size_t BufferOffset;
    size_t BufferLength;
} WDFMEMORY_OFFSET, *PWDFMEMORY_OFFSET;

typedef NTSTATUS (*PFN_WDFMEMORYCREATEPREALLOCATED)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                    PWDF_OBJECT_ATTRIBUTES Attributes, PVOID Buffer,
                                                    size_t BufferSize, WDFMEMORY* Memory);
FORCEINLINE NTSTATUS WdfMemoryCreatePreallocated(PWDF_OBJECT_ATTRIBUTES Attributes, PVOID Buffer,
                                                 size_t BufferSize, WDFMEMORY* Memory) {
    return ((PFN_WDFMEMORYCREATEPREALLOCATED)WdfFunctions[WdfMemoryCreatePreallocatedTableIndex])(
        WdfDriverGlobals, Attributes, Buffer, BufferSize, Memory);
}

// ---- Spin locks
// -----------------------------------------------------------------------------------

typedef NTSTATUS (*PFN_WDFSPINLOCKCREATE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                          PWDF_OBJECT_ATTRIBUTES SpinLockAttributes,
                                          WDFSPINLOCK* SpinLock);
FORCEINLINE NTSTATUS WdfSpinLockCreate(PWDF_OBJECT_ATTRIBUTES SpinLockAttributes,
                                       WDFSPINLOCK* SpinLock) {
    return ((PFN_WDFSPINLOCKCREATE)WdfFunctions[WdfSpinLockCreateTableIndex])(
        WdfDriverGlobals, SpinLockAttributes, SpinLock);
}

typedef VOID (*PFN_WDFSPINLOCKACQUIRE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFSPINLOCK SpinLock);
FORCEINLINE VOID WdfSpinLockAcquire(WDFSPINLOCK SpinLock) {
    ((PFN_WDFSPINLOCKACQUIRE)WdfFunctions[WdfSpinLockAcquireTableIndex])(WdfDriverGlobals,
                                                                         SpinLock);
}

typedef VOID (*PFN_WDFSPINLOCKRELEASE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFSPINLOCK SpinLock);
FORCEINLINE VOID WdfSpinLockRelease(WDFSPINLOCK SpinLock) {
    ((PFN_WDFSPINLOCKRELEASE)WdfFunctions[WdfSpinLockReleaseTableIndex])(WdfDriverGlobals,
                                                                         SpinLock);
}

// ---- Wait locks (passive level)
// -----------------------------------------------------------------------

typedef NTSTATUS (*PFN_WDFWAITLOCKCREATE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                          PWDF_OBJECT_ATTRIBUTES LockAttributes, WDFWAITLOCK* Lock);
FORCEINLINE NTSTATUS WdfWaitLockCreate(PWDF_OBJECT_ATTRIBUTES LockAttributes, WDFWAITLOCK* Lock) {
    return ((PFN_WDFWAITLOCKCREATE)WdfFunctions[WdfWaitLockCreateTableIndex])(WdfDriverGlobals,
                                                                              LockAttributes, Lock);
}

typedef NTSTATUS (*PFN_WDFWAITLOCKACQUIRE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFWAITLOCK Lock,
                                           PLONGLONG Timeout);
FORCEINLINE NTSTATUS WdfWaitLockAcquire(WDFWAITLOCK Lock, PLONGLONG Timeout) {
    return ((PFN_WDFWAITLOCKACQUIRE)WdfFunctions[WdfWaitLockAcquireTableIndex])(WdfDriverGlobals,
                                                                                Lock, Timeout);
}

typedef VOID (*PFN_WDFWAITLOCKRELEASE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFWAITLOCK Lock);
FORCEINLINE VOID WdfWaitLockRelease(WDFWAITLOCK Lock) {
    ((PFN_WDFWAITLOCKRELEASE)WdfFunctions[WdfWaitLockReleaseTableIndex])(WdfDriverGlobals, Lock);
}

// ---- Requests
// ------------------------------------------------------------------------------------------

typedef enum _WDF_REQUEST_TYPE {
    WdfRequestTypeCreate = 0x0,
    WdfRequestTypeCreateNamedPipe = 0x1,
    WdfRequestTypeClose = 0x2,
    WdfRequestTypeRead = 0x3,
    WdfRequestTypeWrite = 0x4,
    WdfRequestTypeDeviceControl = 0xE,
    WdfRequestTypeDeviceControlInternal = 0xF,
    WdfRequestTypeCleanup = 0x12,
} WDF_REQUEST_TYPE;

typedef struct _WDF_REQUEST_PARAMETERS {
    USHORT Size;
    UCHAR MinorFunction;
    WDF_REQUEST_TYPE Type;
    union {
        struct {
            size_t Length;
            ULONG POINTER_ALIGNMENT Key;
            LONGLONG DeviceOffset;
        } Read;
        struct {
            size_t Length;
            ULONG POINTER_ALIGNMENT Key;
            LONGLONG DeviceOffset;
        } Write;
        struct {
            size_t OutputBufferLength;
            size_t POINTER_ALIGNMENT InputBufferLength;
            ULONG POINTER_ALIGNMENT IoControlCode;
            PVOID Type3InputBuffer;
        } DeviceIoControl;
    } Parameters;
} WDF_REQUEST_PARAMETERS, *PWDF_REQUEST_PARAMETERS;

FORCEINLINE VOID WDF_REQUEST_PARAMETERS_INIT(PWDF_REQUEST_PARAMETERS Parameters) {
    *Parameters = WDF_REQUEST_PARAMETERS{};
    Parameters->Size = sizeof(WDF_REQUEST_PARAMETERS);
}

typedef struct _WDF_REQUEST_COMPLETION_PARAMS {
    ULONG Size;
    WDF_REQUEST_TYPE Type;
    IO_STATUS_BLOCK IoStatus;
    union {
        struct {
            WDFMEMORY Buffer;
            size_t Length;
            size_t Offset;
        } Write;
        struct {
            WDFMEMORY Buffer;
            size_t Length;
            size_t Offset;
        } Read;
        struct {
            ULONG IoControlCode;
            struct {
                WDFMEMORY Buffer;
                size_t Offset;
            } Input;
            struct {
                WDFMEMORY Buffer;
                size_t Offset;
                size_t Length;
            } Output;
        } Ioctl;
        struct {
            PVOID Argument1;
            PVOID Argument2;
            PVOID Argument3;
            PVOID Argument4;
        } Others;
    } Parameters;
} WDF_REQUEST_COMPLETION_PARAMS, *PWDF_REQUEST_COMPLETION_PARAMS;

typedef VOID EVT_WDF_REQUEST_COMPLETION_ROUTINE(WDFREQUEST Request, WDFIOTARGET Target,
                                                PWDF_REQUEST_COMPLETION_PARAMS Params,
                                                WDFCONTEXT Context);
typedef EVT_WDF_REQUEST_COMPLETION_ROUTINE* PFN_WDF_REQUEST_COMPLETION_ROUTINE;
typedef VOID EVT_WDF_REQUEST_CANCEL(WDFREQUEST Request);
typedef EVT_WDF_REQUEST_CANCEL* PFN_WDF_REQUEST_CANCEL;

typedef enum _WDF_REQUEST_REUSE_FLAGS {
    WDF_REQUEST_REUSE_NO_FLAGS = 0,
    WDF_REQUEST_REUSE_SET_NEW_IRP = 1
} WDF_REQUEST_REUSE_FLAGS;

typedef struct _WDF_REQUEST_REUSE_PARAMS {
    ULONG Size;
    ULONG Flags;
    NTSTATUS Status;
    PVOID NewIrp;
} WDF_REQUEST_REUSE_PARAMS, *PWDF_REQUEST_REUSE_PARAMS;

FORCEINLINE VOID WDF_REQUEST_REUSE_PARAMS_INIT(PWDF_REQUEST_REUSE_PARAMS Params, ULONG Flags,
                                               NTSTATUS Status) {
    *Params = WDF_REQUEST_REUSE_PARAMS{};
    Params->Size = sizeof(WDF_REQUEST_REUSE_PARAMS);
    Params->Flags = Flags;
    Params->Status = Status;
}

typedef enum _WDF_REQUEST_SEND_OPTIONS_FLAGS {
    WDF_REQUEST_SEND_OPTION_TIMEOUT = 0x00000001,
    WDF_REQUEST_SEND_OPTION_SYNCHRONOUS = 0x00000002,
    WDF_REQUEST_SEND_OPTION_IGNORE_TARGET_STATE = 0x00000004,
    WDF_REQUEST_SEND_OPTION_SEND_AND_FORGET = 0x00000008,
} WDF_REQUEST_SEND_OPTIONS_FLAGS;

typedef struct _WDF_REQUEST_SEND_OPTIONS {
    ULONG Size;
    ULONG Flags;
    LONGLONG Timeout;
} WDF_REQUEST_SEND_OPTIONS, *PWDF_REQUEST_SEND_OPTIONS;

FORCEINLINE VOID WDF_REQUEST_SEND_OPTIONS_INIT(PWDF_REQUEST_SEND_OPTIONS Options, ULONG Flags) {
    *Options = WDF_REQUEST_SEND_OPTIONS{};
    Options->Size = sizeof(WDF_REQUEST_SEND_OPTIONS);
    Options->Flags = Flags;
}

typedef NTSTATUS (*PFN_WDFREQUESTCREATE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                         PWDF_OBJECT_ATTRIBUTES RequestAttributes,
                                         WDFIOTARGET IoTarget, WDFREQUEST* Request);
FORCEINLINE NTSTATUS WdfRequestCreate(PWDF_OBJECT_ATTRIBUTES RequestAttributes,
                                      WDFIOTARGET IoTarget, WDFREQUEST* Request) {
    return ((PFN_WDFREQUESTCREATE)WdfFunctions[WdfRequestCreateTableIndex])(
        WdfDriverGlobals, RequestAttributes, IoTarget, Request);
}

typedef NTSTATUS (*PFN_WDFREQUESTREUSE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFREQUEST Request,
                                        PWDF_REQUEST_REUSE_PARAMS ReuseParams);
FORCEINLINE NTSTATUS WdfRequestReuse(WDFREQUEST Request, PWDF_REQUEST_REUSE_PARAMS ReuseParams) {
    return ((PFN_WDFREQUESTREUSE)WdfFunctions[WdfRequestReuseTableIndex])(WdfDriverGlobals, Request,
                                                                          ReuseParams);
}

typedef BOOLEAN (*PFN_WDFREQUESTSEND)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFREQUEST Request,
                                      WDFIOTARGET Target, PWDF_REQUEST_SEND_OPTIONS Options);
FORCEINLINE BOOLEAN WdfRequestSend(WDFREQUEST Request, WDFIOTARGET Target,
                                   PWDF_REQUEST_SEND_OPTIONS Options) {
    return ((PFN_WDFREQUESTSEND)WdfFunctions[WdfRequestSendTableIndex])(WdfDriverGlobals, Request,
                                                                        Target, Options);
}

typedef NTSTATUS (*PFN_WDFREQUESTGETSTATUS)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFREQUEST Request);
FORCEINLINE NTSTATUS WdfRequestGetStatus(WDFREQUEST Request) {
    return ((PFN_WDFREQUESTGETSTATUS)WdfFunctions[WdfRequestGetStatusTableIndex])(WdfDriverGlobals,
                                                                                  Request);
}

typedef NTSTATUS (*PFN_WDFREQUESTUNMARKCANCELABLE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                   WDFREQUEST Request);
FORCEINLINE NTSTATUS WdfRequestUnmarkCancelable(WDFREQUEST Request) {
    return ((PFN_WDFREQUESTUNMARKCANCELABLE)WdfFunctions[WdfRequestUnmarkCancelableTableIndex])(
        WdfDriverGlobals, Request);
}

typedef BOOLEAN (*PFN_WDFREQUESTCANCELSENTREQUEST)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                   WDFREQUEST Request);
FORCEINLINE BOOLEAN WdfRequestCancelSentRequest(WDFREQUEST Request) {
    return ((PFN_WDFREQUESTCANCELSENTREQUEST)WdfFunctions[WdfRequestCancelSentRequestTableIndex])(
        WdfDriverGlobals, Request);
}

typedef VOID (*PFN_WDFREQUESTSETCOMPLETIONROUTINE)(
    PWDF_DRIVER_GLOBALS DriverGlobals, WDFREQUEST Request,
    PFN_WDF_REQUEST_COMPLETION_ROUTINE CompletionRoutine, WDFCONTEXT CompletionContext);
FORCEINLINE VOID WdfRequestSetCompletionRoutine(
    WDFREQUEST Request, PFN_WDF_REQUEST_COMPLETION_ROUTINE CompletionRoutine,
    WDFCONTEXT CompletionContext) {
    ((PFN_WDFREQUESTSETCOMPLETIONROUTINE)WdfFunctions[WdfRequestSetCompletionRoutineTableIndex])(
        WdfDriverGlobals, Request, CompletionRoutine, CompletionContext);
}

typedef VOID (*PFN_WDFREQUESTCOMPLETE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFREQUEST Request,
                                       NTSTATUS Status);
FORCEINLINE VOID WdfRequestComplete(WDFREQUEST Request, NTSTATUS Status) {
    ((PFN_WDFREQUESTCOMPLETE)WdfFunctions[WdfRequestCompleteTableIndex])(WdfDriverGlobals, Request,
                                                                         Status);
}

typedef VOID (*PFN_WDFREQUESTCOMPLETEWITHINFORMATION)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                      WDFREQUEST Request, NTSTATUS Status,
                                                      ULONG_PTR Information);
FORCEINLINE VOID WdfRequestCompleteWithInformation(WDFREQUEST Request, NTSTATUS Status,
                                                   ULONG_PTR Information) {
    ((PFN_WDFREQUESTCOMPLETEWITHINFORMATION)
         WdfFunctions[WdfRequestCompleteWithInformationTableIndex])(WdfDriverGlobals, Request,
                                                                    Status, Information);
}

typedef VOID (*PFN_WDFREQUESTGETPARAMETERS)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFREQUEST Request,
                                            PWDF_REQUEST_PARAMETERS Parameters);
FORCEINLINE VOID WdfRequestGetParameters(WDFREQUEST Request, PWDF_REQUEST_PARAMETERS Parameters) {
    ((PFN_WDFREQUESTGETPARAMETERS)WdfFunctions[WdfRequestGetParametersTableIndex])(
        WdfDriverGlobals, Request, Parameters);
}

typedef NTSTATUS (*PFN_WDFREQUESTRETRIEVEINPUTMEMORY)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                      WDFREQUEST Request, WDFMEMORY* Memory);
FORCEINLINE NTSTATUS WdfRequestRetrieveInputMemory(WDFREQUEST Request, WDFMEMORY* Memory) {
    return (
        (PFN_WDFREQUESTRETRIEVEINPUTMEMORY)WdfFunctions[WdfRequestRetrieveInputMemoryTableIndex])(
        WdfDriverGlobals, Request, Memory);
}

typedef NTSTATUS (*PFN_WDFREQUESTRETRIEVEOUTPUTMEMORY)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                       WDFREQUEST Request, WDFMEMORY* Memory);
FORCEINLINE NTSTATUS WdfRequestRetrieveOutputMemory(WDFREQUEST Request, WDFMEMORY* Memory) {
    return (
        (PFN_WDFREQUESTRETRIEVEOUTPUTMEMORY)WdfFunctions[WdfRequestRetrieveOutputMemoryTableIndex])(
        WdfDriverGlobals, Request, Memory);
}

typedef NTSTATUS (*PFN_WDFREQUESTRETRIEVEINPUTBUFFER)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                      WDFREQUEST Request,
                                                      size_t MinimumRequiredLength, PVOID* Buffer,
                                                      size_t* Length);
FORCEINLINE NTSTATUS WdfRequestRetrieveInputBuffer(WDFREQUEST Request, size_t MinimumRequiredLength,
                                                   PVOID* Buffer, size_t* Length) {
    return (
        (PFN_WDFREQUESTRETRIEVEINPUTBUFFER)WdfFunctions[WdfRequestRetrieveInputBufferTableIndex])(
        WdfDriverGlobals, Request, MinimumRequiredLength, Buffer, Length);
}

typedef NTSTATUS (*PFN_WDFREQUESTRETRIEVEOUTPUTBUFFER)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                       WDFREQUEST Request,
                                                       size_t MinimumRequiredSize, PVOID* Buffer,
                                                       size_t* Length);
FORCEINLINE NTSTATUS WdfRequestRetrieveOutputBuffer(WDFREQUEST Request, size_t MinimumRequiredSize,
                                                    PVOID* Buffer, size_t* Length) {
    return (
        (PFN_WDFREQUESTRETRIEVEOUTPUTBUFFER)WdfFunctions[WdfRequestRetrieveOutputBufferTableIndex])(
        WdfDriverGlobals, Request, MinimumRequiredSize, Buffer, Length);
}

typedef NTSTATUS (*PFN_WDFREQUESTMARKCANCELABLEEX)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                   WDFREQUEST Request,
                                                   PFN_WDF_REQUEST_CANCEL EvtRequestCancel);
FORCEINLINE NTSTATUS WdfRequestMarkCancelableEx(WDFREQUEST Request,
                                                PFN_WDF_REQUEST_CANCEL EvtRequestCancel) {
    return ((PFN_WDFREQUESTMARKCANCELABLEEX)WdfFunctions[WdfRequestMarkCancelableExTableIndex])(
        WdfDriverGlobals, Request, EvtRequestCancel);
}

typedef NTSTATUS (*PFN_WDFREQUESTFORWARDTOIOQUEUE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                   WDFREQUEST Request, WDFQUEUE DestinationQueue);
FORCEINLINE NTSTATUS WdfRequestForwardToIoQueue(WDFREQUEST Request, WDFQUEUE DestinationQueue) {
    return ((PFN_WDFREQUESTFORWARDTOIOQUEUE)WdfFunctions[WdfRequestForwardToIoQueueTableIndex])(
        WdfDriverGlobals, Request, DestinationQueue);
}

// ---- Queues
// ---------------------------------------------------------------------------------------------

typedef enum _WDF_IO_QUEUE_DISPATCH_TYPE {
    WdfIoQueueDispatchInvalid = 0,
    WdfIoQueueDispatchSequential,
    WdfIoQueueDispatchParallel,
    WdfIoQueueDispatchManual,
    WdfIoQueueDispatchMax,
} WDF_IO_QUEUE_DISPATCH_TYPE;

typedef VOID EVT_WDF_IO_QUEUE_IO_DEFAULT(WDFQUEUE Queue, WDFREQUEST Request);
typedef EVT_WDF_IO_QUEUE_IO_DEFAULT* PFN_WDF_IO_QUEUE_IO_DEFAULT;
typedef VOID EVT_WDF_IO_QUEUE_IO_READ(WDFQUEUE Queue, WDFREQUEST Request, size_t Length);
typedef EVT_WDF_IO_QUEUE_IO_READ* PFN_WDF_IO_QUEUE_IO_READ;
typedef VOID EVT_WDF_IO_QUEUE_IO_WRITE(WDFQUEUE Queue, WDFREQUEST Request, size_t Length);
typedef EVT_WDF_IO_QUEUE_IO_WRITE* PFN_WDF_IO_QUEUE_IO_WRITE;
typedef VOID EVT_WDF_IO_QUEUE_IO_DEVICE_CONTROL(WDFQUEUE Queue, WDFREQUEST Request,
                                                size_t OutputBufferLength, size_t InputBufferLength,
                                                ULONG IoControlCode);
typedef EVT_WDF_IO_QUEUE_IO_DEVICE_CONTROL* PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL;

typedef enum _WDF_REQUEST_STOP_ACTION_FLAGS {
    WdfRequestStopActionInvalid = 0,
    WdfRequestStopActionSuspend = 0x01,  // the device leaves D0
    WdfRequestStopActionPurge = 0x2,     // the device goes away
    WdfRequestStopRequestCancelable = 0x10000000,
} WDF_REQUEST_STOP_ACTION_FLAGS;

typedef VOID EVT_WDF_IO_QUEUE_IO_STOP(WDFQUEUE Queue, WDFREQUEST Request, ULONG ActionFlags);
typedef EVT_WDF_IO_QUEUE_IO_STOP* PFN_WDF_IO_QUEUE_IO_STOP;

typedef struct _WDF_IO_QUEUE_CONFIG {
    ULONG Size;
    WDF_IO_QUEUE_DISPATCH_TYPE DispatchType;
    WDF_TRI_STATE PowerManaged;
    BOOLEAN AllowZeroLengthRequests;
    BOOLEAN DefaultQueue;
    PFN_WDF_IO_QUEUE_IO_DEFAULT EvtIoDefault;
    PFN_WDF_IO_QUEUE_IO_READ EvtIoRead;
    PFN_WDF_IO_QUEUE_IO_WRITE EvtIoWrite;
    PFN_WDF_IO_QUEUE_IO_DEVICE_CONTROL EvtIoDeviceControl;
    PVOID EvtIoInternalDeviceControl;
    PFN_WDF_IO_QUEUE_IO_STOP EvtIoStop;
    PVOID EvtIoResume;
    PVOID EvtIoCanceledOnQueue;
    union {
        struct {
            ULONG NumberOfPresentedRequests;
        } Parallel;
    } Settings;
    WDFDRIVER Driver;
} WDF_IO_QUEUE_CONFIG, *PWDF_IO_QUEUE_CONFIG;

FORCEINLINE VOID WDF_IO_QUEUE_CONFIG_INIT(PWDF_IO_QUEUE_CONFIG Config,
                                          WDF_IO_QUEUE_DISPATCH_TYPE DispatchType) {
    *Config = WDF_IO_QUEUE_CONFIG{};
    Config->Size = sizeof(WDF_IO_QUEUE_CONFIG);
    Config->PowerManaged = WdfUseDefault;
    Config->DispatchType = DispatchType;
    if (Config->DispatchType == WdfIoQueueDispatchParallel) {
        Config->Settings.Parallel.NumberOfPresentedRequests = (ULONG)-1;
    }
}

FORCEINLINE VOID WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(PWDF_IO_QUEUE_CONFIG Config,
                                                        WDF_IO_QUEUE_DISPATCH_TYPE DispatchType) {
    WDF_IO_QUEUE_CONFIG_INIT(Config, DispatchType);
    Config->DefaultQueue = TRUE;
}

typedef NTSTATUS (*PFN_WDFIOQUEUECREATE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFDEVICE Device,
                                         PWDF_IO_QUEUE_CONFIG Config,
                                         PWDF_OBJECT_ATTRIBUTES QueueAttributes, WDFQUEUE* Queue);
FORCEINLINE NTSTATUS WdfIoQueueCreate(WDFDEVICE Device, PWDF_IO_QUEUE_CONFIG Config,
                                      PWDF_OBJECT_ATTRIBUTES QueueAttributes, WDFQUEUE* Queue) {
    return ((PFN_WDFIOQUEUECREATE)WdfFunctions[WdfIoQueueCreateTableIndex])(
        WdfDriverGlobals, Device, Config, QueueAttributes, Queue);
}

typedef WDFDEVICE (*PFN_WDFIOQUEUEGETDEVICE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFQUEUE Queue);
FORCEINLINE WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE Queue) {
    return ((PFN_WDFIOQUEUEGETDEVICE)WdfFunctions[WdfIoQueueGetDeviceTableIndex])(WdfDriverGlobals,
                                                                                  Queue);
}

// ---- I/O targets
// --------------------------------------------------------------------------------------------

typedef enum _WDF_IO_TARGET_OPEN_TYPE {
    WdfIoTargetOpenUndefined = 0,
    WdfIoTargetOpenUseExistingDevice = 1,
    WdfIoTargetOpenByName = 2,
    WdfIoTargetOpenReopen = 3,
    WdfIoTargetOpenLocalTargetByFile = 4,
} WDF_IO_TARGET_OPEN_TYPE;

typedef struct _WDF_IO_TARGET_OPEN_PARAMS {
    ULONG Size;
    WDF_IO_TARGET_OPEN_TYPE Type;
    PVOID EvtIoTargetQueryRemove;
    PVOID EvtIoTargetRemoveCanceled;
    PVOID EvtIoTargetRemoveComplete;
    PVOID TargetDeviceObject;
    PVOID TargetFileObject;
    UNICODE_STRING TargetDeviceName;
    ACCESS_MASK DesiredAccess;
    ULONG ShareAccess;
    ULONG FileAttributes;
    ULONG CreateDisposition;
    ULONG CreateOptions;
    PVOID EaBuffer;
    ULONG EaBufferLength;
    PLONGLONG AllocationSize;
    ULONG FileInformation;
    UNICODE_STRING FileName;
} WDF_IO_TARGET_OPEN_PARAMS, *PWDF_IO_TARGET_OPEN_PARAMS;

FORCEINLINE VOID WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(PWDF_IO_TARGET_OPEN_PARAMS Params,
                                                             PCUNICODE_STRING TargetDeviceName,
                                                             ACCESS_MASK DesiredAccess) {
    *Params = WDF_IO_TARGET_OPEN_PARAMS{};
    Params->Size = sizeof(WDF_IO_TARGET_OPEN_PARAMS);
    Params->Type = WdfIoTargetOpenByName;
    Params->TargetDeviceName = *TargetDeviceName;
    Params->DesiredAccess = DesiredAccess;
    Params->CreateOptions = FILE_NON_DIRECTORY_FILE;
}

typedef NTSTATUS (*PFN_WDFIOTARGETCREATE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFDEVICE Device,
                                          PWDF_OBJECT_ATTRIBUTES IoTargetAttributes,
                                          WDFIOTARGET* IoTarget);
FORCEINLINE NTSTATUS WdfIoTargetCreate(WDFDEVICE Device, PWDF_OBJECT_ATTRIBUTES IoTargetAttributes,
                                       WDFIOTARGET* IoTarget) {
    return ((PFN_WDFIOTARGETCREATE)WdfFunctions[WdfIoTargetCreateTableIndex])(
        WdfDriverGlobals, Device, IoTargetAttributes, IoTarget);
}

typedef NTSTATUS (*PFN_WDFIOTARGETOPEN)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFIOTARGET IoTarget,
                                        PWDF_IO_TARGET_OPEN_PARAMS OpenParams);
FORCEINLINE NTSTATUS WdfIoTargetOpen(WDFIOTARGET IoTarget, PWDF_IO_TARGET_OPEN_PARAMS OpenParams) {
    return ((PFN_WDFIOTARGETOPEN)WdfFunctions[WdfIoTargetOpenTableIndex])(WdfDriverGlobals,
                                                                          IoTarget, OpenParams);
}

typedef VOID (*PFN_WDFIOTARGETCLOSE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFIOTARGET IoTarget);
FORCEINLINE VOID WdfIoTargetClose(WDFIOTARGET IoTarget) {
    ((PFN_WDFIOTARGETCLOSE)WdfFunctions[WdfIoTargetCloseTableIndex])(WdfDriverGlobals, IoTarget);
}

typedef NTSTATUS (*PFN_WDFIOTARGETFORMATREQUESTFORREAD)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                        WDFIOTARGET IoTarget, WDFREQUEST Request,
                                                        WDFMEMORY OutputBuffer,
                                                        PWDFMEMORY_OFFSET OutputBufferOffset,
                                                        PLONGLONG DeviceOffset);
FORCEINLINE NTSTATUS WdfIoTargetFormatRequestForRead(WDFIOTARGET IoTarget, WDFREQUEST Request,
                                                     WDFMEMORY OutputBuffer,
                                                     PWDFMEMORY_OFFSET OutputBufferOffset,
                                                     PLONGLONG DeviceOffset) {
    return ((PFN_WDFIOTARGETFORMATREQUESTFORREAD)
                WdfFunctions[WdfIoTargetFormatRequestForReadTableIndex])(
        WdfDriverGlobals, IoTarget, Request, OutputBuffer, OutputBufferOffset, DeviceOffset);
}

typedef NTSTATUS (*PFN_WDFIOTARGETFORMATREQUESTFORWRITE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                         WDFIOTARGET IoTarget, WDFREQUEST Request,
                                                         WDFMEMORY InputBuffer,
                                                         PWDFMEMORY_OFFSET InputBufferOffset,
                                                         PLONGLONG DeviceOffset);
FORCEINLINE NTSTATUS WdfIoTargetFormatRequestForWrite(WDFIOTARGET IoTarget, WDFREQUEST Request,
                                                      WDFMEMORY InputBuffer,
                                                      PWDFMEMORY_OFFSET InputBufferOffset,
                                                      PLONGLONG DeviceOffset) {
    return ((PFN_WDFIOTARGETFORMATREQUESTFORWRITE)
                WdfFunctions[WdfIoTargetFormatRequestForWriteTableIndex])(
        WdfDriverGlobals, IoTarget, Request, InputBuffer, InputBufferOffset, DeviceOffset);
}

typedef NTSTATUS (*PFN_WDFIOTARGETFORMATREQUESTFORIOCTL)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                         WDFIOTARGET IoTarget, WDFREQUEST Request,
                                                         ULONG IoctlCode, WDFMEMORY InputBuffer,
                                                         PWDFMEMORY_OFFSET InputBufferOffset,
                                                         WDFMEMORY OutputBuffer,
                                                         PWDFMEMORY_OFFSET OutputBufferOffset);
FORCEINLINE NTSTATUS WdfIoTargetFormatRequestForIoctl(WDFIOTARGET IoTarget, WDFREQUEST Request,
                                                      ULONG IoctlCode, WDFMEMORY InputBuffer,
                                                      PWDFMEMORY_OFFSET InputBufferOffset,
                                                      WDFMEMORY OutputBuffer,
                                                      PWDFMEMORY_OFFSET OutputBufferOffset) {
    return ((PFN_WDFIOTARGETFORMATREQUESTFORIOCTL)
                WdfFunctions[WdfIoTargetFormatRequestForIoctlTableIndex])(
        WdfDriverGlobals, IoTarget, Request, IoctlCode, InputBuffer, InputBufferOffset,
        OutputBuffer, OutputBufferOffset);
}

// ---- Interrupts
// -------------------------------------------------------------------------------------------------

typedef BOOLEAN EVT_WDF_INTERRUPT_ISR(WDFINTERRUPT Interrupt, ULONG MessageID);
typedef EVT_WDF_INTERRUPT_ISR* PFN_WDF_INTERRUPT_ISR;
typedef VOID EVT_WDF_INTERRUPT_DPC(WDFINTERRUPT Interrupt, WDFOBJECT AssociatedObject);
typedef EVT_WDF_INTERRUPT_DPC* PFN_WDF_INTERRUPT_DPC;
typedef VOID EVT_WDF_INTERRUPT_WORKITEM(WDFINTERRUPT Interrupt, WDFOBJECT AssociatedObject);
typedef EVT_WDF_INTERRUPT_WORKITEM* PFN_WDF_INTERRUPT_WORKITEM;

typedef struct _WDF_INTERRUPT_CONFIG {
    ULONG Size;
    WDFSPINLOCK SpinLock;
    WDF_TRI_STATE ShareVector;
    BOOLEAN FloatingSave;
    BOOLEAN AutomaticSerialization;
    PFN_WDF_INTERRUPT_ISR EvtInterruptIsr;
    PFN_WDF_INTERRUPT_DPC EvtInterruptDpc;
    PVOID EvtInterruptEnable;
    PVOID EvtInterruptDisable;
    PFN_WDF_INTERRUPT_WORKITEM EvtInterruptWorkItem;
    PCM_PARTIAL_RESOURCE_DESCRIPTOR InterruptRaw;
    PCM_PARTIAL_RESOURCE_DESCRIPTOR InterruptTranslated;
    WDFWAITLOCK WaitLock;
    BOOLEAN PassiveHandling;
    WDF_TRI_STATE ReportInactiveOnPowerDown;
    BOOLEAN CanWakeDevice;
} WDF_INTERRUPT_CONFIG, *PWDF_INTERRUPT_CONFIG;

FORCEINLINE VOID WDF_INTERRUPT_CONFIG_INIT(PWDF_INTERRUPT_CONFIG Configuration,
                                           PFN_WDF_INTERRUPT_ISR EvtInterruptIsr,
                                           PFN_WDF_INTERRUPT_DPC EvtInterruptDpc) {
    *Configuration = WDF_INTERRUPT_CONFIG{};
    Configuration->Size = sizeof(WDF_INTERRUPT_CONFIG);
    Configuration->ShareVector = WdfUseDefault;
    Configuration->EvtInterruptIsr = EvtInterruptIsr;
    Configuration->EvtInterruptDpc = EvtInterruptDpc;
    Configuration->ReportInactiveOnPowerDown = WdfUseDefault;
}

typedef NTSTATUS (*PFN_WDFINTERRUPTCREATE)(PWDF_DRIVER_GLOBALS DriverGlobals, WDFDEVICE Device,
                                           PWDF_INTERRUPT_CONFIG Configuration,
                                           PWDF_OBJECT_ATTRIBUTES Attributes,
                                           WDFINTERRUPT* Interrupt);
FORCEINLINE NTSTATUS WdfInterruptCreate(WDFDEVICE Device, PWDF_INTERRUPT_CONFIG Configuration,
                                        PWDF_OBJECT_ATTRIBUTES Attributes,
                                        WDFINTERRUPT* Interrupt) {
    return ((PFN_WDFINTERRUPTCREATE)WdfFunctions[WdfInterruptCreateTableIndex])(
        WdfDriverGlobals, Device, Configuration, Attributes, Interrupt);
}

typedef WDFDEVICE (*PFN_WDFINTERRUPTGETDEVICE)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                               WDFINTERRUPT Interrupt);
FORCEINLINE WDFDEVICE WdfInterruptGetDevice(WDFINTERRUPT Interrupt) {
    return ((PFN_WDFINTERRUPTGETDEVICE)WdfFunctions[WdfInterruptGetDeviceTableIndex])(
        WdfDriverGlobals, Interrupt);
}

typedef BOOLEAN (*PFN_WDFINTERRUPTQUEUEWORKITEMFORISR)(PWDF_DRIVER_GLOBALS DriverGlobals,
                                                       WDFINTERRUPT Interrupt);
FORCEINLINE BOOLEAN WdfInterruptQueueWorkItemForIsr(WDFINTERRUPT Interrupt) {
    return ((PFN_WDFINTERRUPTQUEUEWORKITEMFORISR)
                WdfFunctions[WdfInterruptQueueWorkItemForIsrTableIndex])(WdfDriverGlobals,
                                                                         Interrupt);
}

#ifdef __cplusplus
}  // extern "C"
#endif

#pragma GCC diagnostic pop
