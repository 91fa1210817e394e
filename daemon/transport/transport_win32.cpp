// The byte channel to the antenna controller on Windows: "\\.\QXSPB" opened
// for overlapped I/O, each transfer bounded by a wait and cancelled when the
// driver does not finish it in time.
#include "common/win/win32.h"
#include <winioctl.h>

#include "daemon/transport/transport.h"

namespace qx {

namespace {

// IOCTL_QXSPB_OPEN: CTL_CODE(0x473, 0x780, METHOD_BUFFERED, FILE_ANY_ACCESS).
constexpr DWORD kIoctlQxspbOpen = 0x04731E00;
static_assert(kIoctlQxspbOpen == CTL_CODE(0x473, 0x780, METHOD_BUFFERED, FILE_ANY_ACCESS),
              "open control code");

constexpr DWORD kWriteWaitMs = 1000;
constexpr DWORD kReadWaitMs = 2000;

// The process-wide transport state. The shared overlapped record serves the
// open request only; transfers bring their own.
struct TransportState {
    win::UniqueFileHandle device;
    win::UniqueHandle open_event;
    OVERLAPPED overlapped = {};
};

TransportState g_transport;

// Every public operation runs through here. The transport keeps no lock of
// its own: whoever must keep two threads off it at once puts the guard here,
// and all four operations are covered.
template <typename Op>
auto WithTransport(Op op) {
    return op(g_transport);
}

// Makes an open request that did not go pending look like a finished
// overlapped one, so that GetOverlappedResult judges both the same way.
void CompleteOverlapped(TransportState& t, DWORD error, DWORD count) {
    DWORD status = error;
    if (static_cast<int32_t>(error) > 0) status = 0x80070000u | (error & 0xFFFFu);
    t.overlapped.Internal = static_cast<ULONG_PTR>(status);
    t.overlapped.InternalHigh = static_cast<ULONG_PTR>(count);
    SetEvent(t.overlapped.hEvent);
}

void CloseAll(TransportState& t) {
    t.device.reset();
    t.open_event.reset();
}

enum class Direction { kWrite, kRead };

// One bounded transfer on its own event and OVERLAPPED. Returns the status
// for iostat: 0 completed, -1 cancelled while still pending (and waited
// for), -2 nothing left to cancel. kNotIssued when no event could be made.
constexpr int32_t kNotIssued = 1;

int32_t Transfer(HANDLE device, Direction dir, void* buf, uint32_t len) {
    win::UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!event) return kNotIssued;
    OVERLAPPED ov = {};
    ov.hEvent = event.get();
    DWORD bytes = 0;

    BOOL done = dir == Direction::kWrite ? WriteFile(device, buf, len, nullptr, &ov)
                                         : ReadFile(device, buf, len, nullptr, &ov);
    int32_t status = 0;
    bool cancel = false;
    if (!done) {
        if (GetLastError() != ERROR_IO_PENDING) {
            cancel = true;
        } else if (WaitForSingleObject(event.get(),
                                       dir == Direction::kWrite ? kWriteWaitMs : kReadWaitMs) !=
                   WAIT_OBJECT_0) {
            cancel = true;
        } else if (!GetOverlappedResult(device, &ov, &bytes, FALSE)) {
            cancel = true;
        }
    }
    if (cancel) {
        if (CancelIoEx(device, &ov) || GetLastError() != ERROR_NOT_FOUND) {
            // The request may still own buf and ov: wait until the driver has
            // let go of it, however long that takes.
            GetOverlappedResult(device, &ov, &bytes, TRUE);
            status = -1;
        } else {
            status = -2;
        }
    }
    return status;
}

}  // namespace

int TransportOpen() {
    return WithTransport([](TransportState& t) {
        // Opening over an open transport would orphan the old handle, and
        // with it the exclusive access every later open needs.
        CloseAll(t);
        t.device.reset(CreateFileW(L"\\\\.\\QXSPB", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
        if (!t.device) return -1;
        t.open_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!t.open_event) {
            CloseAll(t);
            return -1;
        }
        t.overlapped = OVERLAPPED{};
        t.overlapped.hEvent = t.open_event.get();
        DWORD transferred = 0;
        BOOL done = DeviceIoControl(t.device.get(), kIoctlQxspbOpen, nullptr, 0, nullptr, 0,
                                    &transferred, &t.overlapped);
        if (done) {
            // A request that completed at once succeeded: last-error still
            // holds whatever an earlier call left there, so it says nothing.
            CompleteOverlapped(t, 0, transferred);
        } else {
            DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) CompleteOverlapped(t, error, transferred);
        }
        if (GetOverlappedResult(t.device.get(), &t.overlapped, &transferred, TRUE)) return 0;
        CloseAll(t);
        return -1;
    });
}

void TransportClose() {
    WithTransport([](TransportState& t) {
        CloseAll(t);
        return 0;
    });
}

int TransportWrite(const uint8_t* buf, uint32_t len, iostat_t* iostat) {
    return WithTransport([&](TransportState& t) {
        if (!t.device) return -1;
        // WriteFile takes a non-const pointer only through the shared helper;
        // the bytes are never written to.
        int32_t status =
            Transfer(t.device.get(), Direction::kWrite, const_cast<uint8_t*>(buf), len);
        if (status == kNotIssued) return -1;
        if (iostat != nullptr) iostat->wr_status = status;
        return status == 0 ? 0 : -1;
    });
}

int TransportRead(uint8_t* buf, uint32_t len, iostat_t* iostat) {
    return WithTransport([&](TransportState& t) {
        if (!t.device) return -1;
        int32_t status = Transfer(t.device.get(), Direction::kRead, buf, len);
        if (status == kNotIssued) return -1;
        if (iostat != nullptr) iostat->rd_status = status;
        return status == -2 ? -1 : 0;
    });
}

}  // namespace qx
