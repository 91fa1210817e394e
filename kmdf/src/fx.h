// Internals of the host KMDF simulation. One framework lock (Fx().m) guards
// the object tree and every request's state; driver callbacks are never
// called with it held, so the driver's own locks cannot invert with it.
#pragma once

#include <ntddk.h>
#include <spb.h>
#include <wdf.h>
#include <wdfldr.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "kmdf/kmdfsim.h"

namespace kmdfsim {

// ---- The function table the bind hands a driver --------------------------------------
// Each entry checks that it is called with the globals of the driver bound
// now, then runs the method in kmdfsim::fx. An entry this framework does not
// implement stops the machine with a violation naming its index, as a jump
// through an empty slot of the real table would, only loudly.

struct MethodTable {
    WDFFUNC entries[WdfFunctionTableNumEntries];
    const char* names[WdfFunctionTableNumEntries];
    void Put(int index, const char* name, WDFFUNC entry);
};
// The one table, filled on first use.
const MethodTable& Methods();
// Reports a call whose globals are not those of the bound driver.
void CheckCaller(PWDF_DRIVER_GLOBALS globals, int index);

template <class Pfn>
struct Method;
template <class R, class... A>
struct Method<R (*)(PWDF_DRIVER_GLOBALS, A...)> {
    template <int Index, R (*Impl)(A...)>
    static R Call(PWDF_DRIVER_GLOBALS globals, A... args) {
        CheckCaller(globals, Index);
        return Impl(args...);
    }
};

// A typed method as an untyped table entry; the client casts it back to
// exactly this type before the call.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wcast-function-type"
template <class F>
WDFFUNC AsEntry(F f) {
    return reinterpret_cast<WDFFUNC>(f);
}
#pragma GCC diagnostic pop

// The entry of a method: the thunk has exactly the type of the method's
// PFN_ (a method whose parameters differ does not compile).
#define FX_METHOD(table, name, pfn) \
    (table).Put(                    \
        name##TableIndex, #name,    \
        ::kmdfsim::AsEntry(         \
            &::kmdfsim::Method<pfn>::template Call<name##TableIndex, &::kmdfsim::fx::name>))

namespace fx {
void AddPowerMethods(MethodTable& table);
void AddObjectMethods(MethodTable& table);
void AddDeviceMethods(MethodTable& table);
void AddRequestMethods(MethodTable& table);
void AddTargetMethods(MethodTable& table);
}  // namespace fx

enum class Kind {
    Driver,
    Device,
    Queue,
    Request,
    IoTarget,
    Memory,
    Interrupt,
    Key,
    File,
    SpinLock,
    WaitLock,
    ResList
};

struct Object {
    explicit Object(Kind k) : kind(k) {}
    // From the object's attributes; inherited when not set (see PassiveLevel).
    WDF_EXECUTION_LEVEL executionLevel = WdfExecutionLevelInheritFromParent;
    virtual ~Object();
    Kind kind;
    Object* parent = nullptr;
    std::vector<Object*> children;
    PCWDF_OBJECT_CONTEXT_TYPE_INFO ctxType = nullptr;
    void* ctx = nullptr;
    PFN_WDF_OBJECT_CONTEXT_CLEANUP cleanup = nullptr;
    PFN_WDF_OBJECT_CONTEXT_DESTROY destroy = nullptr;
    bool deleting = false;
    // Kind-specific teardown before the children go (closing a target, ...).
    virtual void Teardown() {}
};

struct Device;
struct Queue;
struct Target;
struct FileObj;
struct Request;

struct Irp {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    NTSTATUS status = STATUS_PENDING;
    size_t information = 0;
    WDF_REQUEST_TYPE type = WdfRequestTypeRead;
    ULONG code = 0;
    size_t inLength = 0;
    size_t outLength = 0;
    std::vector<uint8_t> system;  // the buffered-I/O system buffer
    void* userOut = nullptr;
    Request* request = nullptr;  // while outstanding (framework lock)
    FileObj* file = nullptr;
    // Called once the request completed (status, information and userOut
    // final), on the completing thread: how an I/O manager below the
    // framework (kmdf/wine) completes the real request behind this one.
    std::function<void(Irp&)> completed;
};

struct Memory : Object {
    Memory() : Object(Kind::Memory) {}
    void* buffer = nullptr;
    size_t length = 0;
};

enum class ReqState { Idle, Queued, Presented, Sent, Completed };

struct Request : Object {
    Request() : Object(Kind::Request) {}
    bool driverCreated = false;
    Device* device = nullptr;
    std::shared_ptr<Irp> irp;
    FileObj* file = nullptr;
    ReqState state = ReqState::Idle;
    Queue* queue = nullptr;
    // Presented by a sequential or power-managed queue and not completed yet.
    bool inDriverCounted = false;
    // Taken by a power-managed queue while its device was in D0.
    bool takenInD0 = false;
    // Inside the queue's I/O callback (framework lock); a D0 exit that comes
    // meanwhile leaves its EvtIoStop flags here, for when the callback returns.
    bool inCallback = false;
    ULONG stopFlags = 0;
    // Counted among its device's requests of power-managed queues.
    bool pmCounted = false;
    // Cancellation.
    bool cancelRequested = false;
    PFN_WDF_REQUEST_CANCEL cancelRoutine = nullptr;
    bool cancelBegun = false;    // the routine is owed; unmarking fails
    bool cancelEntered = false;  // the routine was called
    // Formatted for a target and sent.
    enum class Op { None, Read, Write, Ioctl } op = Op::None;
    Memory* ioMemory = nullptr;  // read or write buffer, or the ioctl input
    ULONG ioctl = 0;
    Target* sentTo = nullptr;
    PFN_WDF_REQUEST_COMPLETION_ROUTINE completion = nullptr;
    WDFCONTEXT completionContext = nullptr;
    // WdfRequestCancelSentRequest was called: before the send it waits for
    // the send, which then completes the request as cancelled.
    bool cancelSent = false;
    // Sends so far: a cancel of one send never touches a later one.
    uint64_t sends = 0;
    // The bus controller's record of this request, under its lock: the last
    // send that reached it, and a send whose cancel came first (0: none).
    // Kept here, it goes with the request and never meets a later one.
    uint64_t sendArrived = 0;
    uint64_t sendCancelledEarly = 0;
    bool synchronous = false;  // sent with WDF_REQUEST_SEND_OPTION_SYNCHRONOUS
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR information = 0;
    Memory* inMemory = nullptr;
    Memory* outMemory = nullptr;
};

struct Queue : Object {
    Queue() : Object(Kind::Queue) {}
    ~Queue() override;
    Device* device = nullptr;
    WDF_IO_QUEUE_CONFIG config{};
    std::mutex m;
    std::condition_variable cv;
    std::deque<Request*> pending;
    Request* current = nullptr;
    // Requests this sequential or power-managed queue presented that the
    // driver has not completed (a sequential queue: never more than one, or
    // it broke its own rule); those of a power-managed queue by name.
    int inDriver = 0;
    std::set<Request*> delivered;
    // EvtIoStop calls deferred to the end of a callback and still running: a
    // D0 exit waits for them as for the requests, since the framework calls
    // EvtIoStop from the power transition itself and goes on only after it.
    int stopsRunning = 0;
    // A power-managed queue takes requests only while this is set: from its
    // device's D0 entry to the start of its D0 exit (under m).
    bool ioOn = false;
    bool stopping = false;
    // Execution level passive (own or inherited): callbacks only at PASSIVE_LEVEL.
    bool passive = false;
    // Delivers requests only while its device is in D0, and powers an idle
    // device up when one arrives.
    bool powerManaged = false;
    std::thread dispatcher;
    void Teardown() override;
    void Enqueue(Request* r);
    void Present(Request* r);
    // Presents r, then whatever the thread may present next, in this thread.
    void PresentHere(Request* r);
    // Queue lock held: may this thread present a request now?
    bool CanPresentHere() const;
    // Both locks held: the next pending request, now current, or null.
    Request* TakeNextLocked();
    void Run();
    void OnCompleted(Request* r);
    // Powered: may present now (a power-managed queue only in D0); m held.
    bool Powered() const;
    // Framework lock and m held: r is taken from the queue for the driver.
    void TakenLocked(Request* r);
    // Completes what the queue holds with status (a device that failed).
    void FailHeld(NTSTATUS status);
};

struct SpbImpl;

// What an opened remote I/O target sends its requests to: one of the
// simulated SPB controllers, or whatever SetTargetOpener puts behind a name
// (under Wine, a real device object). Called without the framework lock. A
// backend completes every request it was given with CompleteSent, exactly
// once, also when it is cancelled.
struct TargetBackend {
    virtual ~TargetBackend() = default;
    virtual void Submit(Request* r, uint64_t send) = 0;
    // Cancel of the send numbered send; one that already finished is left be.
    virtual void Cancel(Request* r, uint64_t send) = 0;
    // A send whose cancel came before it: completed as cancelled at once.
    virtual void SubmitCancelled(Request* r);
    // The target closed, with nothing of it in flight any more.
    virtual void Closed() {}
};
// Opens what sits behind a target name. Unset: the resource hub's names
// lead to the simulated SPB controllers.
using TargetOpener = NTSTATUS (*)(const std::wstring& name, const WDF_IO_TARGET_OPEN_PARAMS& params,
                                  TargetBackend** backend);
void SetTargetOpener(TargetOpener opener);

struct Target : Object {
    Target() : Object(Kind::IoTarget) {}
    Device* device = nullptr;
    enum class St { Created, Opened, Closed } st = St::Created;
    TargetBackend* backend = nullptr;
    // One entry per send, until its completion routine returned (framework
    // lock); a request re-sent from its own completion routine is in twice.
    std::multiset<Request*> sent;
    std::condition_variable_any cv;
    void Close();
    void Teardown() override { Close(); }
};

struct Interrupt : Object {
    Interrupt() : Object(Kind::Interrupt) {}
    Device* device = nullptr;
    WDF_INTERRUPT_CONFIG config{};
    ULONG vector = 0;
    std::mutex m;
    std::condition_variable cv;
    int raised = 0;
    bool connected = true;  // false from a D0 exit to the next D0 entry
    bool running = false;
    bool stop = false;
    int calls = 0;
    std::thread thread;
    void Run();
    void Teardown() override;
};

struct FileObj : Object {
    FileObj() : Object(Kind::File) {}
    Device* device = nullptr;
    std::set<Request*> outstanding;  // framework lock
    bool cleanedUp = false;
};

struct Key : Object {
    Key() : Object(Kind::Key) {}
    std::wstring path;
};

struct SpinLock : Object {
    SpinLock() : Object(Kind::SpinLock) {}
    std::mutex m;
    std::atomic<std::thread::id> owner{};
    KIRQL savedIrql = PASSIVE_LEVEL;  // the holder's IRQL before it acquired
};

struct WaitLock : Object {
    WaitLock() : Object(Kind::WaitLock) {}
    std::mutex m;
    std::atomic<std::thread::id> owner{};
};

struct ResList : Object {
    ResList() : Object(Kind::ResList) {}
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> items;
};

struct Driver : Object {
    Driver() : Object(Kind::Driver) {}
    WDF_DRIVER_CONFIG config{};
};

struct Device : Object {
    Device() : Object(Kind::Device) {}
    WDF_PNPPOWER_EVENT_CALLBACKS pnp{};
    WDF_FILEOBJECT_CONFIG fileConfig{};
    bool hasFileConfig = false;
    WDF_OBJECT_ATTRIBUTES requestAttributes{};
    bool hasRequestAttributes = false;
    Queue* defaultQueue = nullptr;
    std::wstring link;
    WDF_DEVICE_STATE state{};
    bool inD0 = false;
    bool started = false;  // opens succeed only once the start finished
    bool removing = false;
    // ---- Power (fx_power.cpp) ----
    // The framework's power policy for the device: who owns it, the S0 idle
    // settings the driver assigned, where the device is, the idle references
    // (WdfDeviceStopIdle minus WdfDeviceResumeIdle) and the requests of its
    // power-managed queues not completed yet. pm guards these; one power
    // transition runs at a time (transition); the power thread runs the idle
    // time-out and the power-up an arriving request asks for.
    bool powerPolicyOwner = true;
    bool idleEnabled = false;
    ULONG idleTimeoutMs = 0;
    WDF_POWER_POLICY_IDLE_TIMEOUT_TYPE idleTimeoutType = DriverManagedIdleTimeout;
    DevicePower power = DevicePower::None;
    bool idleBeforeSleep = false;
    int powerRefs = 0;
    int pmRequests = 0;
    bool powerUpWanted = false;
    bool idleArmed = false;
    std::chrono::steady_clock::time_point idleDeadline{};
    bool powerThreadStop = false;
    std::mutex pm;
    std::condition_variable pmCv;
    std::thread powerThread;
    std::recursive_mutex transition;
    std::atomic<bool> ioPowered{false};
    std::vector<Queue*> queues;
    int d0Exits = 0;
    std::set<FileObj*> files;  // framework lock
    Interrupt* interrupt = nullptr;
    ResList* raw = nullptr;
    ResList* translated = nullptr;
};

struct DeviceInitData {
    WDF_PNPPOWER_EVENT_CALLBACKS pnp{};
    WDF_FILEOBJECT_CONFIG fileConfig{};
    bool hasFileConfig = false;
    WDF_OBJECT_ATTRIBUTES requestAttributes{};
    bool hasRequestAttributes = false;
    bool powerPolicyOwner = true;
};

// ---- Shared state -----------------------------------------------------------------

struct FxState {
    std::recursive_mutex m;
    std::unordered_set<Object*> live;
    // Every client request completed since the last reset. They are kept (not
    // freed) so that a stale handle can never alias a new request: a second
    // completion is recognised however many requests came in between.
    std::unordered_set<Request*> completed;
    Driver* driver = nullptr;
    // The image loaded now: its driver object as the I/O manager keeps it,
    // and the bind its loader stub made (null globals: not bound). Globals
    // once handed out are kept, so a stale pointer never matches a new bind.
    DRIVER_OBJECT driverObject{};
    PWDF_DRIVER_GLOBALS bound = nullptr;
    PWDF_BIND_INFO bindInfo = nullptr;
    std::wstring boundPath;
    std::vector<std::unique_ptr<WDF_DRIVER_GLOBALS>> allGlobals;
    Device* device = nullptr;
    size_t outstanding = 0;
    size_t driverCreated = 0;  // objects the driver asked the framework for
    bool holdCancel = false;
    std::atomic<bool> inlineDispatch{false};  // sequential queues present on the caller's thread
    std::vector<std::pair<Request*, PFN_WDF_REQUEST_CANCEL>> heldCancels;
    bool holdCompletions = false;
    struct HeldCompletion {
        Request* request;
        NTSTATUS status;
        ULONG_PTR information;
    };
    std::vector<HeldCompletion> heldCompletions;
    std::condition_variable_any heldCompletionsCv;
    NTSTATUS refuseStatus = STATUS_SUCCESS;
    int refuseCount = 0;
    std::function<void()> beforeSend;
    std::wstring lastOpenName;
    ACCESS_MASK lastOpenAccess = 0;
};
FxState& Fx();

void Violation(const std::string& what);
void Trace(const char* fmt, ...);

// ---- IRQL of the calling simulated thread ------------------------------------------
// Every thread starts at PASSIVE_LEVEL. The framework raises it where Windows
// runs the driver at DISPATCH_LEVEL (completion and cancel routines, spin
// locks); methods check it against the highest IRQL their header allows.

KIRQL CurrentIrql();
void SetIrql(KIRQL irql);
// Reports a violation when the caller runs above highest; true when it may go on.
bool CheckIrql(const char* api, KIRQL highest);

// Runs a scope at DISPATCH_LEVEL (or higher, when already there).
class DispatchScope {
  public:
    DispatchScope() : saved_(CurrentIrql()) {
        if (saved_ < DISPATCH_LEVEL) SetIrql(DISPATCH_LEVEL);
    }
    ~DispatchScope() { SetIrql(saved_); }
    DispatchScope(const DispatchScope&) = delete;
    DispatchScope& operator=(const DispatchScope&) = delete;

  private:
    KIRQL saved_;
};

// Execution level of an object: its own, or the first one set up its parents.
bool PassiveLevel(const Object* o);

// Object tree.
void Attach(Object* o, Object* defaultParent, PWDF_OBJECT_ATTRIBUTES attributes);
void DeleteTree(Object* o);
template <class T>
T* Checked(void* handle, Kind kind, const char* api) {
    auto* o = static_cast<Object*>(handle);
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (o == nullptr || Fx().live.count(o) == 0 || o->kind != kind) {
        Violation(std::string(api) + ": invalid or deleted handle");
        return nullptr;
    }
    return static_cast<T*>(o);
}

// Requests.
Request* NewClientRequest(Device* device, FileObj* file, std::shared_ptr<Irp> irp);
void DeliverToDevice(Request* r);
// Cancellation as the I/O manager asks for it (CancelIoEx, handle clean-up).
void CancelRequest(Request* r);
// CancelIoEx of a user request: false when it had already completed.
bool CancelIrp(const std::shared_ptr<Irp>& irp);
void FreeCompletedRequests();
void ClearLogs();
void FinishRequest(Request* r, NTSTATUS status, ULONG_PTR information, bool byFramework);
void FlushFile(FileObj* file);

// Targets and the bus.
SpbImpl* FindController(ULONGLONG id);
// The controller finished r: runs the completion routine.
void CompleteSent(Request* r, NTSTATUS status, ULONG_PTR information);
// The completion itself: state, then the completion routine at DISPATCH_LEVEL.
void RunCompletion(Request* r, NTSTATUS status, ULONG_PTR information);
void ResetControllers();

// Power (fx_power.cpp). The device starts in D0 (PowerStarted) and leaves
// the power machinery at its removal (PowerStopping: true when it was in D0).
void PowerStarted(Device* d);
bool PowerStopping(Device* d);
// The framework's side of a D0 exit: stops the power-managed queues, waits
// for what they delivered, disconnects the interrupt (waiting for a running
// service routine), then the driver's D0 exit.
void LeaveD0(Device* d, WDF_POWER_DEVICE_STATE target);
// A request reaches, or leaves, a power-managed queue of d.
void PmRequestQueued(Device* d);
void PmRequestDone(Device* d);
// Presents what power-managed queues held while d was out of D0.
void KickQueues(Device* d);
// The calling thread runs a callback of a power-managed queue.
bool PresentingFromPowerManagedQueue();
void PresentHeldRequests(Queue* q);

// The driver object: deleted by the framework's unload or at the unbind.
void DeleteDriverObject();
VOID FrameworkDriverUnload(PDRIVER_OBJECT DriverObject);

// Registry.
bool SettingsKeyPresent();
std::optional<ULONG> ConnectInterruptValue();

}  // namespace kmdfsim
struct WDFDEVICE_INIT {
    kmdfsim::DeviceInitData data;
};
