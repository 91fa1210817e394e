// The byte channel to the antenna controller: "\\.\QXSPB" opened for
// overlapped I/O, the driver's bus connection opened with its control code,
// and each transfer bounded by a wait and cancelled when the driver does not
// finish it in time. The OS halves below (os_overlapped.h) only translate.
#include "daemon/transport/transport.h"

#include "daemon/base/daemon_state.h"
#include "daemon/base/logging.h"
#include "daemon/transport/os_overlapped.h"
#include "driver/include/qxspb_public.h"

namespace qx {

TransportStateT TransportState;

namespace {

constexpr uint32_t kWriteWaitMs = 1000;
constexpr uint32_t kReadWaitMs = 2000;

// Transfer's answer when the request could not even be issued.
constexpr int32_t kNotIssued = 1;

// Should every slot be taken, a further request is left unreferenced, still
// never freed.
void Abandon(os::IoRequest* request) {
    LogMessage(0,
               "QUELLIX: The driver did not complete a cancelled transfer; its request is "
               "left to it.\n");
    for (auto& slot : TransportState.Abandoned) {
        if (slot == nullptr) {
            slot = request;
            return;
        }
    }
}

// Frees what the driver has let go of since; true when something is still held.
bool ReapAbandoned() {
    bool held = false;
    for (auto& slot : TransportState.Abandoned) {
        if (slot == nullptr) continue;
        if (os::IoDone(slot)) {
            os::IoRelease(slot);
            slot = nullptr;
        } else {
            held = true;
        }
    }
    return held;
}

// The life of one issued transfer. Returns the status for iostat: 0
// completed, -1 cancelled while still pending (and waited for, or left to
// the driver when it did not let go), -2 nothing left to cancel (it failed
// at once or completed with an error). A read's bytes go to read_out.
int32_t Transfer(os::IoRequest* request, uint32_t wait_ms, uint8_t* read_out, uint32_t len) {
    if (request == nullptr) return kNotIssued;
    os::IoWaitResult result = os::IoWait(request, wait_ms);
    int32_t status = 0;
    if (result != os::IoWaitResult::kSucceeded) {
        if (os::IoCancel(request)) {
            // Until it completes the request, its record and its buffer are
            // the driver's, however long that takes; a driver that never
            // lets go keeps them for good.
            result = os::IoWait(request, kCancelWaitMs);
            if (result == os::IoWaitResult::kTimedOut) {
                Abandon(request);
                return -1;
            }
            status = -1;
        } else {
            status = -2;
        }
    }
    // A request the cancel came too late for may still have delivered.
    if (read_out != nullptr && result == os::IoWaitResult::kSucceeded)
        os::IoReadBytes(request, read_out, len);
    os::IoRelease(request);
    return status;
}

void CloseDevice() {
    os::IoClose(TransportState.Device);
    TransportState.Device = nullptr;
}

}  // namespace

int TransportOpen(bool* device_absent) {
    // Opening over an open transport would orphan the old handle, and with it
    // the exclusive access every later open needs.
    CloseDevice();
    bool absent = false;
    os::IoDevice* device = os::IoOpen(&absent);
    if (device_absent != nullptr) *device_absent = device == nullptr && absent;
    if (device == nullptr) return -1;
    os::IoRequest* open = os::IoIssueControl(device, IOCTL_QXSPB_OPEN);
    bool opened = false;
    if (open != nullptr) {
        opened = os::IoWait(open, os::kIoWaitForever) == os::IoWaitResult::kSucceeded;
        os::IoRelease(open);
    }
    if (!opened) {
        os::IoClose(device);
        return -1;
    }
    TransportState.Device = device;
    return 0;
}

void TransportClose() {
    CloseDevice();
}

bool TransportStuck() {
    return ReapAbandoned();
}

int TransportWrite(const uint8_t* buf, uint32_t len, iostat_t* iostat) {
    if (TransportState.Device == nullptr || ReapAbandoned()) return -1;
    int32_t status =
        Transfer(os::IoIssueWrite(TransportState.Device, buf, len), kWriteWaitMs, nullptr, 0);
    if (status == kNotIssued) return -1;
    if (iostat != nullptr) iostat->wr_status = status;
    return status == 0 ? 0 : -1;
}

int TransportRead(uint8_t* buf, uint32_t len, iostat_t* iostat) {
    if (TransportState.Device == nullptr || ReapAbandoned()) return -1;
    int32_t status = Transfer(os::IoIssueRead(TransportState.Device, len), kReadWaitMs, buf, len);
    if (status == kNotIssued) return -1;
    if (iostat != nullptr) iostat->rd_status = status;
    // A read that was cancelled still counts as issued; only one that could
    // not even be started, or had nothing left to cancel, fails.
    return status == -2 ? -1 : 0;
}

}  // namespace qx
