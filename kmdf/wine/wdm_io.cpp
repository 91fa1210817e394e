// The kernel half of WDFLDR.SYS under Wine, over MinGW's DDK headers: the
// I/O manager's end of the framework. The framework owns the client's
// driver object, as KMDF does on Windows: its dispatch routines are ours,
// and every IRP becomes a request of the framework (fx_wine.cpp); what the
// framework completes goes back to the IRP. Remote I/O targets open a real
// device object by name and send it real IRPs.
//
// Wine's IoGetDeviceObjectPointer is a stub and ObReferenceObjectByHandle
// does not know device files, so a target cannot reach the device object
// and call it as the framework does on Windows; it sends its requests
// through the handle instead (ZwReadFile, ZwWriteFile, ZwDeviceIoControlFile,
// cancelled with NtCancelIoFileEx), and Wine's I/O manager makes the IRPs.
// That takes the target's device in the same winedevice process (a shared
// service group), where the pointers inside an SPB transfer list mean what
// they mean in the kernel.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntifs.h>
#include <ntimage.h>

#include "kmdf/wine/fx_control.h"
#include "kmdf/wine/fx_wine.h"

extern "C" {
NTSYSAPI NTSTATUS NTAPI NtCancelIoFileEx(HANDLE File, PIO_STATUS_BLOCK Request,
                                         PIO_STATUS_BLOCK Status);
__declspec(dllimport) int __stdcall VirtualProtect(void* address, SIZE_T size, ULONG protect,
                                                   ULONG* old);
}

namespace kmdfwine {

namespace {

constexpr ULONG kPageReadWrite = 0x04;

// The framework half defines the kernel routines the simulation plays for a
// driver on the host (events, waits, RtlInitUnicodeString, DbgPrint): this
// half calls none of them, so that the image has one definition of each and
// this half reaches the real kernel only.
void InitName(PUNICODE_STRING name, PCWSTR text) {
    size_t n = 0;
    while (text[n] != 0) n++;
    name->Buffer = const_cast<PWSTR>(text);
    name->Length = static_cast<USHORT>(n * sizeof(WCHAR));
    name->MaximumLength = static_cast<USHORT>((n + 1) * sizeof(WCHAR));
}

struct Extension {
    bool control;
    void* context;  // the framework half's record of the device
    UNICODE_STRING link;
    WCHAR linkBuffer[128];
};

PDRIVER_OBJECT g_driver;
PDEVICE_OBJECT g_control;
const WCHAR kControlName[] = L"\\Device\\QXKMDFCTL";
const WCHAR kControlLink[] = L"\\DosDevices\\QXKMDFCTL";

NTSTATUS CompleteNow(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// The IRP's cancel routine: holds the framework's record past the cancel
// spin lock, which CompleteIrp takes before it lets the IRP go.
VOID OnCancel(PDEVICE_OBJECT, PIRP irp) {
    Io* io = static_cast<Io*>(irp->Tail.Overlay.DriverContext[0]);
    RefIo(io);
    IoReleaseCancelSpinLock(irp->CancelIrql);
    CancelIo(io);
    UnrefIo(io);
}

// Buffered I/O: Wine's system buffer holds a write's bytes and a control
// code's input, and receives a read's bytes and a control code's output;
// METHOD_NEITHER passes the caller's buffers.
void Buffers(PIRP irp, PIO_STACK_LOCATION sp, IoParams* p) {
    auto* system = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    switch (sp->MajorFunction) {
        case IRP_MJ_READ:
            p->out = system != nullptr ? system : static_cast<uint8_t*>(irp->UserBuffer);
            p->outLength = p->out != nullptr ? sp->Parameters.Read.Length : 0;
            break;
        case IRP_MJ_WRITE:
            p->in = system != nullptr ? system : static_cast<uint8_t*>(irp->UserBuffer);
            p->inLength = p->in != nullptr ? sp->Parameters.Write.Length : 0;
            break;
        case IRP_MJ_DEVICE_CONTROL: {
            const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
            p->code = code;
            if ((code & 3) == METHOD_NEITHER) {
                p->in = static_cast<uint8_t*>(sp->Parameters.DeviceIoControl.Type3InputBuffer);
                p->out = static_cast<uint8_t*>(irp->UserBuffer);
            } else {
                p->in = system;
                p->out = system;
            }
            p->inLength = p->in != nullptr ? sp->Parameters.DeviceIoControl.InputBufferLength : 0;
            p->outLength =
                p->out != nullptr ? sp->Parameters.DeviceIoControl.OutputBufferLength : 0;
            break;
        }
        default:
            break;
    }
}

NTSTATUS Queue(PIRP irp, const IoParams& params, bool cancelable) {
    Io* io = NewIo(params, irp);
    IoMarkIrpPending(irp);
    irp->Tail.Overlay.DriverContext[0] = io;
    if (cancelable) {
        (void)IoSetCancelRoutine(irp, OnCancel);
        // Cancelled before the routine was in place: nobody called it.
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) CancelIo(io);
    }
    StartIo(io);
    return STATUS_PENDING;
}

NTSTATUS DispatchControl(PIRP irp, PIO_STACK_LOCATION sp) {
    if (sp->MajorFunction == IRP_MJ_CREATE || sp->MajorFunction == IRP_MJ_CLOSE ||
        sp->MajorFunction == IRP_MJ_CLEANUP) {
        return CompleteNow(irp, STATUS_SUCCESS, 0);
    }
    if (sp->MajorFunction != IRP_MJ_DEVICE_CONTROL)
        return CompleteNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    IoParams p = {};
    p.kind = IoKind::Control;
    Buffers(irp, sp, &p);
    int32_t status = STATUS_SUCCESS;
    size_t information = 0;
    if (ControlNow(p.code, p.in, p.inLength, p.out, p.outLength, &status, &information))
        return CompleteNow(irp, status, information);
    // A PnP operation waits its turn behind the IRPs before it.
    return Queue(irp, p, false);
}

NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(irp);
    if (ext == nullptr) return CompleteNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (ext->control) return DispatchControl(irp, sp);
    IoParams p = {};
    p.device = ext->context;
    p.fileContext = sp->FileObject != nullptr ? &sp->FileObject->FsContext : nullptr;
    bool cancelable = false;
    switch (sp->MajorFunction) {
        case IRP_MJ_CREATE:
            p.kind = IoKind::Create;
            p.inNamespace = sp->FileObject != nullptr && sp->FileObject->FileName.Length > 0;
            break;
        case IRP_MJ_CLEANUP:
            p.kind = IoKind::Cleanup;
            break;
        case IRP_MJ_CLOSE:
            p.kind = IoKind::Close;
            break;
        case IRP_MJ_READ:
            p.kind = IoKind::Read;
            cancelable = true;
            break;
        case IRP_MJ_WRITE:
            p.kind = IoKind::Write;
            cancelable = true;
            break;
        case IRP_MJ_DEVICE_CONTROL:
            p.kind = IoKind::Control;
            cancelable = true;
            break;
        default:
            return CompleteNow(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    }
    if (p.fileContext == nullptr) return CompleteNow(irp, STATUS_INVALID_HANDLE, 0);
    Buffers(irp, sp, &p);
    return Queue(irp, p, cancelable);
}

PDEVICE_OBJECT NewDevice(PCWSTR name, PCWSTR link, ULONG characteristics, bool control,
                         void* context, NTSTATUS* status) {
    UNICODE_STRING deviceName;
    InitName(&deviceName, name);
    PDEVICE_OBJECT device = nullptr;
    *status = IoCreateDevice(g_driver, sizeof(Extension), &deviceName, FILE_DEVICE_UNKNOWN,
                             characteristics, FALSE, &device);
    if (!NT_SUCCESS(*status)) return nullptr;
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    RtlZeroMemory(ext, sizeof(*ext));
    ext->control = control;
    ext->context = context;
    ext->link.Buffer = ext->linkBuffer;
    ext->link.MaximumLength = sizeof(ext->linkBuffer);
    if (link != nullptr) {
        UNICODE_STRING source;
        InitName(&source, link);
        RtlCopyUnicodeString(&ext->link, &source);
        if (ext->link.Length != source.Length) {
            *status = STATUS_NAME_TOO_LONG;
        } else {
            *status = IoCreateSymbolicLink(&ext->link, &deviceName);
        }
        if (!NT_SUCCESS(*status)) {
            ext->link.Length = 0;
            IoDeleteDevice(device);
            return nullptr;
        }
    }
    device->Flags |= DO_BUFFERED_IO;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    return device;
}

void RemoveDevice(PDEVICE_OBJECT device) {
    auto* ext = static_cast<Extension*>(device->DeviceExtension);
    if (ext->link.Length != 0) IoDeleteSymbolicLink(&ext->link);
    IoDeleteDevice(device);
}

// ---- The verifier's thunks -----------------------------------------------------------

typedef NTSTATUS(NTAPI* KeWaitForSingleObjectFn)(PVOID, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                                                 PLARGE_INTEGER);
KeWaitForSingleObjectFn g_kernelWait;

NTSTATUS NTAPI VerifiedWait(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                            BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
    CheckKernelWait(Timeout != nullptr && Timeout->QuadPart == 0);
    return g_kernelWait(Object, WaitReason, WaitMode, Alertable, Timeout);
}

bool SameName(const char* a, const char* b) {
    for (; *a != 0 && *b != 0; a++, b++) {
        char x = *a >= 'A' && *a <= 'Z' ? static_cast<char>(*a - 'A' + 'a') : *a;
        char y = *b >= 'A' && *b <= 'Z' ? static_cast<char>(*b - 'A' + 'a') : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

// The image's kernel waits go through the framework's IRQL check first, as
// Driver Verifier thunks the imports of a verified driver.
NTSTATUS ThunkImports(PVOID image) {
    auto* base = static_cast<uint8_t*>(image);
    auto* dos = reinterpret_cast<PIMAGE_DOS_HEADER>(base);
    if (base == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE) return STATUS_INVALID_IMAGE_FORMAT;
    auto* nt = reinterpret_cast<PIMAGE_NT_HEADERS64>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return STATUS_INVALID_IMAGE_FORMAT;
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return STATUS_SUCCESS;
    for (auto* d = reinterpret_cast<PIMAGE_IMPORT_DESCRIPTOR>(base + dir.VirtualAddress);
         d->Name != 0; d++) {
        if (!SameName(reinterpret_cast<const char*>(base + d->Name), "ntoskrnl.exe")) continue;
        auto* names = reinterpret_cast<PIMAGE_THUNK_DATA64>(base + d->OriginalFirstThunk);
        auto* slots = reinterpret_cast<PIMAGE_THUNK_DATA64>(base + d->FirstThunk);
        for (; names->u1.AddressOfData != 0; names++, slots++) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<PIMAGE_IMPORT_BY_NAME>(base + names->u1.AddressOfData);
            if (!SameName(reinterpret_cast<const char*>(byName->Name), "KeWaitForSingleObject"))
                continue;
            ULONG old = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), kPageReadWrite,
                                &old))
                return STATUS_ACCESS_DENIED;
            g_kernelWait = reinterpret_cast<KeWaitForSingleObjectFn>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONGLONG>(&VerifiedWait);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), old, &old);
        }
    }
    return STATUS_SUCCESS;
}

void (*g_unload)(void*);

VOID NTAPI UnloadThunk(PDRIVER_OBJECT driver) {
    g_unload(driver);
}

}  // namespace

// ---- The bridge -------------------------------------------------------------------------

void CompleteIrp(void* irpPointer, Io* io, int32_t status, size_t information) {
    auto* irp = static_cast<PIRP>(irpPointer);
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    (void)IoSetCancelRoutine(irp, nullptr);
    IoReleaseCancelSpinLock(irql);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = NT_SUCCESS(status) ? information : 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    UnrefIo(io);
}

void* CreateDevice(const wchar_t* name, const wchar_t* link, uint32_t characteristics,
                   void* context, int32_t* status) {
    NTSTATUS s;
    PDEVICE_OBJECT device = NewDevice(name, link, characteristics, false, context, &s);
    *status = s;
    return device;
}

void DeleteDevice(void* device) {
    RemoveDevice(static_cast<PDEVICE_OBJECT>(device));
}

int32_t AttachDriver(void* driverObject) {
    g_driver = static_cast<PDRIVER_OBJECT>(driverObject);
    NTSTATUS status = ThunkImports(g_driver->DriverStart);
    if (!NT_SUCCESS(status)) return status;
    for (ULONG i = 0; i <= IRP_MJ_MAXIMUM_FUNCTION; i++) g_driver->MajorFunction[i] = Dispatch;
    g_control = NewDevice(kControlName, kControlLink, 0, true, nullptr, &status);
    return status;
}

void DetachDriver() {
    if (g_control != nullptr) RemoveDevice(g_control);
    g_control = nullptr;
}

void DisplaceUnload(void (*unload)(void* driverObject), void (**previous)(void* driverObject)) {
    *previous = reinterpret_cast<void (*)(void*)>(g_driver->DriverUnload);
    g_unload = unload;
    g_driver->DriverUnload = UnloadThunk;
}

// ---- Remote I/O targets ------------------------------------------------------------------

namespace {

// Wine waits on at most 64 objects at once: the wake-up event and the rest.
constexpr ULONG kMaxIssued = 63;

struct Op {
    Op* next;
    void* context;
    uint64_t id;
    TargetOp kind;
    ULONG ioctl;
    void* buffer;
    ULONG length;
    HANDLE event;
    IO_STATUS_BLOCK iosb;
    bool issued;
    bool cancelled;     // asked for; before the issue it is never sent
    bool cancelIssued;  // NtCancelIoFileEx made
    bool done;          // finished at once (no wait)
    NTSTATUS doneStatus;
};

}  // namespace

// Every call into Wine's I/O manager for the target's handle is made on its
// own thread: Wine finishes an asynchronous request in the thread that made
// it (the result arrives as an APC while that thread waits), and this one
// waits for nothing else.
struct Target {
    HANDLE file;
    HANDLE thread;
    HANDLE wake;
    KSPIN_LOCK lock;
    bool stop;
    Op* ops;  // in the order they were sent
};

namespace {

void Wake(Target* t) {
    ZwSetEvent(t->wake, nullptr);
}

NTSTATUS Issue(Target* t, Op* op) {
    switch (op->kind) {
        case TargetOp::Read:
            return ZwReadFile(t->file, op->event, nullptr, nullptr, &op->iosb, op->buffer,
                              op->length, nullptr, nullptr);
        case TargetOp::Write:
            return ZwWriteFile(t->file, op->event, nullptr, nullptr, &op->iosb, op->buffer,
                               op->length, nullptr, nullptr);
        default:
            // The framework's internal control request: the input memory is
            // the whole buffer, nothing comes back through an output buffer.
            return ZwDeviceIoControlFile(t->file, op->event, nullptr, nullptr, &op->iosb, op->ioctl,
                                         op->buffer, op->length, nullptr, 0);
    }
}

void Unlink(Target* t, Op* op) {
    for (Op** p = &t->ops; *p != nullptr; p = &(*p)->next) {
        if (*p == op) {
            *p = op->next;
            return;
        }
    }
}

void Finish(Op* op, NTSTATUS status, ULONG_PTR information) {
    void* context = op->context;
    if (op->event != nullptr) ZwClose(op->event);
    delete op;
    TargetDone(context, status, information);
}

VOID NTAPI TargetThread(PVOID parameter) {
    auto* t = static_cast<Target*>(parameter);
    for (;;) {
        // Issue what was sent, cancel what was asked, and finish at once
        // what never went down.
        Op* finished = nullptr;
        HANDLE handles[kMaxIssued + 1];
        Op* waiting[kMaxIssued + 1];
        ULONG count = 1;
        handles[0] = t->wake;
        KIRQL irql;
        KeAcquireSpinLock(&t->lock, &irql);
        Op* toIssue = nullptr;
        for (Op* op = t->ops; op != nullptr; op = op->next) {
            if (!op->issued && toIssue == nullptr) toIssue = op;
        }
        if (toIssue != nullptr) toIssue->issued = true;
        KeReleaseSpinLock(&t->lock, irql);
        if (toIssue != nullptr) {
            bool cancelled;
            KeAcquireSpinLock(&t->lock, &irql);
            cancelled = toIssue->cancelled;
            KeReleaseSpinLock(&t->lock, irql);
            NTSTATUS status = cancelled ? STATUS_CANCELLED : Issue(t, toIssue);
            // Failed before an IRP went down: nothing will signal its event.
            if (status != STATUS_PENDING && !NT_SUCCESS(status)) {
                KeAcquireSpinLock(&t->lock, &irql);
                toIssue->done = true;
                toIssue->doneStatus = status;
                KeReleaseSpinLock(&t->lock, irql);
            }
            continue;  // issue the next one before waiting
        }
        bool stop;
        KeAcquireSpinLock(&t->lock, &irql);
        stop = t->stop && t->ops == nullptr;
        for (Op* op = t->ops; op != nullptr; op = op->next) {
            if (op->done) {
                finished = op;
                break;
            }
            if (op->cancelled && !op->cancelIssued) {
                op->cancelIssued = true;
                finished = op;  // marks a cancel to make, below
                break;
            }
        }
        if (finished != nullptr && finished->done) Unlink(t, finished);
        if (finished == nullptr) {
            for (Op* op = t->ops; op != nullptr && count <= kMaxIssued; op = op->next) {
                handles[count] = op->event;
                waiting[count] = op;
                count++;
            }
        }
        KeReleaseSpinLock(&t->lock, irql);
        if (stop) break;
        if (finished != nullptr) {
            if (finished->done) {
                Finish(finished, finished->doneStatus, 0);
            } else {
                IO_STATUS_BLOCK ignored;
                NtCancelIoFileEx(t->file, &finished->iosb, &ignored);
            }
            continue;
        }
        NTSTATUS wait = ZwWaitForMultipleObjects(count, handles, WaitAny, FALSE, nullptr);
        const ULONG index = static_cast<ULONG>(wait - STATUS_WAIT_0);
        if (wait < STATUS_WAIT_0 || index >= count) {
            // Never seen; a wait that fails must not spin.
            LARGE_INTEGER pause;
            pause.QuadPart = -10 * 10000;
            KeDelayExecutionThread(KernelMode, FALSE, &pause);
            continue;
        }
        if (index == 0) continue;
        Op* op = waiting[index];
        KeAcquireSpinLock(&t->lock, &irql);
        Unlink(t, op);
        KeReleaseSpinLock(&t->lock, irql);
        Finish(op, op->iosb.Status, op->iosb.Information);
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

}  // namespace

int32_t OpenTarget(const TargetOpen& open, Target** target) {
    *target = nullptr;
    UNICODE_STRING name;
    name.Buffer = const_cast<PWCH>(open.name);
    name.Length = static_cast<USHORT>(open.nameChars * sizeof(WCHAR));
    name.MaximumLength = name.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    IO_STATUS_BLOCK iosb;
    HANDLE file = nullptr;
    // Wine opens the handle before the device sees its create, so a device
    // that refuses the create refuses every request of the handle instead.
    NTSTATUS status =
        ZwCreateFile(&file, open.desiredAccess, &attributes, &iosb, nullptr, open.fileAttributes,
                     open.shareAccess, open.createDisposition, open.createOptions, nullptr, 0);
    if (!NT_SUCCESS(status)) return status;
    auto* t = new Target();
    t->file = file;
    t->stop = false;
    t->ops = nullptr;
    KeInitializeSpinLock(&t->lock);
    OBJECT_ATTRIBUTES none;
    InitializeObjectAttributes(&none, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    status = ZwCreateEvent(&t->wake, EVENT_ALL_ACCESS, &none, SynchronizationEvent, FALSE);
    if (NT_SUCCESS(status)) {
        status = PsCreateSystemThread(&t->thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                      TargetThread, t);
        if (!NT_SUCCESS(status)) ZwClose(t->wake);
    }
    if (!NT_SUCCESS(status)) {
        ZwClose(file);
        delete t;
        return status;
    }
    *target = t;
    return STATUS_SUCCESS;
}

void SendTarget(Target* t, void* context, uint64_t id, TargetOp kind, uint32_t ioctl, void* buffer,
                size_t length) {
    auto* op = new Op();
    RtlZeroMemory(op, sizeof(*op));
    op->context = context;
    op->id = id;
    op->kind = kind;
    op->ioctl = ioctl;
    op->buffer = buffer;
    op->length = static_cast<ULONG>(length);
    OBJECT_ATTRIBUTES none;
    InitializeObjectAttributes(&none, nullptr, OBJ_KERNEL_HANDLE, nullptr, nullptr);
    NTSTATUS status = ZwCreateEvent(&op->event, EVENT_ALL_ACCESS, &none, NotificationEvent, FALSE);
    KIRQL irql;
    KeAcquireSpinLock(&t->lock, &irql);
    ULONG inFlight = 0;
    Op** tail = &t->ops;
    for (; *tail != nullptr; tail = &(*tail)->next) inFlight++;
    if (!NT_SUCCESS(status) || inFlight >= kMaxIssued) {
        op->issued = true;
        op->done = true;
        op->doneStatus = NT_SUCCESS(status) ? STATUS_INSUFFICIENT_RESOURCES : status;
    }
    *tail = op;
    KeReleaseSpinLock(&t->lock, irql);
    Wake(t);
}

void CancelTarget(Target* t, void* context, uint64_t id) {
    KIRQL irql;
    KeAcquireSpinLock(&t->lock, &irql);
    for (Op* op = t->ops; op != nullptr; op = op->next) {
        if (op->context == context && op->id == id) op->cancelled = true;
    }
    KeReleaseSpinLock(&t->lock, irql);
    Wake(t);
}

void CloseTarget(Target* t) {
    KIRQL irql;
    KeAcquireSpinLock(&t->lock, &irql);
    t->stop = true;
    KeReleaseSpinLock(&t->lock, irql);
    Wake(t);
    ZwWaitForSingleObject(t->thread, FALSE, nullptr);
    ZwClose(t->thread);
    ZwClose(t->wake);
    ZwClose(t->file);
    delete t;
}

}  // namespace kmdfwine
