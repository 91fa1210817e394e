// Requests, queues and cancellation.
#include <algorithm>
#include <chrono>
#include <cstring>

#include "kmdf/src/fx.h"

namespace kmdfsim {

namespace {

// Read without the framework lock: asked while holding a queue lock.
bool InlineDispatch() {
    return Fx().inlineDispatch.load();
}

// Queues whose callback this thread is inside: a request completed there lets
// the presenting loop of this thread, not a nested call, present the next one.
thread_local std::vector<const Queue*> t_presenting;

bool PresentingHere(const Queue* q) {
    return std::find(t_presenting.begin(), t_presenting.end(), q) != t_presenting.end();
}

// The request's device counts it among those of its power-managed queues.
void CountPm(Queue* q, Request* r) {
    if (!q->powerManaged || r->pmCounted) return;
    r->pmCounted = true;
    PmRequestQueued(q->device);
}

WDFREQUEST AsHandle(Request* r) {
    return reinterpret_cast<WDFREQUEST>(static_cast<Object*>(r));
}
WDFQUEUE AsHandle(Queue* q) {
    return reinterpret_cast<WDFQUEUE>(static_cast<Object*>(q));
}

bool Completed(Object* o) {
    return Fx().completed.count(static_cast<Request*>(o)) != 0;
}

// Framework lock held. Null (and a violation) unless r is a live request.
Request* LiveRequest(WDFREQUEST handle, const char* api) {
    auto* o = reinterpret_cast<Object*>(handle);
    if (o == nullptr || Fx().live.count(o) == 0 || o->kind != Kind::Request) {
        if (o != nullptr && Completed(o)) {
            Violation(std::string(api) + " on a request that was already completed");
        } else {
            Violation(std::string(api) + ": invalid request handle");
        }
        return nullptr;
    }
    return static_cast<Request*>(o);
}

void FreeRequest(Request* r) {
    delete r->inMemory;
    delete r->outMemory;
    delete r;
}

Memory* RequestMemory(Request* r, bool input) {
    Memory*& slot = input ? r->inMemory : r->outMemory;
    if (slot == nullptr) {
        slot = new Memory();
        slot->parent = r;
        Fx().live.insert(slot);
    }
    slot->buffer = r->irp->system.data();
    if (r->irp->type == WdfRequestTypeDeviceControl) {
        slot->length = input ? r->irp->inLength : r->irp->outLength;
    } else {
        slot->length = r->irp->type == WdfRequestTypeRead ? r->irp->outLength : r->irp->inLength;
    }
    return slot;
}

// Framework lock held. Length of the requested side, or an error.
NTSTATUS BufferOf(Request* r, bool input, size_t minimum, Memory** memory) {
    *memory = nullptr;
    if (r->driverCreated || !r->irp) return STATUS_INVALID_DEVICE_REQUEST;
    WDF_REQUEST_TYPE type = r->irp->type;
    if ((input && type == WdfRequestTypeRead) || (!input && type == WdfRequestTypeWrite)) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    Memory* m = RequestMemory(r, input);
    if (m->length == 0 || m->length < minimum) return STATUS_BUFFER_TOO_SMALL;
    *memory = m;
    return STATUS_SUCCESS;
}

void RunCancelRoutine(Request* r, PFN_WDF_REQUEST_CANCEL routine) {
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (r->state == ReqState::Completed) return;  // already reported at its completion
        r->cancelEntered = true;
    }
    DispatchScope dispatch;  // cancel routines run at DISPATCH_LEVEL
    routine(AsHandle(r));
}

}  // namespace

Request* NewClientRequest(Device* device, FileObj* file, std::shared_ptr<Irp> irp) {
    {
        // A handle being closed on another thread takes no new requests.
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (Fx().live.count(file) == 0 || file->cleanedUp) return nullptr;
    }
    auto* r = new Request();
    r->device = device;
    r->file = file;
    r->irp = irp;
    WDF_OBJECT_ATTRIBUTES attributes = device->requestAttributes;
    Attach(r, nullptr, device->hasRequestAttributes ? &attributes : nullptr);
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (file->cleanedUp) {
        Fx().live.erase(r);
        delete r;
        return nullptr;
    }
    irp->request = r;
    irp->file = file;
    file->outstanding.insert(r);
    Fx().outstanding++;
    return r;
}

bool PresentingFromPowerManagedQueue() {
    for (const Queue* q : t_presenting) {
        if (q->powerManaged) return true;
    }
    return false;
}

void DeliverToDevice(Request* r) {
    Queue* q = r->device->defaultQueue;
    if (q == nullptr) {
        FinishRequest(r, STATUS_INVALID_DEVICE_REQUEST, 0, true);
        return;
    }
    bool zeroLength = (r->irp->type == WdfRequestTypeRead && r->irp->outLength == 0) ||
                      (r->irp->type == WdfRequestTypeWrite && r->irp->inLength == 0);
    if (zeroLength && !q->config.AllowZeroLengthRequests) {
        FinishRequest(r, STATUS_SUCCESS, 0, true);
        return;
    }
    if (q->config.DispatchType == WdfIoQueueDispatchParallel) {
        CountPm(q, r);
        {
            std::lock_guard<std::recursive_mutex> lock(Fx().m);
            std::lock_guard<std::mutex> qlock(q->m);
            r->queue = q;
            if (!q->Powered()) {
                // Held until the device is back in D0 (which it asked for).
                r->state = ReqState::Queued;
                q->pending.push_back(r);
                return;
            }
            r->state = ReqState::Presented;
            q->TakenLocked(r);
        }
        q->Present(r);
    } else {
        q->Enqueue(r);
    }
}

void FinishRequest(Request* r, NTSTATUS status, ULONG_PTR information, bool byFramework) {
    std::shared_ptr<Irp> irp;
    Queue* q = nullptr;
    bool pmDone = false;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (LiveRequest(AsHandle(r), "WdfRequestComplete") == nullptr) return;
        if (r->driverCreated) {
            Violation("WdfRequestComplete of a driver-created request");
            return;
        }
        if (r->state == ReqState::Sent) {
            // A bug check on Windows. The target forgets it, so that closing
            // the target does not wait for a request that is gone.
            Violation("completing a request that is still sent to a target");
            if (r->sentTo != nullptr) r->sentTo->sent.erase(r);
        }
        if (r->cancelBegun && !r->cancelEntered) {
            Violation(
                "request completed while its cancel routine is owed: the routine would get a "
                "completed request");
        } else if (!byFramework && r->cancelRoutine != nullptr) {
            Violation("completing a request that is still marked cancelable (unmark it first)");
        }
        r->state = ReqState::Completed;
        r->cancelRoutine = nullptr;
        q = r->queue;
        irp = r->irp;
        irp->request = nullptr;
        if (r->file != nullptr) r->file->outstanding.erase(r);
        pmDone = r->pmCounted;
        r->pmCounted = false;
        Fx().outstanding--;
        Fx().live.erase(r);
        if (r->inMemory) Fx().live.erase(r->inMemory);
        if (r->outMemory) Fx().live.erase(r->outMemory);
        Fx().completed.insert(r);
    }
    // Done for the device's power before user mode learns of it: the idle
    // time-out may start as soon as the last request is completed.
    if (pmDone) PmRequestDone(r->device);
    {
        std::lock_guard<std::mutex> lock(irp->m);
        irp->status = status;
        size_t out = irp->type == WdfRequestTypeWrite ? irp->inLength : irp->outLength;
        if (irp->type != WdfRequestTypeWrite && information > out) {
            Violation("request completed with more bytes than its output buffer holds");
            information = out;
        }
        irp->information = information;
        if (irp->type != WdfRequestTypeWrite && irp->userOut != nullptr && NT_SUCCESS(status) &&
            information > 0) {
            memcpy(irp->userOut, irp->system.data(), information);
        }
        irp->done = true;
        irp->cv.notify_all();
    }
    if (irp->completed) irp->completed(*irp);
    if (q != nullptr) q->OnCompleted(r);
}

namespace {
// Framework lock held: starts cancelling r. Tells the caller what to run
// once the lock is released.
void BeginCancel(Request* r, PFN_WDF_REQUEST_CANCEL* routine, bool* cancelQueued) {
    *routine = nullptr;
    *cancelQueued = false;
    if (Fx().live.count(r) == 0 || r->state == ReqState::Completed || r->driverCreated) return;
    r->cancelRequested = true;
    if (r->state == ReqState::Queued && r->queue != nullptr) {
        std::lock_guard<std::mutex> qlock(r->queue->m);
        auto& p = r->queue->pending;
        auto it = std::find(p.begin(), p.end(), r);
        if (it != p.end()) {
            p.erase(it);
            *cancelQueued = true;
        }
    } else if (r->state == ReqState::Presented && r->cancelRoutine != nullptr) {
        *routine = r->cancelRoutine;
        r->cancelRoutine = nullptr;
        r->cancelBegun = true;
        if (Fx().holdCancel) {
            Fx().heldCancels.emplace_back(r, *routine);
            *routine = nullptr;
        }
    }
}

void EndCancel(Request* r, PFN_WDF_REQUEST_CANCEL routine, bool cancelQueued) {
    if (cancelQueued) FinishRequest(r, STATUS_CANCELLED, 0, true);
    if (routine != nullptr) RunCancelRoutine(r, routine);
}
}  // namespace

void CancelRequest(Request* r) {
    PFN_WDF_REQUEST_CANCEL routine;
    bool cancelQueued;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        BeginCancel(r, &routine, &cancelQueued);
    }
    EndCancel(r, routine, cancelQueued);
}

bool CancelIrp(const std::shared_ptr<Irp>& irp) {
    PFN_WDF_REQUEST_CANCEL routine;
    bool cancelQueued;
    Request* r;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        r = irp->request;
        if (r == nullptr) return false;
        BeginCancel(r, &routine, &cancelQueued);
    }
    EndCancel(r, routine, cancelQueued);
    return true;
}

void FlushFile(FileObj* file) {
    std::vector<Request*> requests;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        requests.assign(file->outstanding.begin(), file->outstanding.end());
    }
    for (Request* r : requests) CancelRequest(r);
}

void HoldCancelRoutines(bool hold) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    Fx().holdCancel = hold;
}

int HeldCancelRoutines() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return static_cast<int>(Fx().heldCancels.size());
}

void RunHeldCancelRoutines() {
    std::vector<std::pair<Request*, PFN_WDF_REQUEST_CANCEL>> held;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        held.swap(Fx().heldCancels);
    }
    for (auto& h : held) RunCancelRoutine(h.first, h.second);
}

void SetInlineDispatch(bool on) {
    Fx().inlineDispatch = on;
}

void FreeCompletedRequests() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    for (Request* r : Fx().completed) FreeRequest(r);
    Fx().completed.clear();
}

// ---- Queues -------------------------------------------------------------------------------

Queue::~Queue() {
    if (dispatcher.joinable()) dispatcher.join();
}

void Queue::Enqueue(Request* r) {
    bool cancelled = false;
    bool presentHere = false;
    // Counted before the queue looks at its device's power: an idle time-out
    // that expires meanwhile either sees the request or leaves it held.
    CountPm(this, r);
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        r->queue = this;
        r->state = ReqState::Queued;
        if (r->cancelRequested) {
            cancelled = true;
        } else {
            std::lock_guard<std::mutex> qlock(m);
            if (stopping) {
                cancelled = true;
            } else if (InlineDispatch() && current == nullptr && pending.empty() &&
                       CanPresentHere() && Powered()) {
                current = r;
                r->state = ReqState::Presented;
                TakenLocked(r);
                presentHere = true;
            } else {
                pending.push_back(r);
                cv.notify_all();
            }
        }
    }
    if (cancelled) FinishRequest(r, STATUS_CANCELLED, 0, true);
    if (presentHere) PresentHere(r);
}

bool Queue::CanPresentHere() const {
    return !passive || CurrentIrql() == PASSIVE_LEVEL;
}

bool Queue::Powered() const {
    return !powerManaged || ioOn;
}

void Queue::TakenLocked(Request* r) {
    const bool sequential = config.DispatchType == WdfIoQueueDispatchSequential;
    if (sequential && inDriver > 0) {
        Violation("a sequential queue presented a request while another one is current");
    }
    if (!sequential && !powerManaged) return;
    inDriver++;
    r->inDriverCounted = true;
    r->takenInD0 = powerManaged && ioOn;
    if (powerManaged) {
        // In its callback from the take on: a D0 exit that finds it there
        // stops it once the callback returns, never before.
        r->inCallback = true;
        delivered.insert(r);
    }
}

Request* Queue::TakeNextLocked() {
    if (stopping || current != nullptr || pending.empty() || !Powered()) return nullptr;
    Request* next = pending.front();
    pending.pop_front();
    current = next;
    next->state = ReqState::Presented;
    TakenLocked(next);
    return next;
}

void Queue::Present(Request* r) {
    const WDF_IO_QUEUE_CONFIG& c = config;
    Irp& irp = *r->irp;
    WDFQUEUE qh = AsHandle(this);
    WDFREQUEST rh = AsHandle(r);
    if (passive && CurrentIrql() != PASSIVE_LEVEL) {
        Violation("a queue of passive execution level presented a request above PASSIVE_LEVEL");
    }
    if (powerManaged && !r->takenInD0) {
        Violation("a power-managed queue presented a request while its device is out of D0");
    }
    t_presenting.push_back(this);
    if (irp.type == WdfRequestTypeRead && c.EvtIoRead != nullptr) {
        c.EvtIoRead(qh, rh, irp.outLength);
    } else if (irp.type == WdfRequestTypeWrite && c.EvtIoWrite != nullptr) {
        c.EvtIoWrite(qh, rh, irp.inLength);
    } else if (irp.type == WdfRequestTypeDeviceControl && c.EvtIoDeviceControl != nullptr) {
        c.EvtIoDeviceControl(qh, rh, irp.outLength, irp.inLength, irp.code);
    } else if (c.EvtIoDefault != nullptr) {
        c.EvtIoDefault(qh, rh);
    } else {
        FinishRequest(r, STATUS_INVALID_DEVICE_REQUEST, 0, true);
    }
    t_presenting.pop_back();
    // The framework stops a request the driver owns once it has it: a D0
    // exit that began during the callback stops it now.
    ULONG stop = 0;
    {
        std::lock_guard<std::recursive_mutex> fx(Fx().m);
        r->inCallback = false;
        std::swap(stop, r->stopFlags);
        if (Fx().live.count(r) == 0 || c.EvtIoStop == nullptr) stop = 0;
        if (stop != 0) {
            std::lock_guard<std::mutex> lock(m);
            stopsRunning++;
        }
    }
    if (stop == 0) return;
    c.EvtIoStop(qh, rh, stop);
    std::lock_guard<std::mutex> lock(m);
    stopsRunning--;
}

void Queue::PresentHere(Request* r) {
    while (r != nullptr) {
        Present(r);
        if (config.DispatchType != WdfIoQueueDispatchSequential) return;
        std::lock_guard<std::recursive_mutex> fx(Fx().m);
        std::lock_guard<std::mutex> lock(m);
        r = CanPresentHere() ? TakeNextLocked() : nullptr;
        if (r == nullptr) cv.notify_all();
    }
}

// The framework's passive-level worker of a sequential queue: presents what
// arrived while the queue was idle (unless callers present it themselves)
// and what a completion above PASSIVE_LEVEL could not present inline.
void Queue::Run() {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m);
            cv.wait(lock, [&] {
                return stopping || (current == nullptr && !pending.empty() && Powered());
            });
            if (stopping) return;
        }
        // Taken under both locks, as every take is; another thread may have
        // taken it first.
        Request* r;
        {
            std::lock_guard<std::recursive_mutex> fx(Fx().m);
            std::lock_guard<std::mutex> lock(m);
            r = TakeNextLocked();
        }
        if (r != nullptr) Present(r);
    }
}

// The current request was completed. Like the framework, present the next one
// from inside WdfRequestComplete, in the completing thread at its IRQL; a
// queue of passive execution level hands it to its passive-level worker
// instead. A completion inside the queue's own callback on this thread leaves
// the next request to the loop that presented that callback.
void Queue::OnCompleted(Request* r) {
    Request* next = nullptr;
    {
        std::lock_guard<std::recursive_mutex> fx(Fx().m);
        std::lock_guard<std::mutex> lock(m);
        if (r->inDriverCounted) {
            r->inDriverCounted = false;
            inDriver--;
            delivered.erase(r);
        }
        if (config.DispatchType != WdfIoQueueDispatchSequential || current != r) return;
        current = nullptr;
        if (!passive && !PresentingHere(this)) next = TakeNextLocked();
        cv.notify_all();
    }
    if (next != nullptr) PresentHere(next);
}

void Queue::FailHeld(NTSTATUS status) {
    std::deque<Request*> held;
    {
        std::lock_guard<std::mutex> lock(m);
        held.swap(pending);
    }
    for (Request* r : held) FinishRequest(r, status, 0, true);
}

// Back in D0: the worker of a sequential queue presents what it held; a
// parallel queue presents it all here.
void PresentHeldRequests(Queue* q) {
    {
        std::lock_guard<std::mutex> lock(q->m);
        q->ioOn = true;
        q->cv.notify_all();
    }
    if (q->config.DispatchType == WdfIoQueueDispatchSequential) return;
    for (;;) {
        Request* r;
        {
            std::lock_guard<std::recursive_mutex> fx(Fx().m);
            std::lock_guard<std::mutex> lock(q->m);
            if (q->pending.empty() || !q->Powered()) return;
            r = q->pending.front();
            q->pending.pop_front();
            r->state = ReqState::Presented;
            q->TakenLocked(r);
        }
        q->Present(r);
    }
}

void Queue::Teardown() {
    {
        std::lock_guard<std::recursive_mutex> fx(Fx().m);
        auto& queues = device->queues;
        queues.erase(std::remove(queues.begin(), queues.end(), this), queues.end());
    }
    std::deque<Request*> purge;
    {
        std::unique_lock<std::mutex> lock(m);
        purge.swap(pending);
        // The driver owns what was presented; removal waits for it.
        if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return current == nullptr; })) {
            Violation("a request presented by the sequential queue was never completed");
        }
        stopping = true;
        cv.notify_all();
    }
    for (Request* r : purge) FinishRequest(r, STATUS_CANCELLED, 0, true);
    if (dispatcher.joinable()) dispatcher.join();
}

}  // namespace kmdfsim

namespace kmdfsim::fx {

// ---- Queue methods ----------------------------------------------------------------------

NTSTATUS WdfIoQueueCreate(WDFDEVICE Device, PWDF_IO_QUEUE_CONFIG Config,
                          PWDF_OBJECT_ATTRIBUTES QueueAttributes, WDFQUEUE* Queue) {
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfIoQueueCreate");
    if (d == nullptr || Config == nullptr || Config->Size != sizeof(WDF_IO_QUEUE_CONFIG)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (Config->DispatchType != WdfIoQueueDispatchParallel &&
        Config->DispatchType != WdfIoQueueDispatchSequential) {
        return STATUS_INVALID_PARAMETER;  // manual queues are not simulated
    }
    if (Config->DefaultQueue && d->defaultQueue != nullptr) return STATUS_INVALID_DEVICE_STATE;
    auto* q = new kmdfsim::Queue();
    q->device = d;
    q->config = *Config;
    Attach(q, d, QueueAttributes);
    q->passive = PassiveLevel(q);
    // A power policy owner's queues are power-managed unless the driver says not.
    q->powerManaged = Config->PowerManaged == WdfTrue ||
                      (Config->PowerManaged == WdfUseDefault && d->powerPolicyOwner);
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        d->queues.push_back(q);
    }
    if (Config->DefaultQueue) d->defaultQueue = q;
    if (Config->DispatchType == WdfIoQueueDispatchSequential) {
        q->dispatcher = std::thread([q] { q->Run(); });
    }
    if (Queue != nullptr) *Queue = AsHandle(q);
    return STATUS_SUCCESS;
}

WDFDEVICE WdfIoQueueGetDevice(WDFQUEUE Queue) {
    auto* q = Checked<kmdfsim::Queue>(Queue, Kind::Queue, "WdfIoQueueGetDevice");
    return q == nullptr ? nullptr : reinterpret_cast<WDFDEVICE>(static_cast<Object*>(q->device));
}

// ---- Request methods ----------------------------------------------------------------------

NTSTATUS WdfRequestCreate(PWDF_OBJECT_ATTRIBUTES RequestAttributes, WDFIOTARGET IoTarget,
                          WDFREQUEST* Request) {
    auto* r = new kmdfsim::Request();
    r->driverCreated = true;
    Object* parent = Fx().driver;
    if (IoTarget != nullptr) {
        auto* t = Checked<Target>(IoTarget, Kind::IoTarget, "WdfRequestCreate");
        if (t != nullptr) parent = t->device;
    }
    Attach(r, parent, RequestAttributes);
    *Request = AsHandle(r);
    return STATUS_SUCCESS;
}

NTSTATUS WdfRequestReuse(WDFREQUEST Request, PWDF_REQUEST_REUSE_PARAMS ReuseParams) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestReuse");
    if (r == nullptr) return STATUS_INVALID_PARAMETER;
    if (!r->driverCreated) {
        Violation("WdfRequestReuse of a request the framework delivered");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (r->state == ReqState::Sent) {
        Violation("WdfRequestReuse of a request still sent to a target");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    r->op = kmdfsim::Request::Op::None;
    r->ioMemory = nullptr;
    r->ioctl = 0;
    r->completion = nullptr;
    r->completionContext = nullptr;
    r->cancelSent = false;
    r->synchronous = false;
    r->sentTo = nullptr;
    r->status = ReuseParams != nullptr ? ReuseParams->Status : STATUS_SUCCESS;
    r->information = 0;
    r->state = ReqState::Idle;
    return STATUS_SUCCESS;
}

VOID WdfRequestGetParameters(WDFREQUEST Request, PWDF_REQUEST_PARAMETERS Parameters) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestGetParameters");
    if (r == nullptr || !r->irp) return;
    if (Parameters->Size != sizeof(WDF_REQUEST_PARAMETERS))
        Violation("request parameters not initialised");
    const Irp& irp = *r->irp;
    Parameters->Type = irp.type;
    if (irp.type == WdfRequestTypeRead) {
        Parameters->Parameters.Read.Length = irp.outLength;
    } else if (irp.type == WdfRequestTypeWrite) {
        Parameters->Parameters.Write.Length = irp.inLength;
    } else if (irp.type == WdfRequestTypeDeviceControl) {
        Parameters->Parameters.DeviceIoControl.IoControlCode = irp.code;
        Parameters->Parameters.DeviceIoControl.InputBufferLength = irp.inLength;
        Parameters->Parameters.DeviceIoControl.OutputBufferLength = irp.outLength;
    }
}

VOID WdfRequestComplete(WDFREQUEST Request, NTSTATUS Status) {
    FinishRequest(reinterpret_cast<kmdfsim::Request*>(reinterpret_cast<Object*>(Request)), Status,
                  0, false);
}

VOID WdfRequestCompleteWithInformation(WDFREQUEST Request, NTSTATUS Status, ULONG_PTR Information) {
    FinishRequest(reinterpret_cast<kmdfsim::Request*>(reinterpret_cast<Object*>(Request)), Status,
                  Information, false);
}

NTSTATUS WdfRequestGetStatus(WDFREQUEST Request) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestGetStatus");
    return r == nullptr ? STATUS_INVALID_PARAMETER : r->status;
}

NTSTATUS WdfRequestRetrieveInputMemory(WDFREQUEST Request, WDFMEMORY* Memory) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestRetrieveInputMemory");
    if (r == nullptr) return STATUS_INVALID_PARAMETER;
    kmdfsim::Memory* m = nullptr;
    NTSTATUS status = BufferOf(r, true, 0, &m);
    *Memory = reinterpret_cast<WDFMEMORY>(static_cast<Object*>(m));
    return status;
}

NTSTATUS WdfRequestRetrieveOutputMemory(WDFREQUEST Request, WDFMEMORY* Memory) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestRetrieveOutputMemory");
    if (r == nullptr) return STATUS_INVALID_PARAMETER;
    kmdfsim::Memory* m = nullptr;
    NTSTATUS status = BufferOf(r, false, 0, &m);
    *Memory = reinterpret_cast<WDFMEMORY>(static_cast<Object*>(m));
    return status;
}

NTSTATUS WdfRequestRetrieveInputBuffer(WDFREQUEST Request, size_t MinimumRequiredLength,
                                       PVOID* Buffer, size_t* Length) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestRetrieveInputBuffer");
    if (r == nullptr) return STATUS_INVALID_PARAMETER;
    kmdfsim::Memory* m = nullptr;
    NTSTATUS status = BufferOf(r, true, MinimumRequiredLength, &m);
    *Buffer = m != nullptr ? m->buffer : nullptr;
    if (Length != nullptr) *Length = m != nullptr ? m->length : 0;
    return status;
}

NTSTATUS WdfRequestRetrieveOutputBuffer(WDFREQUEST Request, size_t MinimumRequiredSize,
                                        PVOID* Buffer, size_t* Length) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestRetrieveOutputBuffer");
    if (r == nullptr) return STATUS_INVALID_PARAMETER;
    kmdfsim::Memory* m = nullptr;
    NTSTATUS status = BufferOf(r, false, MinimumRequiredSize, &m);
    *Buffer = m != nullptr ? m->buffer : nullptr;
    if (Length != nullptr) *Length = m != nullptr ? m->length : 0;
    return status;
}

NTSTATUS WdfRequestMarkCancelableEx(WDFREQUEST Request, PFN_WDF_REQUEST_CANCEL EvtRequestCancel) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestMarkCancelableEx");
    if (r == nullptr) return STATUS_INVALID_PARAMETER;
    if (r->driverCreated || r->state != ReqState::Presented) {
        Violation("WdfRequestMarkCancelableEx of a request the driver does not own");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (r->cancelRoutine != nullptr) Violation("request marked cancelable twice");
    if (r->cancelRequested) return STATUS_CANCELLED;
    r->cancelRoutine = EvtRequestCancel;
    return STATUS_SUCCESS;
}

NTSTATUS WdfRequestUnmarkCancelable(WDFREQUEST Request) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestUnmarkCancelable");
    if (r == nullptr) return STATUS_INVALID_PARAMETER;
    if (r->cancelBegun) return STATUS_CANCELLED;
    if (r->cancelRoutine == nullptr) {
        Violation("WdfRequestUnmarkCancelable of a request that is not cancelable");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    r->cancelRoutine = nullptr;
    return STATUS_SUCCESS;
}

VOID WdfRequestSetCompletionRoutine(WDFREQUEST Request,
                                    PFN_WDF_REQUEST_COMPLETION_ROUTINE CompletionRoutine,
                                    WDFCONTEXT CompletionContext) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestSetCompletionRoutine");
    if (r == nullptr) return;
    r->completion = CompletionRoutine;
    r->completionContext = CompletionContext;
}

NTSTATUS WdfRequestForwardToIoQueue(WDFREQUEST Request, WDFQUEUE DestinationQueue) {
    kmdfsim::Queue* q =
        Checked<kmdfsim::Queue>(DestinationQueue, Kind::Queue, "WdfRequestForwardToIoQueue");
    kmdfsim::Request* r;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        r = LiveRequest(Request, "WdfRequestForwardToIoQueue");
        if (r == nullptr || q == nullptr) return STATUS_INVALID_PARAMETER;
        if (r->state != ReqState::Presented || r->queue == q) return STATUS_INVALID_DEVICE_REQUEST;
        if (r->cancelRoutine != nullptr) {
            Violation("forwarding a request that is marked cancelable");
            return STATUS_INVALID_DEVICE_REQUEST;
        }
        std::lock_guard<std::mutex> qlock(q->m);
        if (q->stopping) return STATUS_INVALID_DEVICE_STATE;
    }
    q->Enqueue(r);
    return STATUS_SUCCESS;
}

WDFFILEOBJECT WdfRequestGetFileObject(WDFREQUEST Request) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = LiveRequest(Request, "WdfRequestGetFileObject");
    if (r == nullptr || r->file == nullptr) return nullptr;
    return reinterpret_cast<WDFFILEOBJECT>(static_cast<Object*>(r->file));
}

// ---- Table entries ----------------------------------------------------------------------

void AddRequestMethods(MethodTable& table) {
    FX_METHOD(table, WdfIoQueueCreate, PFN_WDFIOQUEUECREATE);
    FX_METHOD(table, WdfIoQueueGetDevice, PFN_WDFIOQUEUEGETDEVICE);
    FX_METHOD(table, WdfRequestCreate, PFN_WDFREQUESTCREATE);
    FX_METHOD(table, WdfRequestReuse, PFN_WDFREQUESTREUSE);
    FX_METHOD(table, WdfRequestGetParameters, PFN_WDFREQUESTGETPARAMETERS);
    FX_METHOD(table, WdfRequestComplete, PFN_WDFREQUESTCOMPLETE);
    FX_METHOD(table, WdfRequestCompleteWithInformation, PFN_WDFREQUESTCOMPLETEWITHINFORMATION);
    FX_METHOD(table, WdfRequestGetStatus, PFN_WDFREQUESTGETSTATUS);
    FX_METHOD(table, WdfRequestRetrieveInputMemory, PFN_WDFREQUESTRETRIEVEINPUTMEMORY);
    FX_METHOD(table, WdfRequestRetrieveOutputMemory, PFN_WDFREQUESTRETRIEVEOUTPUTMEMORY);
    FX_METHOD(table, WdfRequestRetrieveInputBuffer, PFN_WDFREQUESTRETRIEVEINPUTBUFFER);
    FX_METHOD(table, WdfRequestRetrieveOutputBuffer, PFN_WDFREQUESTRETRIEVEOUTPUTBUFFER);
    FX_METHOD(table, WdfRequestMarkCancelableEx, PFN_WDFREQUESTMARKCANCELABLEEX);
    FX_METHOD(table, WdfRequestUnmarkCancelable, PFN_WDFREQUESTUNMARKCANCELABLE);
    FX_METHOD(table, WdfRequestSetCompletionRoutine, PFN_WDFREQUESTSETCOMPLETIONROUTINE);
    FX_METHOD(table, WdfRequestForwardToIoQueue, PFN_WDFREQUESTFORWARDTOIOQUEUE);
}

}  // namespace kmdfsim::fx
