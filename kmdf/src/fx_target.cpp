// Remote I/O targets opened through the resource hub, and the simulated SPB
// controllers behind them.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <cwctype>
#include <map>
#include <utility>
#include <vector>

#include "kmdf/spb/spb_rules.h"
#include "kmdf/src/fx.h"

namespace kmdfsim {

namespace {

// The default device on the bus: a read returns the bytes of the last write
// (then zeros), so a write-then-read shows both directions.
class EchoPeripheral final : public Peripheral {
  public:
    size_t Write(const uint8_t* bytes, size_t count) override {
        last_.assign(bytes, bytes + count);
        return count;
    }
    size_t Read(uint8_t* buf, size_t count) override {
        for (size_t i = 0; i < count; i++) buf[i] = i < last_.size() ? last_[i] : 0;
        return count;
    }

  private:
    std::vector<uint8_t> last_;
};

WDFREQUEST AsHandle(Request* r) {
    return reinterpret_cast<WDFREQUEST>(static_cast<Object*>(r));
}
WDFIOTARGET AsHandle(Target* t) {
    return reinterpret_cast<WDFIOTARGET>(static_cast<Object*>(t));
}

}  // namespace

// The checked layout of spbrules, against the structures of the client header.
static_assert(sizeof(SPB_TRANSFER_LIST) == spbrules::kListSize, "transfer list");
static_assert(offsetof(SPB_TRANSFER_LIST, TransferCount) == spbrules::kCountOffset, "count");
static_assert(offsetof(SPB_TRANSFER_LIST, Transfers) == spbrules::kTransfersOffset, "transfers");
static_assert(sizeof(SPB_TRANSFER_LIST_ENTRY) == spbrules::kEntrySize, "entry");
static_assert(offsetof(SPB_TRANSFER_LIST_ENTRY, Buffer) + offsetof(SPB_TRANSFER_BUFFER, Simple) +
                      offsetof(SPB_TRANSFER_BUFFER_LIST_ENTRY, Buffer) ==
                  spbrules::kBufferOffset,
              "simple buffer");
static_assert(offsetof(SPB_TRANSFER_LIST_ENTRY, Buffer) + offsetof(SPB_TRANSFER_BUFFER, Simple) +
                      offsetof(SPB_TRANSFER_BUFFER_LIST_ENTRY, BufferCb) ==
                  spbrules::kLengthOffset,
              "simple buffer length");
static_assert(IOCTL_SPB_LOCK_CONTROLLER == spbrules::kLockController &&
                  IOCTL_SPB_FULL_DUPLEX == spbrules::kFullDuplex &&
                  SpbTransferDirectionToDevice == spbrules::kToDevice,
              "codes");

struct SpbImpl final : SpbController, TargetBackend {
    // The most transfers one list may carry.
    static constexpr uint32_t kMaxTransfers = 64;

    explicit SpbImpl(ULONGLONG connection) : id(connection) {}
    ~SpbImpl() override {
        {
            std::lock_guard<std::mutex> lock(m);
            stop = true;
            cv.notify_all();
        }
        if (worker.joinable()) worker.join();
    }

    ULONGLONG id;
    std::mutex m;
    std::condition_variable cv;
    SpbMode mode = SpbMode::Async;
    uint32_t delayUs = 0;
    NTSTATUS failStatus = STATUS_SUCCESS;
    int failN = 0;
    size_t shortBytes = 0;
    int shortN = 0;
    int nakN = 0;
    Peripheral* peripheral = nullptr;
    EchoPeripheral echo;
    std::deque<Request*> queued;
    std::deque<Request*> held;
    bool stuck = false;
    std::deque<Request*> stuckHeld;     // held while stuck
    std::set<Request*> stuckCancelled;  // of those, the ones whose cancel came
    std::thread worker;
    bool stop = false;
    std::vector<SpbTransaction> log;
    spbrules::Locks locks{};
    int opens = 0;
    int cancels = 0;

    void SetMode(SpbMode newMode, uint32_t delay) override {
        std::lock_guard<std::mutex> lock(m);
        mode = newMode;
        delayUs = delay;
    }
    void FailNext(NTSTATUS status, int n) override {
        std::lock_guard<std::mutex> lock(m);
        failStatus = status;
        failN = n;
    }
    void ShortNext(size_t bytes, int n) override {
        std::lock_guard<std::mutex> lock(m);
        shortBytes = bytes;
        shortN = n;
    }
    void NakNext(int n) override {
        std::lock_guard<std::mutex> lock(m);
        nakN = n;
    }
    void SetPeripheral(Peripheral* p) override {
        std::lock_guard<std::mutex> lock(m);
        peripheral = p;
    }
    void SetStuck(bool on) override {
        std::deque<Request*> release;
        std::set<Request*> cancelled;
        {
            std::lock_guard<std::mutex> lock(m);
            stuck = on;
            if (on) return;
            release.swap(stuckHeld);
            cancelled.swap(stuckCancelled);
        }
        for (Request* r : release) {
            if (cancelled.count(r) != 0) {
                {
                    std::lock_guard<std::mutex> lock(m);
                    cancels++;
                }
                CompleteSent(r, STATUS_CANCELLED, 0);
            } else {
                Execute(r);
            }
        }
    }
    int Held() override {
        std::lock_guard<std::mutex> lock(m);
        return static_cast<int>(held.size());
    }
    bool WaitHeld(int n, uint32_t ms) override {
        std::unique_lock<std::mutex> lock(m);
        return cv.wait_for(lock, std::chrono::milliseconds(ms),
                           [&] { return static_cast<int>(held.size()) >= n; });
    }
    int ReleaseHeld(int n) override {
        int done = 0;
        while (done < n) {
            Request* r;
            {
                std::lock_guard<std::mutex> lock(m);
                if (held.empty()) break;
                r = held.front();
                held.pop_front();
            }
            Execute(r);
            done++;
        }
        return done;
    }
    std::vector<SpbTransaction> Transactions() override {
        std::lock_guard<std::mutex> lock(m);
        return log;
    }
    bool ControllerLocked() override {
        std::lock_guard<std::mutex> lock(m);
        return locks.controller;
    }
    bool ConnectionLocked() override {
        std::lock_guard<std::mutex> lock(m);
        return locks.connection;
    }
    int Opens() override {
        std::lock_guard<std::mutex> lock(m);
        return opens;
    }
    int Cancels() override {
        std::lock_guard<std::mutex> lock(m);
        return cancels;
    }

    void Submit(Request* r, uint64_t send) override {
        std::unique_lock<std::mutex> lock(m);
        // A cancel that came between the send and this point (the IRP's
        // cancel flag, on Windows) completes the request as cancelled here.
        const bool cancelledEarly = r->sendCancelledEarly == send;
        r->sendCancelledEarly = 0;
        r->sendArrived = send;
        if (cancelledEarly) {
            cancels++;
            lock.unlock();
            CompleteSent(r, STATUS_CANCELLED, 0);
            return;
        }
        if (stuck) {
            stuckHeld.push_back(r);
            return;
        }
        if (mode == SpbMode::Inline) {
            lock.unlock();
            Execute(r);
            return;
        }
        if (mode == SpbMode::Hold) {
            held.push_back(r);
        } else {
            queued.push_back(r);
            if (!worker.joinable()) worker = std::thread([this] { Run(); });
        }
        cv.notify_all();
    }

    void SubmitCancelled(Request* r) override {
        {
            std::lock_guard<std::mutex> lock(m);
            cancels++;
        }
        CompleteSent(r, STATUS_CANCELLED, 0);
    }

    void Cancel(Request* r, uint64_t send) override {
        bool found = false;
        {
            std::lock_guard<std::mutex> lock(m);
            if (std::find(stuckHeld.begin(), stuckHeld.end(), r) != stuckHeld.end()) {
                stuckCancelled.insert(r);  // the stuck bus ignores it until it lets go
                return;
            }
            for (auto* list : {&held, &queued}) {
                auto it = std::find(list->begin(), list->end(), r);
                if (it != list->end()) {
                    list->erase(it);
                    found = true;
                    cancels++;
                    break;
                }
            }
            // Sent but not here yet: the cancel must not be lost, or a held
            // transfer would never complete.
            if (!found && r->sendArrived != send) r->sendCancelledEarly = send;
        }
        // A request already on the wire finishes normally.
        if (found) CompleteSent(r, STATUS_CANCELLED, 0);
    }

    void Run() {
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            cv.wait(lock, [&] { return stop || !queued.empty(); });
            if (stop) return;
            Request* r = queued.front();
            queued.pop_front();
            uint32_t delay = delayUs;
            lock.unlock();
            if (delay > 0) std::this_thread::sleep_for(std::chrono::microseconds(delay));
            Execute(r);
            lock.lock();
        }
    }

    // One transfer on the wire. Request fields are stable while it is sent.
    void Execute(Request* r) {
        NTSTATUS status = STATUS_SUCCESS;
        size_t info = 0;
        SpbTransaction t{};
        {
            std::lock_guard<std::mutex> lock(m);
            Peripheral* p = peripheral != nullptr ? peripheral : &echo;
            size_t budget = SIZE_MAX;
            if (shortN != 0) {
                budget = shortBytes;
                if (shortN > 0) shortN--;
            }
            t.kind = r->op == Request::Op::Read    ? 'R'
                     : r->op == Request::Op::Write ? 'W'
                                                   : r->ioctl;
            if (nakN != 0) {
                if (nakN > 0) nakN--;
                status = STATUS_NO_SUCH_DEVICE;  // address not acknowledged
            } else if (failN != 0) {
                if (failN > 0) failN--;
                status = failStatus;
            } else if (r->op == Request::Op::Read) {
                size_t n = std::min(r->ioMemory->length, budget);
                info = p->Read(static_cast<uint8_t*>(r->ioMemory->buffer), n);
                t.readLength = r->ioMemory->length;
            } else if (r->op == Request::Op::Write) {
                size_t n = std::min(r->ioMemory->length, budget);
                const auto* bytes = static_cast<const uint8_t*>(r->ioMemory->buffer);
                t.written.assign(bytes, bytes + n);
                info = p->Write(bytes, n);
            } else {
                status = Control(r, p, budget, &info, &t);
            }
            t.status = status;
            t.information = info;
            log.push_back(t);
        }
        CompleteSent(r, status, info);
    }

    NTSTATUS Control(Request* r, Peripheral* p, size_t budget, size_t* info, SpbTransaction* t) {
        if (spbrules::Locks::Handles(r->ioctl)) return locks.Apply(r->ioctl);
        if (r->ioctl != IOCTL_SPB_EXECUTE_SEQUENCE && r->ioctl != IOCTL_SPB_FULL_DUPLEX)
            return STATUS_NOT_SUPPORTED;
        spbrules::Transfer transfers[kMaxTransfers];
        uint32_t count = 0;
        NTSTATUS status =
            r->ioMemory == nullptr
                ? STATUS_INVALID_PARAMETER
                : spbrules::ReadTransferList(r->ioctl, r->ioMemory->buffer, r->ioMemory->length,
                                             transfers, kMaxTransfers, &count);
        if (!NT_SUCCESS(status)) return status;
        for (uint32_t i = 0; i < count && budget > 0; i++) {
            size_t n = std::min<size_t>(transfers[i].length, budget);
            uint8_t* buf = transfers[i].buffer;
            size_t done;
            if (transfers[i].direction == spbrules::kToDevice) {
                t->written.insert(t->written.end(), buf, buf + n);
                done = p->Write(buf, n);
            } else {
                t->readLength += transfers[i].length;
                done = p->Read(buf, n);
            }
            *info += done;
            budget -= done;
            if (done < n) break;
        }
        return STATUS_SUCCESS;
    }
};

namespace {
std::mutex g_controllersMutex;
std::map<ULONGLONG, std::unique_ptr<SpbImpl>> g_controllers;
}  // namespace

SpbController& Spb(ULONG idLow, ULONG idHigh) {
    ULONGLONG id = (static_cast<ULONGLONG>(idHigh) << 32) | idLow;
    std::lock_guard<std::mutex> lock(g_controllersMutex);
    auto& slot = g_controllers[id];
    if (!slot) slot = std::make_unique<SpbImpl>(id);
    return *slot;
}

SpbImpl* FindController(ULONGLONG id) {
    std::lock_guard<std::mutex> lock(g_controllersMutex);
    auto it = g_controllers.find(id);
    return it == g_controllers.end() ? nullptr : it->second.get();
}

void ResetControllers() {
    std::map<ULONGLONG, std::unique_ptr<SpbImpl>> old;
    {
        std::lock_guard<std::mutex> lock(g_controllersMutex);
        old.swap(g_controllers);
    }
    old.clear();
}

void TargetBackend::SubmitCancelled(Request* r) {
    CompleteSent(r, STATUS_CANCELLED, 0);
}

namespace {
TargetOpener g_targetOpener = nullptr;
}  // namespace

void SetTargetOpener(TargetOpener opener) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    g_targetOpener = opener;
}

void HoldCompletionRoutines(bool hold) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    Fx().holdCompletions = hold;
}

int HeldCompletionRoutines() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return static_cast<int>(Fx().heldCompletions.size());
}

bool WaitHeldCompletionRoutines(int n, uint32_t ms) {
    std::unique_lock<std::recursive_mutex> lock(Fx().m);
    return Fx().heldCompletionsCv.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        return static_cast<int>(Fx().heldCompletions.size()) >= n;
    });
}

void RunHeldCompletionRoutines() {
    std::vector<FxState::HeldCompletion> held;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        held.swap(Fx().heldCompletions);
    }
    for (const auto& h : held) RunCompletion(h.request, h.status, h.information);
}

void CompleteSent(Request* r, NTSTATUS status, ULONG_PTR information) {
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (Fx().holdCompletions && r->state == ReqState::Sent && !r->synchronous) {
            Fx().heldCompletions.push_back({r, status, information});
            Fx().heldCompletionsCv.notify_all();
            return;
        }
    }
    RunCompletion(r, status, information);
}

void RunCompletion(Request* r, NTSTATUS status, ULONG_PTR information) {
    Target* t;
    PFN_WDF_REQUEST_COMPLETION_ROUTINE routine;
    WDFCONTEXT context;
    bool synchronous;
    WDF_REQUEST_COMPLETION_PARAMS params{};
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (r->state != ReqState::Sent) {
            Violation("the bus completed a request that was not sent");
            return;
        }
        r->state = ReqState::Idle;
        r->status = status;
        r->information = information;
        t = r->sentTo;
        routine = r->completion;
        context = r->completionContext;
        synchronous = r->synchronous;
        params.Size = sizeof(params);
        params.IoStatus.Status = status;
        params.IoStatus.Information = information;
        if (r->op == Request::Op::Read) {
            params.Type = WdfRequestTypeRead;
            params.Parameters.Read.Buffer =
                reinterpret_cast<WDFMEMORY>(static_cast<Object*>(r->ioMemory));
            params.Parameters.Read.Length = information;
        } else if (r->op == Request::Op::Write) {
            params.Type = WdfRequestTypeWrite;
            params.Parameters.Write.Buffer =
                reinterpret_cast<WDFMEMORY>(static_cast<Object*>(r->ioMemory));
            params.Parameters.Write.Length = information;
        } else {
            params.Type = WdfRequestTypeDeviceControlInternal;
            params.Parameters.Ioctl.IoControlCode = r->ioctl;
        }
    }
    if (routine != nullptr && !synchronous) {
        // Completion routines run at up to DISPATCH_LEVEL; here always at
        // DISPATCH_LEVEL, so that whatever they call is held to that.
        DispatchScope dispatch;
        routine(AsHandle(r), AsHandle(t), &params, context);
    }
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    t->sent.erase(t->sent.find(r));
    t->cv.notify_all();
}

void Target::Close() {
    std::vector<std::pair<Request*, uint64_t>> inFlight;
    TargetBackend* c;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (st != St::Opened) return;
        st = St::Closed;
        for (Request* r : sent) {
            if (r->state == ReqState::Sent) inFlight.emplace_back(r, r->sends);
        }
        c = backend;
    }
    for (const auto& f : inFlight) c->Cancel(f.first, f.second);
    std::unique_lock<std::recursive_mutex> lock(Fx().m);
    if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return sent.empty(); })) {
        Violation("closing a target: sent requests never completed");
        return;  // the backend still owes completions: it stays
    }
    lock.unlock();
    c->Closed();
}

void RefuseSends(NTSTATUS status, int n) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    Fx().refuseStatus = status;
    Fx().refuseCount = n;
}

void BeforeNextSend(std::function<void()> hook) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    Fx().beforeSend = std::move(hook);
}

std::wstring LastOpenedTargetName() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().lastOpenName;
}

ACCESS_MASK LastOpenedTargetAccess() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().lastOpenAccess;
}

}  // namespace kmdfsim

namespace kmdfsim::fx {

namespace {
Request* SentRequest(WDFREQUEST handle, const char* api) {
    auto* o = reinterpret_cast<Object*>(handle);
    if (o == nullptr || Fx().live.count(o) == 0 || o->kind != Kind::Request) {
        Violation(std::string(api) + ": invalid request handle");
        return nullptr;
    }
    return static_cast<Request*>(o);
}

NTSTATUS Format(WDFIOTARGET IoTarget, WDFREQUEST Request, kmdfsim::Request::Op op, ULONG code,
                WDFMEMORY memory, const char* api) {
    auto* t = Checked<Target>(IoTarget, Kind::IoTarget, api);
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    kmdfsim::Request* r = SentRequest(Request, api);
    if (t == nullptr || r == nullptr) return STATUS_INVALID_PARAMETER;
    if (r->state == ReqState::Sent) {
        Violation(std::string(api) + " of a request still sent to a target");
        return STATUS_INVALID_DEVICE_STATE;
    }
    kmdfsim::Memory* m = nullptr;
    if (memory != nullptr) {
        auto* o = reinterpret_cast<Object*>(memory);
        if (Fx().live.count(o) == 0 || o->kind != Kind::Memory) {
            Violation(std::string(api) + ": invalid memory handle");
            return STATUS_INVALID_PARAMETER;
        }
        m = static_cast<kmdfsim::Memory*>(o);
    } else if (op != kmdfsim::Request::Op::Ioctl) {
        return STATUS_INVALID_PARAMETER;
    }
    r->op = op;
    r->ioctl = code;
    r->ioMemory = m;
    return STATUS_SUCCESS;
}

bool ParseHubPath(const std::wstring& name, ULONGLONG* id) {
    const std::wstring prefix = L"\\Device\\RESOURCE_HUB\\";
    if (name.size() != prefix.size() + 16 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    ULONGLONG value = 0;
    for (size_t i = prefix.size(); i < name.size(); i++) {
        wchar_t c = name[i];
        if (!iswxdigit(static_cast<wint_t>(c))) return false;
        value = value * 16 + static_cast<ULONGLONG>(iswdigit(static_cast<wint_t>(c))
                                                        ? c - L'0'
                                                        : (towlower(c) - L'a' + 10));
    }
    *id = value;
    return true;
}
}  // namespace

NTSTATUS WdfIoTargetCreate(WDFDEVICE Device, PWDF_OBJECT_ATTRIBUTES IoTargetAttributes,
                           WDFIOTARGET* IoTarget) {
    CheckIrql("WdfIoTargetCreate", PASSIVE_LEVEL);
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfIoTargetCreate");
    if (d == nullptr) return STATUS_INVALID_PARAMETER;
    auto* t = new Target();
    t->device = d;
    Attach(t, d, IoTargetAttributes);
    *IoTarget = AsHandle(t);
    return STATUS_SUCCESS;
}

NTSTATUS WdfIoTargetOpen(WDFIOTARGET IoTarget, PWDF_IO_TARGET_OPEN_PARAMS OpenParams) {
    CheckIrql("WdfIoTargetOpen", PASSIVE_LEVEL);
    auto* t = Checked<Target>(IoTarget, Kind::IoTarget, "WdfIoTargetOpen");
    if (t == nullptr || OpenParams == nullptr ||
        OpenParams->Size != sizeof(WDF_IO_TARGET_OPEN_PARAMS) ||
        OpenParams->Type != WdfIoTargetOpenByName) {
        return STATUS_INVALID_PARAMETER;
    }
    const UNICODE_STRING& u = OpenParams->TargetDeviceName;
    std::wstring name =
        u.Buffer == nullptr ? std::wstring() : std::wstring(u.Buffer, u.Length / sizeof(WCHAR));
    TargetOpener opener;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (t->st == Target::St::Opened) return STATUS_INVALID_DEVICE_STATE;
        opener = g_targetOpener;
    }
    TargetBackend* backend = nullptr;
    if (opener != nullptr) {
        NTSTATUS status = opener(name, *OpenParams, &backend);
        if (!NT_SUCCESS(status)) return status;
    } else {
        ULONGLONG id = 0;
        if (!ParseHubPath(name, &id)) return STATUS_OBJECT_NAME_NOT_FOUND;
        SpbImpl* c = FindController(id);
        if (c == nullptr) return STATUS_OBJECT_NAME_NOT_FOUND;
        std::lock_guard<std::mutex> lock(c->m);
        c->opens++;
        backend = c;
    }
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    t->st = Target::St::Opened;
    t->backend = backend;
    Fx().lastOpenName = name;
    Fx().lastOpenAccess = OpenParams->DesiredAccess;
    return STATUS_SUCCESS;
}

VOID WdfIoTargetClose(WDFIOTARGET IoTarget) {
    CheckIrql("WdfIoTargetClose", PASSIVE_LEVEL);
    auto* t = Checked<Target>(IoTarget, Kind::IoTarget, "WdfIoTargetClose");
    if (t != nullptr) t->Close();
}

NTSTATUS WdfIoTargetFormatRequestForRead(WDFIOTARGET IoTarget, WDFREQUEST Request,
                                         WDFMEMORY OutputBuffer,
                                         PWDFMEMORY_OFFSET OutputBufferOffset,
                                         PLONGLONG DeviceOffset) {
    if (OutputBufferOffset != nullptr || DeviceOffset != nullptr) return STATUS_NOT_SUPPORTED;
    return Format(IoTarget, Request, kmdfsim::Request::Op::Read, 0, OutputBuffer,
                  "WdfIoTargetFormatRequestForRead");
}

NTSTATUS WdfIoTargetFormatRequestForWrite(WDFIOTARGET IoTarget, WDFREQUEST Request,
                                          WDFMEMORY InputBuffer,
                                          PWDFMEMORY_OFFSET InputBufferOffset,
                                          PLONGLONG DeviceOffset) {
    if (InputBufferOffset != nullptr || DeviceOffset != nullptr) return STATUS_NOT_SUPPORTED;
    return Format(IoTarget, Request, kmdfsim::Request::Op::Write, 0, InputBuffer,
                  "WdfIoTargetFormatRequestForWrite");
}

NTSTATUS WdfIoTargetFormatRequestForIoctl(WDFIOTARGET IoTarget, WDFREQUEST Request, ULONG IoctlCode,
                                          WDFMEMORY InputBuffer,
                                          PWDFMEMORY_OFFSET InputBufferOffset,
                                          WDFMEMORY OutputBuffer,
                                          PWDFMEMORY_OFFSET OutputBufferOffset) {
    if (InputBufferOffset != nullptr || OutputBuffer != nullptr || OutputBufferOffset != nullptr) {
        return STATUS_NOT_SUPPORTED;
    }
    return Format(IoTarget, Request, kmdfsim::Request::Op::Ioctl, IoctlCode, InputBuffer,
                  "WdfIoTargetFormatRequestForIoctl");
}

BOOLEAN WdfRequestSend(WDFREQUEST Request, WDFIOTARGET Target,
                       PWDF_REQUEST_SEND_OPTIONS RequestOptions) {
    bool synchronous = RequestOptions != nullptr &&
                       (RequestOptions->Flags & WDF_REQUEST_SEND_OPTION_SYNCHRONOUS) != 0;
    // A synchronous send waits for the target: PASSIVE_LEVEL only.
    CheckIrql(synchronous ? "WdfRequestSend (synchronous)" : "WdfRequestSend",
              synchronous ? PASSIVE_LEVEL : DISPATCH_LEVEL);
    std::function<void()> hook;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        hook.swap(Fx().beforeSend);
    }
    if (hook) hook();
    auto* t = Checked<kmdfsim::Target>(Target, Kind::IoTarget, "WdfRequestSend");
    kmdfsim::Request* r;
    TargetBackend* c;
    bool cancelledBefore;
    uint64_t send;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        r = SentRequest(Request, "WdfRequestSend");
        if (r == nullptr || t == nullptr) return FALSE;
        if (r->state == ReqState::Sent) {
            Violation("WdfRequestSend of a request already sent");
            return FALSE;
        }
        if (r->op == kmdfsim::Request::Op::None) {
            Violation("WdfRequestSend of a request that was not formatted");
            r->status = STATUS_INVALID_DEVICE_REQUEST;
            return FALSE;
        }
        if (Fx().refuseCount != 0) {
            if (Fx().refuseCount > 0) Fx().refuseCount--;
            r->status = Fx().refuseStatus;
            return FALSE;
        }
        if (t->st != kmdfsim::Target::St::Opened) {
            r->status = STATUS_INVALID_DEVICE_STATE;
            return FALSE;
        }
        r->state = ReqState::Sent;
        r->sentTo = t;
        r->synchronous = synchronous;
        t->sent.insert(r);
        c = t->backend;
        cancelledBefore = r->cancelSent;
        send = ++r->sends;
    }
    if (cancelledBefore) {
        // Cancelled before it was sent: the request goes down already marked
        // cancelled, and the controller completes it so at once.
        c->SubmitCancelled(r);
    } else {
        c->Submit(r, send);
    }
    if (synchronous) {
        std::unique_lock<std::recursive_mutex> lock(Fx().m);
        t->cv.wait(lock, [&] { return t->sent.count(r) == 0; });
        r->synchronous = false;
        return NT_SUCCESS(r->status) ? TRUE : FALSE;
    }
    return TRUE;
}

BOOLEAN WdfRequestCancelSentRequest(WDFREQUEST Request) {
    TargetBackend* c;
    kmdfsim::Request* r;
    uint64_t send;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        r = SentRequest(Request, "WdfRequestCancelSentRequest");
        if (r == nullptr) return FALSE;
        r->cancelSent = true;  // a send still to come completes it as cancelled
        if (r->state != ReqState::Sent) return FALSE;
        c = r->sentTo->backend;
        send = r->sends;
    }
    c->Cancel(r, send);
    return TRUE;
}

// ---- Table entries ----------------------------------------------------------------------

void AddTargetMethods(MethodTable& table) {
    FX_METHOD(table, WdfIoTargetCreate, PFN_WDFIOTARGETCREATE);
    FX_METHOD(table, WdfIoTargetOpen, PFN_WDFIOTARGETOPEN);
    FX_METHOD(table, WdfIoTargetClose, PFN_WDFIOTARGETCLOSE);
    FX_METHOD(table, WdfIoTargetFormatRequestForRead, PFN_WDFIOTARGETFORMATREQUESTFORREAD);
    FX_METHOD(table, WdfIoTargetFormatRequestForWrite, PFN_WDFIOTARGETFORMATREQUESTFORWRITE);
    FX_METHOD(table, WdfIoTargetFormatRequestForIoctl, PFN_WDFIOTARGETFORMATREQUESTFORIOCTL);
    FX_METHOD(table, WdfRequestSend, PFN_WDFREQUESTSEND);
    FX_METHOD(table, WdfRequestCancelSentRequest, PFN_WDFREQUESTCANCELSENTREQUEST);
}

}  // namespace kmdfsim::fx
