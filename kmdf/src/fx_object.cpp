// Objects, contexts, locks, memory, registry, resource lists and the kernel
// routines (events, interlocked operations, strings, debug output).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "kmdf/src/fx.h"
#include <ntstrsafe.h>

namespace kmdfsim {

namespace {
std::mutex g_logMutex;
std::vector<std::string> g_prints;
std::vector<std::string> g_violations;
std::mutex g_eventMutex;
std::condition_variable g_eventCv;
bool g_settingsPresent = false;
std::optional<ULONG> g_connectInterrupt;
}  // namespace

FxState& Fx() {
    static FxState state;
    return state;
}

void Violation(const std::string& what) {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_violations.push_back(what);
    fprintf(stderr, "kmdfsim violation: %s\n", what.c_str());
}

namespace {
thread_local KIRQL t_irql = PASSIVE_LEVEL;
}  // namespace

KIRQL CurrentIrql() {
    return t_irql;
}
void SetIrql(KIRQL irql) {
    t_irql = irql;
}

bool CheckIrql(const char* api, KIRQL highest) {
    if (t_irql <= highest) return true;
    Violation(std::string(api) + " called at IRQL " + std::to_string(t_irql) +
              ", above its highest IRQL " + std::to_string(highest));
    return false;
}

bool PassiveLevel(const Object* o) {
    for (; o != nullptr; o = o->parent) {
        if (o->executionLevel == WdfExecutionLevelPassive) return true;
        if (o->executionLevel == WdfExecutionLevelDispatch) return false;
    }
    return false;
}

void Trace(const char* fmt, ...) {
    static const bool on = getenv("KMDFSIM_TRACE") != nullptr;
    if (!on) return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stderr, fmt, ap);
    va_end(ap);
}

std::vector<std::string> DbgPrints() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_prints;
}

void ClearDbgPrints() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_prints.clear();
}

std::vector<std::string> Violations() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    return g_violations;
}

void ClearLogs() {
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_prints.clear();
    g_violations.clear();
}

size_t LiveObjects() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().live.size();
}

size_t DriverObjectsCreated() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().driverCreated;
}

size_t OutstandingRequests() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().outstanding;
}

Object::~Object() {
    free(ctx);
}

void Attach(Object* o, Object* defaultParent, PWDF_OBJECT_ATTRIBUTES attributes) {
    Object* parent = defaultParent;
    if (attributes != nullptr) {
        if (attributes->Size != sizeof(WDF_OBJECT_ATTRIBUTES)) {
            Violation("object attributes not initialised");
        }
        if (attributes->ParentObject != nullptr) {
            parent = static_cast<Object*>(attributes->ParentObject);
        }
        o->cleanup = attributes->EvtCleanupCallback;
        o->destroy = attributes->EvtDestroyCallback;
        o->executionLevel = attributes->ExecutionLevel;
        if (attributes->ContextTypeInfo != nullptr) {
            o->ctxType = attributes->ContextTypeInfo->UniqueType;
            size_t size = attributes->ContextSizeOverride > o->ctxType->ContextSize
                              ? attributes->ContextSizeOverride
                              : o->ctxType->ContextSize;
            o->ctx = calloc(1, size);
        }
    }
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (parent != nullptr) {
        if (Fx().live.count(parent) == 0) {
            Violation("parent object is not alive");
            parent = nullptr;
        } else {
            parent->children.push_back(o);
        }
    }
    o->parent = parent;
    Fx().live.insert(o);
    bool frameworkOwned = o->kind == Kind::File || o->kind == Kind::ResList ||
                          (o->kind == Kind::Request && !static_cast<Request*>(o)->driverCreated);
    if (!frameworkOwned) Fx().driverCreated++;
}

void DeleteTree(Object* o) {
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (o->deleting) return;
        o->deleting = true;
    }
    o->Teardown();
    std::vector<Object*> children;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        children = o->children;
    }
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        DeleteTree(*it);
    }
    if (o->cleanup != nullptr) o->cleanup(o);
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (o->parent != nullptr) {
            auto& siblings = o->parent->children;
            for (size_t i = 0; i < siblings.size(); i++) {
                if (siblings[i] == o) {
                    siblings.erase(siblings.begin() + static_cast<long>(i));
                    break;
                }
            }
        }
        Fx().live.erase(o);
    }
    if (o->destroy != nullptr) o->destroy(o);
    delete o;
}

void SetSettingsKey(bool present) {
    g_settingsPresent = present;
}
void SetConnectInterrupt(std::optional<ULONG> value) {
    g_connectInterrupt = value;
}
bool SettingsKeyPresent() {
    return g_settingsPresent;
}
std::optional<ULONG> ConnectInterruptValue() {
    return g_connectInterrupt;
}

}  // namespace kmdfsim

namespace kmdfsim::fx {

// ---- Objects --------------------------------------------------------------------------

PVOID WdfObjectGetTypedContextWorker(WDFOBJECT Handle, PCWDF_OBJECT_CONTEXT_TYPE_INFO TypeInfo) {
    auto* o = static_cast<Object*>(Handle);
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (o == nullptr || Fx().live.count(o) == 0) {
        Violation(std::string("context of a deleted object, type ") + TypeInfo->ContextName);
        return nullptr;
    }
    if (o->ctxType != TypeInfo->UniqueType) {
        Violation(std::string("object has no context of type ") + TypeInfo->ContextName);
        return nullptr;
    }
    return o->ctx;
}

VOID WdfObjectDelete(WDFOBJECT Object) {
    auto* o = static_cast<kmdfsim::Object*>(Object);
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (o == nullptr || Fx().live.count(o) == 0) {
            Violation("WdfObjectDelete: invalid or deleted handle");
            return;
        }
        if (o->kind == Kind::Request) {
            auto* r = static_cast<Request*>(o);
            if (!r->driverCreated) {
                Violation("WdfObjectDelete of a request the framework delivered");
                return;
            }
            if (r->state == ReqState::Sent) {
                Violation("WdfObjectDelete of a request still sent to a target");
            }
        }
        if (o->kind == Kind::Device || o->kind == Kind::Driver || o->kind == Kind::File) {
            Violation("WdfObjectDelete of a framework-owned object");
            return;
        }
    }
    DeleteTree(o);
}

// ---- Locks ------------------------------------------------------------------------------

NTSTATUS WdfSpinLockCreate(PWDF_OBJECT_ATTRIBUTES SpinLockAttributes, WDFSPINLOCK* SpinLock) {
    auto* l = new kmdfsim::SpinLock();
    Attach(l, Fx().driver, SpinLockAttributes);
    *SpinLock = reinterpret_cast<WDFSPINLOCK>(static_cast<Object*>(l));
    return STATUS_SUCCESS;
}

VOID WdfSpinLockAcquire(WDFSPINLOCK SpinLock) {
    auto* l = Checked<kmdfsim::SpinLock>(SpinLock, Kind::SpinLock, "WdfSpinLockAcquire");
    if (l == nullptr) return;
    if (l->owner.load() == std::this_thread::get_id()) {
        // On Windows the processor spins on itself for ever.
        Violation("WdfSpinLockAcquire of a spin lock this thread already holds (deadlock)");
        return;
    }
    KIRQL before = CurrentIrql();
    l->m.lock();
    l->owner = std::this_thread::get_id();
    l->savedIrql = before;
    SetIrql(DISPATCH_LEVEL);
}

VOID WdfSpinLockRelease(WDFSPINLOCK SpinLock) {
    auto* l = Checked<kmdfsim::SpinLock>(SpinLock, Kind::SpinLock, "WdfSpinLockRelease");
    if (l == nullptr) return;
    if (l->owner.load() != std::this_thread::get_id()) {
        Violation("WdfSpinLockRelease of a spin lock this thread does not hold");
        return;
    }
    if (CurrentIrql() != DISPATCH_LEVEL)
        Violation("WdfSpinLockRelease below DISPATCH_LEVEL: the IRQL was lowered while holding it");
    KIRQL restore = l->savedIrql;
    l->owner = std::thread::id();
    l->m.unlock();
    SetIrql(restore);
}

NTSTATUS WdfWaitLockCreate(PWDF_OBJECT_ATTRIBUTES LockAttributes, WDFWAITLOCK* Lock) {
    auto* l = new kmdfsim::WaitLock();
    Attach(l, Fx().driver, LockAttributes);
    *Lock = reinterpret_cast<WDFWAITLOCK>(static_cast<Object*>(l));
    return STATUS_SUCCESS;
}

NTSTATUS WdfWaitLockAcquire(WDFWAITLOCK Lock, PLONGLONG Timeout) {
    auto* l = Checked<kmdfsim::WaitLock>(Lock, Kind::WaitLock, "WdfWaitLockAcquire");
    if (l == nullptr) return STATUS_INVALID_PARAMETER;
    bool poll = Timeout != nullptr && *Timeout == 0;
    // Waiting is for PASSIVE_LEVEL; only a poll may run up to DISPATCH_LEVEL.
    CheckIrql(poll ? "WdfWaitLockAcquire (zero time-out)" : "WdfWaitLockAcquire",
              poll ? DISPATCH_LEVEL : PASSIVE_LEVEL);
    if (l->owner.load() == std::this_thread::get_id()) {
        // Wait locks do not nest: the thread would wait on itself for ever.
        Violation("WdfWaitLockAcquire of a wait lock this thread already holds (deadlock)");
        return poll ? STATUS_TIMEOUT : STATUS_INVALID_DEVICE_STATE;
    }
    if (poll) {
        if (!l->m.try_lock()) return STATUS_TIMEOUT;
    } else {
        l->m.lock();
    }
    l->owner = std::this_thread::get_id();
    return STATUS_SUCCESS;
}

VOID WdfWaitLockRelease(WDFWAITLOCK Lock) {
    auto* l = Checked<kmdfsim::WaitLock>(Lock, Kind::WaitLock, "WdfWaitLockRelease");
    if (l == nullptr) return;
    if (l->owner.load() != std::this_thread::get_id()) {
        Violation("WdfWaitLockRelease of a wait lock this thread does not hold");
        return;
    }
    l->owner = std::thread::id();
    l->m.unlock();
}

// ---- Memory -------------------------------------------------------------------------------

NTSTATUS WdfMemoryCreatePreallocated(PWDF_OBJECT_ATTRIBUTES Attributes, PVOID Buffer,
                                     size_t BufferSize, WDFMEMORY* Memory) {
    if (Buffer == nullptr || BufferSize == 0) return STATUS_INVALID_PARAMETER;
    auto* m = new kmdfsim::Memory();
    m->buffer = Buffer;
    m->length = BufferSize;
    Attach(m, Fx().driver, Attributes);
    *Memory = reinterpret_cast<WDFMEMORY>(static_cast<Object*>(m));
    return STATUS_SUCCESS;
}

// ---- Registry --------------------------------------------------------------------------------

namespace {
std::wstring FromUnicode(PCUNICODE_STRING s) {
    if (s == nullptr || s->Buffer == nullptr) return std::wstring();
    return std::wstring(s->Buffer, s->Length / sizeof(WCHAR));
}

WDFKEY NewKey(Object* parent, PWDF_OBJECT_ATTRIBUTES attributes, const std::wstring& path) {
    auto* k = new Key();
    k->path = path;
    Attach(k, parent, attributes);
    return reinterpret_cast<WDFKEY>(static_cast<Object*>(k));
}
}  // namespace

NTSTATUS WdfDeviceOpenRegistryKey(WDFDEVICE Device, ULONG DeviceInstanceKeyType,
                                  ACCESS_MASK DesiredAccess, PWDF_OBJECT_ATTRIBUTES KeyAttributes,
                                  WDFKEY* Key) {
    CheckIrql("WdfDeviceOpenRegistryKey", PASSIVE_LEVEL);
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfDeviceOpenRegistryKey");
    *Key = nullptr;
    if (d == nullptr || DeviceInstanceKeyType != PLUGPLAY_REGKEY_DEVICE)
        return STATUS_INVALID_PARAMETER;
    if ((DesiredAccess & ~static_cast<ACCESS_MASK>(KEY_READ)) != 0) return STATUS_ACCESS_DENIED;
    *Key = NewKey(d, KeyAttributes, L"Device Parameters");
    return STATUS_SUCCESS;
}

NTSTATUS WdfRegistryOpenKey(WDFKEY ParentKey, PCUNICODE_STRING KeyName, ACCESS_MASK DesiredAccess,
                            PWDF_OBJECT_ATTRIBUTES KeyAttributes, WDFKEY* Key) {
    CheckIrql("WdfRegistryOpenKey", PASSIVE_LEVEL);
    auto* parent = Checked<kmdfsim::Key>(ParentKey, Kind::Key, "WdfRegistryOpenKey");
    *Key = nullptr;
    if (parent == nullptr) return STATUS_INVALID_PARAMETER;
    if ((DesiredAccess & ~static_cast<ACCESS_MASK>(KEY_READ)) != 0) return STATUS_ACCESS_DENIED;
    std::wstring name = FromUnicode(KeyName);
    if (parent->path != L"Device Parameters" || name != L"Settings" || !SettingsKeyPresent()) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    *Key = NewKey(Fx().driver, KeyAttributes, L"Device Parameters\\Settings");
    return STATUS_SUCCESS;
}

NTSTATUS WdfRegistryQueryULong(WDFKEY Key, PCUNICODE_STRING ValueName, PULONG Value) {
    CheckIrql("WdfRegistryQueryULong", PASSIVE_LEVEL);
    auto* k = Checked<kmdfsim::Key>(Key, Kind::Key, "WdfRegistryQueryULong");
    if (k == nullptr) return STATUS_INVALID_PARAMETER;
    auto value = ConnectInterruptValue();
    if (k->path != L"Device Parameters\\Settings" ||
        FromUnicode(ValueName) != L"ConnectInterrupt" || !value) {
        return STATUS_OBJECT_NAME_NOT_FOUND;
    }
    *Value = *value;
    return STATUS_SUCCESS;
}

VOID WdfRegistryClose(WDFKEY Key) {
    CheckIrql("WdfRegistryClose", PASSIVE_LEVEL);
    auto* k = Checked<kmdfsim::Key>(Key, Kind::Key, "WdfRegistryClose");
    if (k != nullptr) DeleteTree(k);
}

// ---- Resource lists ----------------------------------------------------------------------------

ULONG WdfCmResourceListGetCount(WDFCMRESLIST List) {
    auto* l = Checked<ResList>(List, Kind::ResList, "WdfCmResourceListGetCount");
    return l == nullptr ? 0 : static_cast<ULONG>(l->items.size());
}

PCM_PARTIAL_RESOURCE_DESCRIPTOR WdfCmResourceListGetDescriptor(WDFCMRESLIST List, ULONG Index) {
    auto* l = Checked<ResList>(List, Kind::ResList, "WdfCmResourceListGetDescriptor");
    if (l == nullptr || Index >= l->items.size()) return nullptr;
    return &l->items[Index];
}

// ---- Table entries ----------------------------------------------------------------------

void AddObjectMethods(MethodTable& table) {
    FX_METHOD(table, WdfObjectGetTypedContextWorker, PFN_WDFOBJECTGETTYPEDCONTEXTWORKER);
    FX_METHOD(table, WdfObjectDelete, PFN_WDFOBJECTDELETE);
    FX_METHOD(table, WdfSpinLockCreate, PFN_WDFSPINLOCKCREATE);
    FX_METHOD(table, WdfSpinLockAcquire, PFN_WDFSPINLOCKACQUIRE);
    FX_METHOD(table, WdfSpinLockRelease, PFN_WDFSPINLOCKRELEASE);
    FX_METHOD(table, WdfWaitLockCreate, PFN_WDFWAITLOCKCREATE);
    FX_METHOD(table, WdfWaitLockAcquire, PFN_WDFWAITLOCKACQUIRE);
    FX_METHOD(table, WdfWaitLockRelease, PFN_WDFWAITLOCKRELEASE);
    FX_METHOD(table, WdfMemoryCreatePreallocated, PFN_WDFMEMORYCREATEPREALLOCATED);
    FX_METHOD(table, WdfDeviceOpenRegistryKey, PFN_WDFDEVICEOPENREGISTRYKEY);
    FX_METHOD(table, WdfRegistryOpenKey, PFN_WDFREGISTRYOPENKEY);
    FX_METHOD(table, WdfRegistryQueryULong, PFN_WDFREGISTRYQUERYULONG);
    FX_METHOD(table, WdfRegistryClose, PFN_WDFREGISTRYCLOSE);
    FX_METHOD(table, WdfCmResourceListGetCount, PFN_WDFCMRESOURCELISTGETCOUNT);
    FX_METHOD(table, WdfCmResourceListGetDescriptor, PFN_WDFCMRESOURCELISTGETDESCRIPTOR);
}

}  // namespace kmdfsim::fx

// The kernel routines are the kernel's, not the framework's: plain exports.
using namespace kmdfsim;

// ---- Kernel routines
// ------------------------------------------------------------------------------

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString) {
    size_t n = SourceString == nullptr ? 0 : wcslen(SourceString);
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
    DestinationString->Length = static_cast<USHORT>(n * sizeof(WCHAR));
    DestinationString->MaximumLength =
        static_cast<USHORT>(SourceString == nullptr ? 0 : (n + 1) * sizeof(WCHAR));
}

namespace {
// The Windows format language of the kernel's wide printf, in this C
// library's: a wide "%s" takes a wide string ("%ls" here), "%S" a narrow one,
// and the "I64" size prefix is "ll".
std::wstring HostFormat(const WCHAR* format) {
    std::wstring f;
    for (const WCHAR* p = format; *p != 0; p++) {
        f += *p;
        if (*p != L'%') continue;
        if (p[1] == L'%') {
            f += *++p;
            continue;
        }
        while (p[1] != 0 && wcschr(L"-+ #0123456789.*", p[1]) != nullptr) f += *++p;
        if (p[1] == L'I' && p[2] == L'6' && p[3] == L'4') {
            f += L"ll";
            p += 3;
        } else if (p[1] == L'l' || p[1] == L'h') {
            f += *++p;  // an explicit size keeps its meaning
            continue;
        }
        if (p[1] == L's') {
            f += L'l';
        } else if (p[1] == L'S') {
            f += L's';
            p++;
        }
    }
    return f;
}
}  // namespace

// The kernel's _vsnwprintf: at most Count characters, -1 when the text did
// not fit (then the buffer is left unterminated, as on Windows).
int _vsnwprintf(WCHAR* Buffer, size_t Count, const WCHAR* Format, va_list Arguments) {
    const std::wstring format = HostFormat(Format);
    std::vector<WCHAR> out(Count + 1);
    va_list copy;
    va_copy(copy, Arguments);
    const int n = vswprintf(out.data(), out.size(), format.c_str(), copy);
    va_end(copy);
    if (n < 0 || static_cast<size_t>(n) > Count) {
        wmemcpy(Buffer, out.data(), Count);
        return -1;
    }
    wmemcpy(Buffer, out.data(), static_cast<size_t>(n) + (static_cast<size_t>(n) < Count ? 1 : 0));
    return n;
}

ULONG DbgPrint(PCSTR Format, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, Format);
    vsnprintf(buf, sizeof(buf), Format, ap);
    va_end(ap);
    std::lock_guard<std::mutex> lock(g_logMutex);
    g_prints.emplace_back(buf);
    return 0;
}

ULONG DbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, ...) {
    (void)ComponentId;
    (void)Level;
    static const bool on = getenv("KMDFSIM_TRACE") != nullptr;
    if (on) {
        va_list ap;
        va_start(ap, Format);
        vfprintf(stderr, Format, ap);
        va_end(ap);
    }
    return 0;
}

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State) {
    std::lock_guard<std::mutex> lock(g_eventMutex);
    Event->Header.Type = static_cast<UCHAR>(Type);
    Event->Header.SignalState = State ? 1 : 0;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY Increment, BOOLEAN Wait) {
    (void)Increment;
    (void)Wait;
    std::lock_guard<std::mutex> lock(g_eventMutex);
    LONG previous = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    g_eventCv.notify_all();
    return previous;
}

VOID KeClearEvent(PRKEVENT Event) {
    std::lock_guard<std::mutex> lock(g_eventMutex);
    Event->Header.SignalState = 0;
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON WaitReason, KPROCESSOR_MODE WaitMode,
                               BOOLEAN Alertable, PLARGE_INTEGER Timeout) {
    (void)WaitReason;
    (void)WaitMode;
    (void)Alertable;
    auto* event = static_cast<PRKEVENT>(Object);
    // Only a zero time-out (a poll) may run at DISPATCH_LEVEL.
    bool poll = Timeout != nullptr && Timeout->QuadPart == 0;
    CheckIrql("KeWaitForSingleObject", poll ? DISPATCH_LEVEL : APC_LEVEL);
    std::unique_lock<std::mutex> lock(g_eventMutex);
    auto signalled = [&] { return event->Header.SignalState != 0; };
    if (Timeout == nullptr) {
        g_eventCv.wait(lock, signalled);
    } else {
        // Relative times are negative, in 100 ns units.
        auto span = std::chrono::microseconds(Timeout->QuadPart < 0 ? -Timeout->QuadPart / 10 : 0);
        if (!g_eventCv.wait_for(lock, span, signalled)) return STATUS_TIMEOUT;
    }
    if (event->Header.Type == SynchronizationEvent) event->Header.SignalState = 0;
    return STATUS_SUCCESS;
}

KIRQL KeGetCurrentIrql(VOID) {
    return CurrentIrql();
}
