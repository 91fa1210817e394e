// The byte channel to the antenna controller: "\\.\QXSPB" opened for
// overlapped I/O, the driver's bus connection opened with its control code,
// and each transfer bounded by a wait and cancelled when the driver does not
// finish it in time. The OS halves below (os_overlapped.h) only translate.
#include "daemon/transport/transport.h"

#include "daemon/transport/os_overlapped.h"

namespace qx {

namespace {

// IOCTL_QXSPB_OPEN: CTL_CODE(0x473, 0x780, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr uint32_t kIoctlQxspbOpen = (0x473u << 16) | (0x780u << 2);
static_assert(kIoctlQxspbOpen == 0x04731E00, "open control code");

constexpr uint32_t kWriteWaitMs = 1000;
constexpr uint32_t kReadWaitMs = 2000;

// The process-wide transport state: the open device, or null. The transport
// keeps no lock; its callers take turns (the worker, then the shutdown path).
os::IoDevice* g_device = nullptr;

// Transfer's answer when the request could not even be issued.
constexpr int32_t kNotIssued = 1;

// The life of one issued transfer. Returns the status for iostat: 0
// completed, -1 cancelled while still pending (and waited for), -2 nothing
// left to cancel (it failed at once or completed with an error).
int32_t Transfer(os::IoRequest* request, uint32_t wait_ms) {
    if (request == nullptr) return kNotIssued;
    int32_t status = 0;
    if (os::IoWait(request, wait_ms) != os::IoWaitResult::kSucceeded) {
        if (os::IoCancel(request)) {
            // The request may still own the buffer and its record: wait until
            // the driver has let go of it, however long that takes.
            os::IoWait(request, os::kIoWaitForever);
            status = -1;
        } else {
            status = -2;
        }
    }
    os::IoRelease(request);
    return status;
}

void CloseDevice() {
    os::IoClose(g_device);
    g_device = nullptr;
}

}  // namespace

int TransportOpen() {
    // Opening over an open transport would orphan the old handle, and with it
    // the exclusive access every later open needs.
    CloseDevice();
    os::IoDevice* device = os::IoOpen();
    if (device == nullptr) return -1;
    os::IoRequest* open = os::IoIssueControl(device, kIoctlQxspbOpen);
    bool opened = false;
    if (open != nullptr) {
        opened = os::IoWait(open, os::kIoWaitForever) == os::IoWaitResult::kSucceeded;
        os::IoRelease(open);
    }
    if (!opened) {
        os::IoClose(device);
        return -1;
    }
    g_device = device;
    return 0;
}

void TransportClose() {
    CloseDevice();
}

int TransportWrite(const uint8_t* buf, uint32_t len, iostat_t* iostat) {
    if (g_device == nullptr) return -1;
    int32_t status = Transfer(os::IoIssueWrite(g_device, buf, len), kWriteWaitMs);
    if (status == kNotIssued) return -1;
    if (iostat != nullptr) iostat->wr_status = status;
    return status == 0 ? 0 : -1;
}

int TransportRead(uint8_t* buf, uint32_t len, iostat_t* iostat) {
    if (g_device == nullptr) return -1;
    int32_t status = Transfer(os::IoIssueRead(g_device, buf, len), kReadWaitMs);
    if (status == kNotIssued) return -1;
    if (iostat != nullptr) iostat->rd_status = status;
    // A read that was cancelled still counts as issued; only one that could
    // not even be started, or had nothing left to cancel, fails.
    return status == -2 ? -1 : 0;
}

}  // namespace qx
