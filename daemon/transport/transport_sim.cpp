// The host transport on the virtual notebook. Each branch ends the way the
// Windows transport ends against the driver: the same statuses, the same
// return values and the same virtual time spent (1000 ms before a write is
// cancelled, 2000 ms before a read is), so that commands and the worker see
// exactly what they would see on a notebook.
#include "daemon/transport/transport.h"

#include "sim/notebook.h"
#include "sim/controller_model.h"
#include "sim/device_handles.h"
#include "sim/vkernel.h"

namespace qx {

namespace {

using qxsim::ControllerModel;
using qxsim::TransferOutcome;

constexpr uint32_t kWriteWaitMs = 1000;
constexpr uint32_t kReadWaitMs = 2000;

// 0: closed; otherwise the device generation the handle was opened on.
int64_t g_device = 0;
// The handle to "\\.\QXSPB" (0: none). The device is exclusive: it stays
// ours, and everyone else's open fails, until it is closed.
int64_t g_handle = 0;

void CloseHandleOnce() {
    qxsim::Notebook::Current().DeviceHandles().Close(g_handle);
    g_handle = 0;
    g_device = 0;
}

// Every transport operation runs inside one of these: the model notices when
// two threads are on the transport at once.
class BusScope {
  public:
    explicit BusScope(const char* operation) {
        qxsim::Notebook::Current().Controller().BusEnter(operation);
    }
    ~BusScope() { qxsim::Notebook::Current().Controller().BusLeave(); }
    BusScope(const BusScope&) = delete;
    BusScope& operator=(const BusScope&) = delete;
};

enum class Ended { Completed, Cancelled, NothingToCancel };

// The life of one overlapped request after it was issued.
Ended RunTransfer(bool write, uint32_t wait_ms) {
    auto& model = qxsim::Notebook::Current().Controller();
    auto& kernel = qxsim::Notebook::Current().Kernel();
    // A handle opened before the device was removed fails every request at once.
    if (!model.HandleValid(g_device)) return Ended::NothingToCancel;
    TransferOutcome outcome = write ? model.NextWriteOutcome() : model.NextReadOutcome();
    if (outcome == TransferOutcome::FailNow) return Ended::NothingToCancel;
    uint32_t busy = model.TransferTime();
    if (outcome == TransferOutcome::Pending || busy >= wait_ms) {
        // The wait expires with the request still queued; the driver completes
        // it as cancelled at once.
        kernel.Sleep(wait_ms);
        return Ended::Cancelled;
    }
    if (busy > 0) kernel.Sleep(busy);
    return Ended::Completed;
}

int32_t StatusOf(Ended e) {
    switch (e) {
        case Ended::Completed:
            return 0;
        case Ended::Cancelled:
            return -1;
        default:
            return -2;
    }
}

}  // namespace

int TransportOpen() {
    BusScope bus("TransportOpen");
    // Opening over an open handle would orphan it, and with it the exclusive
    // access every later open needs.
    CloseHandleOnce();
    int64_t handle = 0;
    // ERROR_ACCESS_DENIED: another program has the device.
    if (qxsim::Notebook::Current().DeviceHandles().Open(&handle) !=
        qxsim::DeviceHandles::kErrorSuccess)
        return -1;
    int64_t generation = qxsim::Notebook::Current().Controller().Open();
    // 0: CreateFileW found no device; -1: the driver refused its open request,
    // and the transport closed what it had opened.
    if (generation <= 0) {
        qxsim::Notebook::Current().DeviceHandles().Close(handle);
        return -1;
    }
    g_handle = handle;
    g_device = generation;
    return 0;
}

void TransportClose() {
    BusScope bus("TransportClose");
    CloseHandleOnce();
}

int TransportWrite(const uint8_t* buf, uint32_t len, iostat_t* iostat) {
    BusScope bus("TransportWrite");
    if (g_device == 0) return -1;
    iostat_t own = {0, 0};
    iostat_t* st = iostat ? iostat : &own;
    Ended e = RunTransfer(true, kWriteWaitMs);
    if (e == Ended::Completed) qxsim::Notebook::Current().Controller().Write(buf, len);
    st->wr_status = StatusOf(e);
    return e == Ended::Completed ? 0 : -1;
}

int TransportRead(uint8_t* buf, uint32_t len, iostat_t* iostat) {
    BusScope bus("TransportRead");
    if (g_device == 0) return -1;
    iostat_t own = {0, 0};
    iostat_t* st = iostat ? iostat : &own;
    Ended e = RunTransfer(false, kReadWaitMs);
    if (e == Ended::Completed) qxsim::Notebook::Current().Controller().Read(buf, len);
    st->rd_status = StatusOf(e);
    // A read that was cancelled still counts as issued; only one that could
    // not even be started fails.
    return e == Ended::NothingToCancel ? -1 : 0;
}

}  // namespace qx
