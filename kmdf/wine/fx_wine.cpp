// The framework half of WDFLDR.SYS under Wine: kmdf/src as it is, with the
// I/O manager, the PnP manager and the remote targets of a real kernel
// around it (the kernel half is wdm_io.cpp).
//
// Wine dispatches every IRP of the process on one thread and answers a
// device's own requests to other devices through that same thread, so
// nothing that may wait runs there: each IRP is queued to the I/O manager's
// thread here, in arrival order (a handle's requests come after its create,
// a PnP operation after the opens before it), and the framework completes it
// from whichever thread finishes it.
#include "kmdf/wine/fx_wine.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwctype>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "kmdf/inf/inf_properties.h"
#include "kmdf/src/fx.h"
#include "kmdf/wine/fx_control.h"

namespace kmdfsim {
// The I/O manager's side of a handle (fx_pnp.cpp).
FileObj* OpenFile(const std::wstring& link, bool inNamespace, const std::string& account,
                  NTSTATUS* status);
void CleanupFile(FileObj* f);
}  // namespace kmdfsim

using namespace kmdfsim;

namespace kmdfwine {

struct Io {
    // The IRP's (CompleteIrp), its completion's (Finish) and its turn on the
    // I/O manager's thread (StartIo).
    std::atomic<int> refs{3};
    IoParams params{};
    void* irp = nullptr;
    std::mutex m;
    bool cancelled = false;  // the IRP's cancel routine ran
    bool completed = false;
    std::shared_ptr<Irp> sim;  // once handed to the framework
};

namespace {

// A device object this half created: the framework's device, by the link
// the driver gave it (the named object the I/O manager checks on create).
struct DeviceRecord {
    std::wstring link;
};

// A handle to the framework's device: the framework's file object, or the
// status its create was refused with. Wine hands out the handle even when
// the create fails, so every later request of it fails the same way.
struct FileRecord {
    FileObj* file = nullptr;
    NTSTATUS refused = STATUS_SUCCESS;
};

// What the double puts on the device: the resources the firmware of the
// notebook describes (the controller's I2C connection, its interrupt line)
// and the PDO's name, as Windows names one.
constexpr ULONG kConnectionLow = 2;
constexpr ULONG kConnectionHigh = 1;
constexpr ULONG kInterruptVector = 0x35;
const wchar_t kPdoName[] = L"\\Device\\00000049";
// Wine runs every program elevated: the caller is an administrator.
const char kCaller[] = "BA";

struct Machine {
    std::mutex m;
    std::condition_variable cv;
    // IRPs and PnP operations, in arrival order.
    std::deque<std::function<void()>> fifo;
    bool stop = false;
    std::thread worker;
    std::thread starter;
    std::atomic<bool> stopStarter{false};
    std::wstring service;
    void (*stubUnload)(void*) = nullptr;
    // The device node: its device object and the PnP manager's counts
    // (written on the I/O manager's thread, read by the control device).
    DeviceRecord device;
    void* deviceObject = nullptr;
    std::atomic<uint32_t> adds{0}, starts{0}, d0Exits{0}, removes{0}, vetoes{0}, requests{0};
    std::atomic<int32_t> lastStart{0};
};

// Lives as long as winedevice: its threads end at the unbind, and a
// destructor at process exit would only race them.
Machine& M() {
    static Machine* machine = new Machine();
    return *machine;
}

// The one completion of every IRP the framework half took.
void Finish(Io* io, NTSTATUS status, size_t information) {
    {
        std::lock_guard<std::mutex> lock(io->m);
        if (io->completed) {
            Violation("the I/O manager completed an IRP twice");
            return;
        }
        io->completed = true;
    }
    CompleteIrp(io->irp, io, status, information);
    UnrefIo(io);
}

// ---- Plug and Play ------------------------------------------------------------------

std::string Narrow(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += c < 0x80 ? static_cast<char>(c) : '?';
    return s;
}

void ReportLine(const std::string& line) {
    Report(("kmdfsim: " + line).c_str());
}

// Device add, prepare hardware and D0 entry, as the PnP manager starts a
// device node: the device's properties from its installed INF, its settings
// from its hardware key, the firmware's resources.
QxKmdfPnp StartNode() {
    Machine& w = M();
    if (DevicePresent()) return {kQxKmdfDone, STATUS_SUCCESS};
    NTSTATUS status = STATUS_SUCCESS;
    char inf[520];
    InfDeviceProperties properties;
    std::string error;
    if (!InstalledInfPath(QXKMDF_INSTANCE, inf, sizeof(inf))) {
        ReportLine("no installed INF for " + Narrow(QXKMDF_INSTANCE));
        status = STATUS_OBJECT_NAME_NOT_FOUND;
    } else if (!DevicePropertiesFromInf(inf, &properties, &error)) {
        ReportLine(error);
        status = STATUS_INVALID_PARAMETER;
    }
    if (NT_SUCCESS(status)) {
        SetDeviceProperties(properties.device);
        uint32_t value = 0;
        const int setting =
            ReadDeviceSetting(QXKMDF_INSTANCE, L"Settings", L"ConnectInterrupt", &value);
        SetSettingsKey(setting >= 1);
        SetConnectInterrupt(setting == 2 ? std::optional<ULONG>(value) : std::nullopt);
        SetResources({ConnectionResource(CM_RESOURCE_CONNECTION_CLASS_SERIAL,
                                         CM_RESOURCE_CONNECTION_TYPE_SERIAL_I2C, kConnectionLow,
                                         kConnectionHigh),
                      InterruptResource(kInterruptVector)});
        status = AddDevice();
        w.adds++;
    }
    if (NT_SUCCESS(status)) {
        {
            std::lock_guard<std::recursive_mutex> lock(Fx().m);
            w.device.link = Fx().device != nullptr ? Fx().device->link : std::wstring();
        }
        int32_t created = STATUS_SUCCESS;
        w.deviceObject =
            CreateDevice(kPdoName, w.device.link.empty() ? nullptr : w.device.link.c_str(),
                         properties.device_characteristics, &w.device, &created);
        if (w.deviceObject == nullptr) {
            ReportLine("the device object could not be created: status " + std::to_string(created));
            DisableDevice();
            status = created;
        }
    }
    w.lastStart = status;
    if (!NT_SUCCESS(status)) return {kQxKmdfFailed, status};
    w.starts++;
    return {kQxKmdfDone, STATUS_SUCCESS};
}

// Query remove (an open handle vetoes it), then D0 exit, release hardware
// and the device deleted.
QxKmdfPnp RemoveNode() {
    Machine& w = M();
    if (!DevicePresent()) return {kQxKmdfDone, STATUS_SUCCESS};
    const bool inD0 = DeviceInD0();
    if (!DisableDevice()) {
        w.vetoes++;
        return {kQxKmdfVetoed, STATUS_SUCCESS};
    }
    if (inD0) w.d0Exits++;
    w.removes++;
    if (w.deviceObject != nullptr) DeleteDevice(w.deviceObject);
    w.deviceObject = nullptr;
    return {kQxKmdfDone, STATUS_SUCCESS};
}

bool SameInstance(const uint8_t* in, size_t length) {
    const wchar_t* want = QXKMDF_INSTANCE;
    const size_t chars = wcslen(want) + 1;
    if (in == nullptr || length != chars * sizeof(wchar_t)) return false;
    for (size_t i = 0; i < chars; i++) {
        wchar_t c;
        memcpy(&c, in + i * sizeof(wchar_t), sizeof(c));
        if (towupper(c) != towupper(want[i])) return false;
    }
    return true;
}

void RunPnp(Io* io) {
    const IoParams& p = io->params;
    QxKmdfPnp result{kQxKmdfNoNode, STATUS_SUCCESS};
    if (p.outLength < sizeof(result)) {
        Finish(io, STATUS_BUFFER_TOO_SMALL, 0);
        return;
    }
    if (SameInstance(p.in, p.inLength)) {
        result = p.code == QXKMDF_DISABLE ? RemoveNode() : StartNode();
    }
    memcpy(p.out, &result, sizeof(result));
    Finish(io, STATUS_SUCCESS, sizeof(result));
}

// ---- Remote I/O targets --------------------------------------------------------------------

// A real device object opened by name. A send is recorded as arrived under
// the lock it is handed down under, so a cancel finds it either not arrived
// (kept for the send, as the IRP's cancel flag) or on its way.
struct DeviceBackend final : TargetBackend {
    explicit DeviceBackend(Target* t) : target(t) {}
    Target* target;
    std::mutex m;

    void Submit(Request* r, uint64_t send) override {
        bool early;
        {
            std::lock_guard<std::mutex> lock(m);
            early = r->sendCancelledEarly == send;
            r->sendCancelledEarly = 0;
            r->sendArrived = send;
            if (!early) {
                TargetOp op = r->op == Request::Op::Read    ? TargetOp::Read
                              : r->op == Request::Op::Write ? TargetOp::Write
                                                            : TargetOp::Control;
                void* buffer = r->ioMemory != nullptr ? r->ioMemory->buffer : nullptr;
                size_t length = r->ioMemory != nullptr ? r->ioMemory->length : 0;
                SendTarget(target, r, send, op, r->ioctl, buffer, length);
            }
        }
        if (early) CompleteSent(r, STATUS_CANCELLED, 0);
    }

    void Cancel(Request* r, uint64_t send) override {
        std::lock_guard<std::mutex> lock(m);
        if (r->sendArrived != send) {
            r->sendCancelledEarly = send;
            return;
        }
        CancelTarget(target, r, send);
    }

    void Closed() override {
        CloseTarget(target);
        delete this;
    }
};

NTSTATUS OpenDevice(const std::wstring& name, const WDF_IO_TARGET_OPEN_PARAMS& params,
                    TargetBackend** backend) {
    TargetOpen open{name.c_str(),        name.size(),           params.DesiredAccess,
                    params.ShareAccess,  params.FileAttributes, params.CreateDisposition,
                    params.CreateOptions};
    Target* target = nullptr;
    NTSTATUS status = OpenTarget(open, &target);
    if (NT_SUCCESS(status)) *backend = new DeviceBackend(target);
    return status;
}

// ---- Requests ------------------------------------------------------------------------

void Deliver(Io* io, FileRecord* record) {
    const IoParams& p = io->params;
    auto irp = std::make_shared<Irp>();
    if (p.kind == IoKind::Read) {
        irp->type = WdfRequestTypeRead;
        irp->outLength = p.outLength;
        irp->system.assign(p.outLength, 0);
        irp->userOut = p.out;
    } else if (p.kind == IoKind::Write) {
        irp->type = WdfRequestTypeWrite;
        irp->inLength = p.inLength;
        irp->system.assign(p.in, p.in + p.inLength);
    } else {
        irp->type = WdfRequestTypeDeviceControl;
        irp->code = p.code;
        irp->inLength = p.inLength;
        irp->outLength = p.outLength;
        irp->system.assign(p.inLength > p.outLength ? p.inLength : p.outLength, 0);
        if (p.inLength > 0) memcpy(irp->system.data(), p.in, p.inLength);
        irp->userOut = p.out;
    }
    irp->completed = [io](Irp& done) {
        const NTSTATUS status = done.status;
        const size_t information = done.information;
        // The framework keeps completed requests to recognise a second
        // completion; their data need not stay.
        std::vector<uint8_t>().swap(done.system);
        Finish(io, status, information);
    };
    Request* r = NewClientRequest(record->file->device, record->file, irp);
    if (r == nullptr) {
        Finish(io, STATUS_INVALID_HANDLE, 0);  // the handle is being closed
        return;
    }
    M().requests++;
    bool cancelled;
    {
        std::lock_guard<std::mutex> lock(io->m);
        io->sim = irp;
        cancelled = io->cancelled;
    }
    // A cancel that came while the request was being made: the framework
    // takes it as one that came before the request reached the driver.
    if (cancelled) CancelIrp(irp);
    DeliverToDevice(r);
}

void Process(Io* io) {
    const IoParams& p = io->params;
    if (p.device == nullptr) {  // the control device
        RunPnp(io);
        return;
    }
    auto* device = static_cast<DeviceRecord*>(p.device);
    auto* record = static_cast<FileRecord*>(*p.fileContext);
    switch (p.kind) {
        case IoKind::Create: {
            record = new FileRecord();
            record->file = OpenFile(device->link, p.inNamespace, kCaller, &record->refused);
            *p.fileContext = record;
            Finish(io, record->refused, 0);
            return;
        }
        case IoKind::Cleanup:
        case IoKind::Close: {
            // Wine sends no IRP_MJ_CLEANUP: the close runs the clean-up.
            if (record != nullptr && record->file != nullptr) {
                CleanupFile(record->file);
                record->file = nullptr;
            }
            if (p.kind == IoKind::Close) {
                delete record;
                *p.fileContext = nullptr;
            }
            Finish(io, STATUS_SUCCESS, 0);
            return;
        }
        default:
            break;
    }
    if (record == nullptr) {
        Finish(io, STATUS_INVALID_HANDLE, 0);
    } else if (record->file == nullptr) {
        Finish(io, NT_SUCCESS(record->refused) ? STATUS_INVALID_HANDLE : record->refused, 0);
    } else {
        Deliver(io, record);
    }
}

void RunIoManager() {
    Machine& w = M();
    std::unique_lock<std::mutex> lock(w.m);
    for (;;) {
        w.cv.wait(lock, [&] { return w.stop || !w.fifo.empty(); });
        if (w.fifo.empty()) return;  // stopping, and nothing left
        std::function<void()> work = std::move(w.fifo.front());
        w.fifo.pop_front();
        lock.unlock();
        work();
        lock.lock();
    }
}

void Post(std::function<void()> work) {
    Machine& w = M();
    std::lock_guard<std::mutex> lock(w.m);
    w.fifo.push_back(std::move(work));
    w.cv.notify_all();
}

// Runs work on the I/O manager's thread, behind everything queued before it,
// and waits for it.
void RunInOrder(std::function<void()> work) {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    Post([&] {
        work();
        std::lock_guard<std::mutex> lock(m);
        done = true;
        cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return done; });
}

// The unload routine the PnP manager puts before the loader stub's: the
// device node goes first, as Windows removes a PnP driver's devices before
// it unloads the driver. A handle still open vetoes that, as it would the
// query remove on Windows; the driver is then unloaded under its device.
void UnloadRoutine(void* driverObject) {
    Machine& w = M();
    RunInOrder([] {
        if (RemoveNode().outcome == kQxKmdfVetoed)
            ReportLine("unloaded while a handle to the device is open");
    });
    if (w.stubUnload != nullptr) w.stubUnload(driverObject);
}

// Waits for the driver's entry point to return (the service manager reports
// the service running), then starts the device node.
void RunStarter() {
    Machine& w = M();
    if (!WaitServiceRunning(w.service.c_str(), 60000, &w.stopStarter)) {
        if (!w.stopStarter) ReportLine("the driver's service never ran; the device stays absent");
        return;
    }
    DisplaceUnload(UnloadRoutine, &w.stubUnload);
    Post([] {
        const QxKmdfPnp started = StartNode();
        if (started.outcome != kQxKmdfDone)
            ReportLine("the device did not start: status " + std::to_string(started.status));
    });
}

}  // namespace

// ---- The bridge -------------------------------------------------------------------------

Io* NewIo(const IoParams& params, void* irp) {
    auto* io = new Io();
    io->params = params;
    io->irp = irp;
    return io;
}

void StartIo(Io* io) {
    Post([io] {
        bool cancelled;
        {
            std::lock_guard<std::mutex> lock(io->m);
            cancelled = io->cancelled;
        }
        // Cancelled before the framework saw it: it never reaches the driver.
        // A create or close is not cancelable.
        const IoKind kind = io->params.kind;
        if (cancelled && kind != IoKind::Create && kind != IoKind::Close &&
            kind != IoKind::Cleanup) {
            Finish(io, STATUS_CANCELLED, 0);
        } else {
            Process(io);
        }
        UnrefIo(io);  // its turn is over
    });
}

void CancelIo(Io* io) {
    std::shared_ptr<Irp> sim;
    {
        std::lock_guard<std::mutex> lock(io->m);
        io->cancelled = true;
        sim = io->sim;
    }
    if (sim) CancelIrp(sim);
}

void RefIo(Io* io) {
    io->refs.fetch_add(1);
}

void UnrefIo(Io* io) {
    if (io->refs.fetch_sub(1) == 1) delete io;
}

void TargetDone(void* context, int32_t status, size_t information) {
    CompleteSent(static_cast<Request*>(context), status, information);
}

void CheckKernelWait(bool poll) {
    CheckIrql(poll ? "KeWaitForSingleObject (zero time-out)" : "KeWaitForSingleObject",
              poll ? DISPATCH_LEVEL : APC_LEVEL);
}

bool ControlNow(uint32_t code, const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength,
                int32_t* status, size_t* information) {
    (void)in;
    (void)inLength;
    *information = 0;
    if (code == QXKMDF_GET_STATE) {
        if (outLength < sizeof(QxKmdfState)) {
            *status = STATUS_BUFFER_TOO_SMALL;
            return true;
        }
        const Machine& w = M();
        QxKmdfState s{};
        s.adds = w.adds;
        s.starts = w.starts;
        s.d0_exits = w.d0Exits;
        s.removes = w.removes;
        s.vetoes = w.vetoes;
        s.last_start_status = w.lastStart;
        {
            std::lock_guard<std::recursive_mutex> lock(Fx().m);
            s.bound = Fx().bound != nullptr;
        }
        s.present = DevicePresent();
        s.in_d0 = DeviceInD0();
        s.violations = static_cast<uint32_t>(Violations().size());
        s.requests = w.requests;
        s.outstanding = static_cast<uint32_t>(OutstandingRequests());
        memcpy(out, &s, sizeof(s));
        *information = sizeof(s);
        *status = STATUS_SUCCESS;
        return true;
    }
    if (code == QXKMDF_GET_VIOLATIONS) {
        std::string text;
        for (const std::string& v : Violations()) text += v + "\n";
        if (outLength == 0) {
            *status = STATUS_BUFFER_TOO_SMALL;
            return true;
        }
        const size_t n = text.size() < outLength - 1 ? text.size() : outLength - 1;
        memcpy(out, text.data(), n);
        out[n] = 0;
        *information = n + 1;
        *status = STATUS_SUCCESS;
        return true;
    }
    if (code == QXKMDF_DISABLE || code == QXKMDF_ENABLE) return false;
    *status = STATUS_INVALID_DEVICE_REQUEST;
    return true;
}

}  // namespace kmdfwine

using namespace kmdfwine;

// ---- The framework loader's exports ----------------------------------------------------

// The simulation's bind, then what the framework does besides on Windows:
// it takes over the client's driver object, and the PnP manager will add its
// device once the driver's entry point has returned.
extern "C" NTSTATUS FxWineVersionBind(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath,
                                      PWDF_BIND_INFO BindInfo, PWDF_DRIVER_GLOBALS* Globals) {
    NTSTATUS status = WdfVersionBind(DriverObject, RegistryPath, BindInfo, Globals);
    if (!NT_SUCCESS(status)) return status;
    status = AttachDriver(DriverObject);
    if (!NT_SUCCESS(status)) {
        WdfVersionUnbind(RegistryPath, BindInfo, *Globals);
        *Globals = nullptr;
        return status;
    }
    SetTargetOpener(OpenDevice);
    Machine& w = M();
    std::wstring path(RegistryPath->Buffer, RegistryPath->Length / sizeof(WCHAR));
    w.service = path.substr(path.find_last_of(L'\\') + 1);
    w.stop = false;
    w.stopStarter = false;
    w.worker = std::thread(RunIoManager);
    w.starter = std::thread(RunStarter);
    return STATUS_SUCCESS;
}

extern "C" NTSTATUS FxWineVersionUnbind(PUNICODE_STRING RegistryPath, PWDF_BIND_INFO BindInfo,
                                        PWDF_DRIVER_GLOBALS Globals) {
    NTSTATUS status = WdfVersionUnbind(RegistryPath, BindInfo, Globals);
    Machine& w = M();
    w.stopStarter = true;
    if (w.starter.joinable()) w.starter.join();
    {
        std::lock_guard<std::mutex> lock(w.m);
        w.stop = true;
        w.cv.notify_all();
    }
    if (w.worker.joinable()) w.worker.join();
    DetachDriver();
    return status;
}
