// Overlapped I/O on the virtual notebook: "\\.\QXSPB" is a handle of the
// device-handle table, and the controller model decides how each request
// ends: at once, after its bus time, failed at once, or never (until it is
// cancelled). A wait spends virtual time exactly as the driver would make a
// Windows caller wait, so the transport above sees what it would see on a
// notebook: 1000 ms before a write is cancelled, 2000 ms before a read is.
// A cancel only asks, as CancelIoEx does: the driver completes the request
// at once, a while later (the model's cancel delay), or, while the bus is
// held, not at all.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "daemon/transport/os_overlapped.h"
#include "driver/include/qxspb_public.h"
#include "sim/controller_model.h"
#include "sim/device_handles.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qx::os {

using qxsim::ControllerModel;
using qxsim::TransferOutcome;
using qxsim::VTime;

struct IoDevice {
    int64_t handle = 0;      // in the device-handle table
    int64_t generation = 0;  // the device generation it was opened on
    bool refused = false;    // the driver refuses its open request
};

struct IoRequest {
    enum class Kind { kWrite, kRead, kControl } kind;
    enum class State { kBusy, kNeverEnds, kSucceeded, kFailed } state;
    uint32_t busy_ms = 0;  // bus time left while kBusy
    bool late = false;     // completes just as a bounded wait for it expires
    // Cancelled while pending: it ends (as cancelled) at cancel_done, or,
    // with -1, once the bus lets go of it.
    bool cancelled = false;
    VTime cancel_done = -1;
    std::vector<uint8_t> data;  // the request's own bytes
    uint32_t delivered = 0;     // bytes a completed read delivered
};

namespace {

// Every call runs inside one of these, named after the transport operation it
// serves: the model notices when two threads are on the transport at once.
class BusScope {
  public:
    explicit BusScope(const char* operation) {
        qxsim::Notebook::Current().Bus().BusEnter(operation);
    }
    ~BusScope() { qxsim::Notebook::Current().Bus().BusLeave(); }
    BusScope(const BusScope&) = delete;
    BusScope& operator=(const BusScope&) = delete;
};

const char* OperationOf(const IoRequest* request) {
    switch (request->kind) {
        case IoRequest::Kind::kWrite:
            return "TransportWrite";
        case IoRequest::Kind::kRead:
            return "TransportRead";
        default:
            return "TransportOpen";
    }
}

VTime Now() {
    return qxsim::Notebook::Current().Kernel().Now();
}

// A cancelled request whose time has come ends now: its bytes never reach the bus.
void SettleCancel(IoRequest* request) {
    if (!request->cancelled || request->state == IoRequest::State::kSucceeded ||
        request->state == IoRequest::State::kFailed)
        return;
    if (request->cancel_done < 0) {
        // Held by the bus: it lets go once the model honours cancels again.
        if (qxsim::Notebook::Current().Controller().IgnoresCancel()) return;
        request->cancel_done = Now();
    }
    if (Now() >= request->cancel_done) request->state = IoRequest::State::kFailed;
}

bool Pending(IoRequest* request) {
    SettleCancel(request);
    return request->state == IoRequest::State::kBusy ||
           request->state == IoRequest::State::kNeverEnds;
}

// A transfer as the driver takes it. A handle opened before the device was
// removed fails every request at once.
IoRequest* IssueTransfer(IoDevice* device, IoRequest::Kind kind, uint32_t len) {
    auto& model = qxsim::Notebook::Current().Controller();
    qxsim::Notebook::Current().Bus().NoteTransferIssued();
    auto* request = new IoRequest{kind, IoRequest::State::kFailed};
    request->data.assign(len, 0);
    if (device == nullptr || !model.HandleValid(device->generation)) return request;
    if (!model.InD0()) {
        // The driver's queue is power-managed: the request waits for D0,
        // which brings the open connection back, and then goes to the bus.
        request->busy_ms = static_cast<uint32_t>(model.D0BackAt() - Now()) + model.TransferTime();
        request->state = IoRequest::State::kBusy;
        return request;
    }
    TransferOutcome outcome =
        kind == IoRequest::Kind::kWrite ? model.NextWriteOutcome() : model.NextReadOutcome();
    if (outcome == TransferOutcome::FailNow) return request;
    request->busy_ms = model.TransferTime();
    if (outcome == TransferOutcome::Complete)
        request->late = model.NextTransferLate(kind == IoRequest::Kind::kWrite);
    request->state = outcome == TransferOutcome::Pending ? IoRequest::State::kNeverEnds
                                                         : IoRequest::State::kBusy;
    return request;
}

// The driver finishes the transfer: its bytes reach the bus.
void Complete(IoRequest* request) {
    request->busy_ms = 0;
    request->state = IoRequest::State::kSucceeded;
    auto& model = qxsim::Notebook::Current().Controller();
    const auto len = static_cast<uint32_t>(request->data.size());
    if (request->kind == IoRequest::Kind::kWrite) {
        model.Write(request->data.data(), len);
    } else if (request->kind == IoRequest::Kind::kRead) {
        model.Read(request->data.data(), len);
        request->delivered = len;
    }
}

[[noreturn]] void ForeverOn(const IoRequest* request, const char* what) {
    std::fprintf(stderr, "virtual notebook: %s waits forever on %s\n", OperationOf(request), what);
    std::abort();
}

}  // namespace

IoDevice* IoOpen(bool* absent) {
    BusScope bus("TransportOpen");
    if (absent != nullptr) *absent = false;
    int64_t handle = 0;
    // ERROR_ACCESS_DENIED: another program has the device.
    if (qxsim::Notebook::Current().DeviceHandles().Open(&handle) !=
        qxsim::DeviceHandles::kErrorSuccess)
        return nullptr;
    // 0: CreateFileW finds no device; -1: the driver will refuse the open code.
    int64_t generation = qxsim::Notebook::Current().Controller().Open();
    if (generation == 0) {
        qxsim::Notebook::Current().DeviceHandles().Close(handle);
        if (absent != nullptr) *absent = true;
        return nullptr;
    }
    return new IoDevice{handle, generation, generation < 0};
}

void IoClose(IoDevice* device) {
    BusScope bus("TransportClose");
    if (device == nullptr) return;
    qxsim::Notebook::Current().DeviceHandles().Close(device->handle);
    delete device;
}

IoRequest* IoIssueWrite(IoDevice* device, const uint8_t* buf, uint32_t len) {
    BusScope bus("TransportWrite");
    IoRequest* request = IssueTransfer(device, IoRequest::Kind::kWrite, len);
    if (len > 0) std::memcpy(request->data.data(), buf, len);
    return request;
}

IoRequest* IoIssueRead(IoDevice* device, uint32_t len) {
    BusScope bus("TransportRead");
    return IssueTransfer(device, IoRequest::Kind::kRead, len);
}

IoRequest* IoIssueControl(IoDevice* device, uint32_t code) {
    BusScope bus("TransportOpen");
    // The driver knows one control code, and refuses it when the model says so.
    bool accepted = device != nullptr && !device->refused && code == IOCTL_QXSPB_OPEN;
    auto* request = new IoRequest{IoRequest::Kind::kControl, accepted ? IoRequest::State::kSucceeded
                                                                      : IoRequest::State::kFailed};
    auto& model = qxsim::Notebook::Current().Controller();
    if (accepted && !model.InD0()) {
        // Like a transfer, the open waits for D0 in the driver's queue.
        request->busy_ms = static_cast<uint32_t>(model.D0BackAt() - Now());
        request->state = IoRequest::State::kBusy;
    }
    return request;
}

IoWaitResult IoWait(IoRequest* request, uint32_t ms) {
    BusScope bus(OperationOf(request));
    auto& kernel = qxsim::Notebook::Current().Kernel();
    if (!Pending(request)) {
        return request->state == IoRequest::State::kSucceeded ? IoWaitResult::kSucceeded
                                                              : IoWaitResult::kFailed;
    }
    if (ms == 0) return IoWaitResult::kTimedOut;  // a poll spends no time
    if (request->cancelled) {
        // Its end is the cancel's: a known moment, or never while the bus holds it.
        if (request->cancel_done < 0) {
            if (ms == kIoWaitForever)
                ForeverOn(request, "a cancelled request the bus never lets go");
            kernel.Sleep(ms);
            return Pending(request) ? IoWaitResult::kTimedOut : IoWaitResult::kFailed;
        }
        const VTime left = request->cancel_done - Now();
        if (ms != kIoWaitForever && left > static_cast<VTime>(ms)) {
            kernel.Sleep(ms);
            return IoWaitResult::kTimedOut;
        }
        kernel.Sleep(static_cast<uint32_t>(left));
        SettleCancel(request);
        return IoWaitResult::kFailed;
    }
    if (request->late && ms != kIoWaitForever && request->state == IoRequest::State::kBusy) {
        // The completion lands between the wait's expiry and the caller's
        // cancel: the wait reports a time-out, the cancel finds nothing.
        kernel.Sleep(ms);
        Complete(request);
        return IoWaitResult::kTimedOut;
    }
    if (ms == kIoWaitForever) {
        // Nothing on the notebook would ever complete it: on Windows the
        // caller hangs for good. Say so rather than hang the virtual clock.
        if (request->state == IoRequest::State::kNeverEnds)
            ForeverOn(request, "a request that never ends");
    } else if (request->state == IoRequest::State::kNeverEnds || request->busy_ms >= ms) {
        // The wait expires with the request still queued.
        kernel.Sleep(ms);
        if (request->state == IoRequest::State::kBusy) request->busy_ms -= ms;
        return IoWaitResult::kTimedOut;
    }
    if (request->busy_ms > 0) kernel.Sleep(request->busy_ms);
    Complete(request);
    return IoWaitResult::kSucceeded;
}

bool IoDone(IoRequest* request) {
    return !Pending(request);
}

bool IoCancel(IoRequest* request) {
    BusScope bus(OperationOf(request));
    if (!Pending(request)) return false;
    if (request->cancelled) return true;  // asked before, still the driver's
    // The driver completes a cancelled request at once or after the model's
    // cancel delay; its bytes never reach the bus. While the bus is held it
    // does not complete at all.
    auto& model = qxsim::Notebook::Current().Controller();
    request->cancelled = true;
    request->cancel_done = model.IgnoresCancel() ? -1 : Now() + model.CancelDelay();
    SettleCancel(request);
    return true;
}

uint32_t IoReadBytes(IoRequest* request, uint8_t* out, uint32_t len) {
    uint32_t n = request->delivered < len ? request->delivered : len;
    if (n > 0) std::memcpy(out, request->data.data(), n);
    return n;
}

void IoRelease(IoRequest* request) {
    if (request != nullptr && Pending(request)) {
        std::fprintf(stderr, "virtual notebook: %s releases a request still pending\n",
                     OperationOf(request));
        std::abort();
    }
    delete request;
}

}  // namespace qx::os
