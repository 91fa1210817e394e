// Overlapped I/O on the virtual notebook: "\\.\QXSPB" is a handle of the
// device-handle table, and the controller model decides how each request
// ends: at once, after its bus time, failed at once, or never (until it is
// cancelled). A wait spends virtual time exactly as the driver would make a
// Windows caller wait, so the transport above sees what it would see on a
// notebook: 1000 ms before a write is cancelled, 2000 ms before a read is.
#include <cstdio>
#include <cstdlib>

#include "daemon/transport/os_overlapped.h"
#include "sim/controller_model.h"
#include "sim/device_handles.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qx::os {

using qxsim::ControllerModel;
using qxsim::TransferOutcome;

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
    const uint8_t* write_buf = nullptr;
    uint8_t* read_buf = nullptr;
    uint32_t len = 0;
};

namespace {

constexpr uint32_t kIoctlQxspbOpen = 0x04731E00;

// Every call runs inside one of these, named after the transport operation it
// serves: the model notices when two threads are on the transport at once.
class BusScope {
  public:
    explicit BusScope(const char* operation) {
        qxsim::Notebook::Current().Controller().BusEnter(operation);
    }
    ~BusScope() { qxsim::Notebook::Current().Controller().BusLeave(); }
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

bool Pending(const IoRequest* request) {
    return request->state == IoRequest::State::kBusy ||
           request->state == IoRequest::State::kNeverEnds;
}

// A transfer as the driver takes it. A handle opened before the device was
// removed fails every request at once.
IoRequest* IssueTransfer(IoDevice* device, IoRequest::Kind kind) {
    auto& model = qxsim::Notebook::Current().Controller();
    auto* request = new IoRequest{kind, IoRequest::State::kFailed};
    if (device == nullptr || !model.HandleValid(device->generation)) return request;
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
    if (request->kind == IoRequest::Kind::kWrite) {
        qxsim::Notebook::Current().Controller().Write(request->write_buf, request->len);
    } else if (request->kind == IoRequest::Kind::kRead) {
        qxsim::Notebook::Current().Controller().Read(request->read_buf, request->len);
    }
}

}  // namespace

IoDevice* IoOpen() {
    BusScope bus("TransportOpen");
    int64_t handle = 0;
    // ERROR_ACCESS_DENIED: another program has the device.
    if (qxsim::Notebook::Current().DeviceHandles().Open(&handle) !=
        qxsim::DeviceHandles::kErrorSuccess)
        return nullptr;
    // 0: CreateFileW finds no device; -1: the driver will refuse the open code.
    int64_t generation = qxsim::Notebook::Current().Controller().Open();
    if (generation == 0) {
        qxsim::Notebook::Current().DeviceHandles().Close(handle);
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
    IoRequest* request = IssueTransfer(device, IoRequest::Kind::kWrite);
    request->write_buf = buf;
    request->len = len;
    return request;
}

IoRequest* IoIssueRead(IoDevice* device, uint8_t* buf, uint32_t len) {
    BusScope bus("TransportRead");
    IoRequest* request = IssueTransfer(device, IoRequest::Kind::kRead);
    request->read_buf = buf;
    request->len = len;
    return request;
}

IoRequest* IoIssueControl(IoDevice* device, uint32_t code) {
    BusScope bus("TransportOpen");
    // The driver knows one control code, and refuses it when the model says so.
    bool accepted = device != nullptr && !device->refused && code == kIoctlQxspbOpen;
    return new IoRequest{IoRequest::Kind::kControl,
                         accepted ? IoRequest::State::kSucceeded : IoRequest::State::kFailed};
}

IoWaitResult IoWait(IoRequest* request, uint32_t ms) {
    BusScope bus(OperationOf(request));
    auto& kernel = qxsim::Notebook::Current().Kernel();
    if (request->state == IoRequest::State::kSucceeded) return IoWaitResult::kSucceeded;
    if (request->state == IoRequest::State::kFailed) return IoWaitResult::kFailed;
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
        if (request->state == IoRequest::State::kNeverEnds) {
            std::fprintf(stderr,
                         "virtual notebook: %s waits forever on a request that never ends\n",
                         OperationOf(request));
            std::abort();
        }
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

bool IoCancel(IoRequest* request) {
    BusScope bus(OperationOf(request));
    if (!Pending(request)) return false;
    // The driver completes a cancelled request at once; its bytes never reach
    // the bus.
    request->state = IoRequest::State::kFailed;
    return true;
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
