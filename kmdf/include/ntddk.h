// The kernel's base header as a KMDF client of this tree meets it: types,
// status values, events, resource descriptors and the kernel routines the
// driver and its loader stub call, with the names, values and x64 layouts of
// the Windows kernel. One header for both builds of the driver: the MinGW
// build links these routines from ntoskrnl.exe, the host build from the KMDF
// simulation (kmdf/src), which plays the kernel as well as the framework.
#pragma once

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

// Annotations of the Windows headers carry no meaning for these compilers.
#define _In_
#define _In_opt_
#define _In_reads_bytes_(x)
#define _Out_
#define _Out_opt_
#define _Inout_
#define _Inout_opt_
#define _Use_decl_annotations_
#define _IRQL_requires_max_(x)
#define _IRQL_requires_(x)
#define _Function_class_(x)
#define _Must_inspect_result_
#define IN
#define OUT
#define PAGED_CODE() ((void)0)
#define UNREFERENCED_PARAMETER(P) ((void)(P))
#define NTAPI
#define FORCEINLINE inline __attribute__((always_inline))
// Members the x64 headers align to a pointer, whatever their own size.
#define POINTER_ALIGNMENT __attribute__((aligned(8)))

#ifdef __cplusplus
#define QX_EXTERN_C extern "C"
#else
#define QX_EXTERN_C extern
#endif

typedef void VOID;
typedef void* PVOID;
typedef const void* PCVOID;
typedef char CHAR;
typedef CHAR* PCHAR;
typedef const CHAR* PCSTR;
typedef unsigned char UCHAR;
typedef UCHAR* PUCHAR;
typedef unsigned char BOOLEAN;
typedef BOOLEAN* PBOOLEAN;
typedef short SHORT;
typedef short CSHORT;
typedef unsigned short USHORT;
typedef int32_t LONG;
typedef LONG* PLONG;
typedef uint32_t ULONG;
typedef ULONG* PULONG;
typedef int64_t LONGLONG;
typedef LONGLONG* PLONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t ULONG64;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef ULONG_PTR KAFFINITY;
typedef size_t SIZE_T;
typedef uint32_t ACCESS_MASK;
// 16 bits on Windows; the host's wchar_t is wider, and every length below is
// counted in bytes or in WCHARs, never in assumed sizes.
typedef wchar_t WCHAR;
typedef WCHAR* PWCHAR;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef PVOID HANDLE;
typedef LONG NTSTATUS;
typedef UCHAR KIRQL;
typedef LONG KPRIORITY;

#define TRUE 1
#define FALSE 0

// Interrupt request levels a KMDF client meets.
#define PASSIVE_LEVEL 0
#define APC_LEVEL 1
#define DISPATCH_LEVEL 2

typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef struct _LIST_ENTRY {
    struct _LIST_ENTRY* Flink;
    struct _LIST_ENTRY* Blink;
} LIST_ENTRY, *PLIST_ENTRY;

typedef struct _UNICODE_STRING {
    USHORT Length;         // bytes, without a terminator
    USHORT MaximumLength;  // bytes
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;
typedef const UNICODE_STRING* PCUNICODE_STRING;

#define RTL_CONSTANT_STRING(s) \
    { (USHORT)(sizeof(s) - sizeof((s)[0])), (USHORT)sizeof(s), (PWSTR)(s) }
#define DECLARE_CONST_UNICODE_STRING(_var, _string)                         \
    const WCHAR _var##_buffer[] = _string;                                  \
    const UNICODE_STRING _var = {(USHORT)(sizeof(_string) - sizeof(WCHAR)), \
                                 (USHORT)sizeof(_string), (PWSTR)_var##_buffer}

// ---- Status values ---------------------------------------------------------------

#define NT_SUCCESS(Status) (((NTSTATUS)(Status)) >= 0)
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_TIMEOUT ((NTSTATUS)0x00000102L)
#define STATUS_PENDING ((NTSTATUS)0x00000103L)
#define STATUS_BUFFER_OVERFLOW ((NTSTATUS)0x80000005L)
#define STATUS_UNSUCCESSFUL ((NTSTATUS)0xC0000001L)
#define STATUS_INFO_LENGTH_MISMATCH ((NTSTATUS)0xC0000004L)
#define STATUS_INVALID_HANDLE ((NTSTATUS)0xC0000008L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NO_SUCH_DEVICE ((NTSTATUS)0xC000000EL)
#define STATUS_INVALID_DEVICE_REQUEST ((NTSTATUS)0xC0000010L)
#define STATUS_ACCESS_DENIED ((NTSTATUS)0xC0000022L)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)
#define STATUS_OBJECT_NAME_NOT_FOUND ((NTSTATUS)0xC0000034L)
#define STATUS_DELETE_PENDING ((NTSTATUS)0xC0000056L)
#define STATUS_REVISION_MISMATCH ((NTSTATUS)0xC0000059L)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009AL)
#define STATUS_DEVICE_NOT_READY ((NTSTATUS)0xC00000A3L)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_NAME_TOO_LONG ((NTSTATUS)0xC0000106L)
#define STATUS_INVALID_BUFFER_SIZE ((NTSTATUS)0xC0000206L)
#define STATUS_CANCELLED ((NTSTATUS)0xC0000120L)
#define STATUS_INVALID_DEVICE_STATE ((NTSTATUS)0xC0000184L)
#define STATUS_IO_DEVICE_ERROR ((NTSTATUS)0xC0000185L)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)
#define STATUS_DEVICE_REMOVED ((NTSTATUS)0xC00002B6L)

// Access rights, create dispositions and options of ZwCreateFile.
#define GENERIC_READ (0x80000000L)
#define GENERIC_WRITE (0x40000000L)
#define KEY_READ (0x20019)
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_OPEN 0x00000001
#define FILE_NON_DIRECTORY_FILE 0x00000040

// Control codes.
#define CTL_CODE(DeviceType, Function, Method, Access) \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))
#define METHOD_BUFFERED 0
#define METHOD_NEITHER 3
#define FILE_ANY_ACCESS 0
#define FILE_READ_ACCESS 0x0001
#define FILE_WRITE_ACCESS 0x0002
#define FILE_DEVICE_CONTROLLER 0x00000004

typedef struct _IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
} IO_STATUS_BLOCK, *PIO_STATUS_BLOCK;

typedef enum _DEVICE_POWER_STATE {
    PowerDeviceUnspecified = 0,
    PowerDeviceD0,
    PowerDeviceD1,
    PowerDeviceD2,
    PowerDeviceD3,
    PowerDeviceMaximum
} DEVICE_POWER_STATE,
    *PDEVICE_POWER_STATE;

// ---- Driver object ------------------------------------------------------------------

struct _DEVICE_OBJECT;
struct _DRIVER_EXTENSION;
struct _FAST_IO_DISPATCH;
struct _IRP;
typedef struct _DRIVER_OBJECT DRIVER_OBJECT, *PDRIVER_OBJECT;

typedef NTSTATUS DRIVER_INITIALIZE(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
typedef DRIVER_INITIALIZE* PDRIVER_INITIALIZE;
typedef VOID DRIVER_UNLOAD(PDRIVER_OBJECT DriverObject);
typedef DRIVER_UNLOAD* PDRIVER_UNLOAD;
typedef VOID DRIVER_STARTIO(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);
typedef NTSTATUS DRIVER_DISPATCH(struct _DEVICE_OBJECT* DeviceObject, struct _IRP* Irp);

#define IRP_MJ_MAXIMUM_FUNCTION 0x1b

// The I/O manager's record of a loaded driver. A KMDF client touches only
// DriverUnload (its loader stub displaces it), but the layout is the
// kernel's, so that the offset is right.
struct _DRIVER_OBJECT {
    CSHORT Type;
    CSHORT Size;
    struct _DEVICE_OBJECT* DeviceObject;
    ULONG Flags;
    PVOID DriverStart;
    ULONG DriverSize;
    PVOID DriverSection;
    struct _DRIVER_EXTENSION* DriverExtension;
    UNICODE_STRING DriverName;
    PUNICODE_STRING HardwareDatabase;
    struct _FAST_IO_DISPATCH* FastIoDispatch;
    PDRIVER_INITIALIZE DriverInit;
    DRIVER_STARTIO* DriverStartIo;
    PDRIVER_UNLOAD DriverUnload;
    DRIVER_DISPATCH* MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
};

// ---- Kernel events --------------------------------------------------------------------

typedef enum _EVENT_TYPE { NotificationEvent, SynchronizationEvent } EVENT_TYPE;
typedef enum _KWAIT_REASON { Executive = 0 } KWAIT_REASON;
typedef enum _MODE { KernelMode, UserMode } KPROCESSOR_MODE;
#define IO_NO_INCREMENT 0

// Storage the kernel's dispatcher owns; a driver only passes its address.
typedef struct _DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Signalling;
    UCHAR Size;
    UCHAR Reserved;
    LONG SignalState;
    LIST_ENTRY WaitListHead;
} DISPATCHER_HEADER;

typedef struct _KEVENT {
    DISPATCHER_HEADER Header;
} KEVENT, *PKEVENT, *PRKEVENT;

// ---- Hardware resources --------------------------------------------------------------

#define CmResourceTypeNull 0
#define CmResourceTypePort 1
#define CmResourceTypeInterrupt 2
#define CmResourceTypeMemory 3
#define CmResourceTypeConnection 0x84
#define CM_RESOURCE_CONNECTION_CLASS_GPIO 0x01
#define CM_RESOURCE_CONNECTION_CLASS_SERIAL 0x02
#define CM_RESOURCE_CONNECTION_TYPE_GPIO_IO 0x02
#define CM_RESOURCE_CONNECTION_TYPE_SERIAL_I2C 0x01
#define CM_RESOURCE_CONNECTION_TYPE_SERIAL_SPI 0x02
#define CM_RESOURCE_CONNECTION_TYPE_SERIAL_UART 0x03

#pragma pack(push, 4)
typedef struct _CM_PARTIAL_RESOURCE_DESCRIPTOR {
    UCHAR Type;
    UCHAR ShareDisposition;
    USHORT Flags;
    union {
        struct {
            USHORT Level;
            USHORT Group;
            ULONG Vector;
            KAFFINITY Affinity;
        } Interrupt;
        struct {
            LARGE_INTEGER Start;
            ULONG Length;
        } Memory;
        struct {
            UCHAR Class;
            UCHAR Type;
            UCHAR Reserved1;
            UCHAR Reserved2;
            ULONG IdLowPart;
            ULONG IdHighPart;
        } Connection;
    } u;
} CM_PARTIAL_RESOURCE_DESCRIPTOR, *PCM_PARTIAL_RESOURCE_DESCRIPTOR;
#pragma pack(pop)

// ---- Kernel routines (ntoskrnl.exe) -------------------------------------------------------

QX_EXTERN_C KIRQL KeGetCurrentIrql(VOID);
QX_EXTERN_C VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
QX_EXTERN_C VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State);
QX_EXTERN_C LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait);
QX_EXTERN_C VOID KeClearEvent(PRKEVENT Event);
QX_EXTERN_C NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason,
                                           KPROCESSOR_MODE WaitMode, BOOLEAN Alertable,
                                           PLARGE_INTEGER Timeout);

// Debug output.
#define DPFLTR_IHVDRIVER_ID 77
#define DPFLTR_ERROR_LEVEL 0
#define DPFLTR_WARNING_LEVEL 1
#define DPFLTR_TRACE_LEVEL 2
#define DPFLTR_INFO_LEVEL 3
QX_EXTERN_C ULONG DbgPrint(PCSTR Format, ...) __attribute__((format(printf, 1, 2)));
QX_EXTERN_C ULONG DbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, ...)
    __attribute__((format(printf, 3, 4)));

// ---- Interlocked operations (compiler intrinsics on x64) ----------------------------------

FORCEINLINE LONG InterlockedIncrement(LONG volatile* Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedDecrement(LONG volatile* Addend) {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange,
                                            LONG Comparand) {
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comparand;
}
FORCEINLINE PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
FORCEINLINE PVOID InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange,
                                                    PVOID Comparand) {
    __atomic_compare_exchange_n(Destination, &Comparand, Exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return Comparand;
}
