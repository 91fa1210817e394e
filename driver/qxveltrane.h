// QXVeltrane: KMDF client driver of the antenna controller on the Simple
// Peripheral Bus. It publishes "\\.\QXSPB": one write is one bus write, one
// read is one bus read, and ten control codes cover the connection, bus and
// connection locks, combined transfers and the interrupt hand-over.
//
// Objects, one file each: driver.cpp (driver object), device.cpp (device,
// PnP/power, file clean-up), queue.cpp (request routing), bus.cpp (the bus
// connection and every bus transfer), interrupt.cpp (interrupt hand-over).
#pragma once

#include <ntddk.h>
#include <wdf.h>
#include <spb.h>

// Pool tag "QXX" (three characters and a zero byte), little-endian.
#define QX_POOL_TAG ((ULONG)'\0' << 24 | (ULONG)'X' << 16 | (ULONG)'X' << 8 | (ULONG)'Q')

// ---- User-mode interface --------------------------------------------------------

// The names and control codes user mode sees, shared with it.
#include "include/qxspb_public.h"

// What a bus operation, or the open, reports while the bus objects do not
// exist (a D0 entry that could not make them).
#define QX_STATUS_BUS_NOT_READY STATUS_DEVICE_NOT_READY

// The longest transfer, or part of a combined transfer, the driver takes to
// the bus. SPB controllers move a few kilobytes in one transfer at most, and
// the daemon's frames are 160 bytes; anything longer is refused with
// STATUS_INVALID_BUFFER_SIZE before it reaches the bus.
#define QX_MAX_TRANSFER_BYTES 4096

// How long the interrupt routine holds the line for user mode's
// acknowledgement. The framework disconnects the interrupt at every D0 exit
// and waits for a running routine, so the hold must end on its own.
#define QX_INTERRUPT_HOLD_MS 1000

// Idle in S0: the device cannot wake the system; it goes to D3 this long
// after the last user of the bus let it go. The power framework manages the
// time-out (on Windows 8 and later), taking this as its hint.
#define QX_IDLE_TIMEOUT_MS 5000

// ---- Contexts -----------------------------------------------------------------------

// A write-then-read or full-duplex transfer: the write entry, then the read entry.
typedef SPB_TRANSFER_LIST_AND_ENTRIES(2) QX_TRANSFER_LIST;
static_assert(sizeof(QX_TRANSFER_LIST) == 80, "two-entry transfer list");
static_assert(sizeof(SPB_TRANSFER_LIST) == 48, "one-entry transfer list");

typedef struct _DEVICE_CONTEXT_T {
    WDFDEVICE DeviceHandle;
    WDFQUEUE IoQueue;
    struct {
        ULONG LowPart;
        ULONG HighPart;
    } ConnectionId;
    WDFINTERRUPT InterruptObject;
    KEVENT InterruptEvent;
    BOOLEAN ConnectInterrupt;
    WDFIOTARGET BusTarget;
    WDFREQUEST BusRequest;
    WDFMEMORY TransferMemory;
    WDFREQUEST ClientRequest;
    WDFREQUEST WaitRequest;
    BOOLEAN BusReady;

    // Under TargetLock: BusTarget is open; it was open when the device last
    // left D0 (D0 entry opens it again); the device holds an idle reference
    // for the open connection, so that it stays in D0 while it is used.
    BOOLEAN BusOpened;
    BOOLEAN BusWasOpen;
    BOOLEAN IdleReferenceHeld;

    // Guards BusReady, ClientRequest and WaitRequest between the queues, the
    // completion and cancel routines and the interrupt routine.
    WDFSPINLOCK StateLock;
    // Serialises opening and closing BusTarget with D0 entry and with D0
    // exit's clearing of BusReady (passive level). D0 exit deletes the bus
    // objects after releasing it: by then BusReady keeps everyone else off.
    WDFWAITLOCK TargetLock;
    // Set while no bus operation holds BusRequest; D0 exit waits for it before
    // deleting the bus objects, because a late cancel routine may still name them.
    KEVENT BusIdleEvent;
    // Storage of the current combined transfer's list. It lives as long as
    // the device, so it outlives every bus request that reads it.
    QX_TRANSFER_LIST TransferList;
} DEVICE_CONTEXT_T, *PDEVICE_CONTEXT_T;

WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(DEVICE_CONTEXT_T, GetDeviceContext)

typedef struct _REQUEST_CONTEXT_T {
    WDFDEVICE DeviceHandle;
    BOOLEAN IsSequence;
    ULONG64 WriteLength;

    // On a client request whose bus operation is in flight: the bus completion
    // and the cancel routine each count this down once unmarking failed; the
    // one that reaches zero completes the request with the recorded outcome.
    LONG CompletionOwners;
    NTSTATUS BusStatus;
    ULONG_PTR BusInformation;
} REQUEST_CONTEXT_T, *PREQUEST_CONTEXT_T;

WDF_DECLARE_CONTEXT_TYPE_WITH_NAME(REQUEST_CONTEXT_T, GetRequestContext)

// ---- Tracing ----------------------------------------------------------------------

#define TRACE_DRIVER 0x1
#define TRACE_IO 0x2
#define QX_TRACE(flag, level, fmt, ...) \
    DbgPrintEx(DPFLTR_IHVDRIVER_ID, (level), "QXVeltrane[%u]: " fmt "\n", (unsigned)(flag), ##__VA_ARGS__)

// ---- Callbacks and operations ------------------------------------------------------

extern "C" DRIVER_INITIALIZE DriverEntry;
EVT_WDF_OBJECT_CONTEXT_CLEANUP OnDriverCleanup;
EVT_WDF_DRIVER_DEVICE_ADD OnDeviceAdd;
EVT_WDF_DEVICE_PREPARE_HARDWARE OnPrepareHardware;
EVT_WDF_DEVICE_RELEASE_HARDWARE OnReleaseHardware;
EVT_WDF_DEVICE_D0_ENTRY OnD0Entry;
EVT_WDF_DEVICE_D0_EXIT OnD0Exit;
EVT_WDF_FILE_CLEANUP OnFileCleanup;
EVT_WDF_IO_QUEUE_IO_DEFAULT OnTopLevelIoDefault;
EVT_WDF_IO_QUEUE_IO_READ OnIoREAD;
EVT_WDF_IO_QUEUE_IO_WRITE OnIoWRITE;
EVT_WDF_IO_QUEUE_IO_DEVICE_CONTROL OnIoDeviceControl;
EVT_WDF_IO_QUEUE_IO_STOP OnIoStop;
EVT_WDF_INTERRUPT_ISR OnInterruptIsr;
EVT_WDF_REQUEST_COMPLETION_ROUTINE OnBusRequestComplete;
EVT_WDF_REQUEST_CANCEL OnClientRequestCancel;
EVT_WDF_REQUEST_CANCEL OnWaitRequestCancel;

// Formats "\Device\RESOURCE_HUB\" and the 16-digit connection id into path
// (pathChars wide characters). Fails when the id cannot be formatted.
NTSTATUS BuildResourceHubPath(ULONG IdLowPart, ULONG IdHighPart, PWSTR Path, size_t PathChars);

NTSTATUS BusOpen(PDEVICE_CONTEXT_T DeviceContext);
// Opens BusTarget by the resource-hub path of ConnectionId; TargetLock held.
NTSTATUS OpenBusTargetLocked(PDEVICE_CONTEXT_T DeviceContext);
NTSTATUS BusClose(PDEVICE_CONTEXT_T DeviceContext);
VOID BusRead(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID BusWrite(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID BusLock(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID BusUnlock(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID BusLockConnection(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID BusUnlockConnection(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID BusWriteRead(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID BusFullDuplex(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
NTSTATUS SendBusRequest(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID CompleteClientRequest(PDEVICE_CONTEXT_T DeviceContext, NTSTATUS Status, ULONG_PTR Information);

VOID SignalInterrupt(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
VOID WaitOnInterrupt(PDEVICE_CONTEXT_T DeviceContext, WDFREQUEST Request);
BOOLEAN NotifyInterruptWaiter(PDEVICE_CONTEXT_T DeviceContext);
