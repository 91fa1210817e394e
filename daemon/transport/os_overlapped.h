// OS seam: overlapped I/O on the controller's device "\\.\QXSPB". Open the
// device, issue a read, write or device control, wait for one request with a
// time-out, cancel it, release its record, close the device. The transport
// (transport.cpp) builds its bounded waits, cancellation and statuses on
// these alone.
#pragma once

#include <cstdint>

namespace qx::os {

// An open handle to the device, and one issued request with its completion
// record; each half defines them.
struct IoDevice;
struct IoRequest;

// CreateFileW("\\.\QXSPB", GENERIC_READ | GENERIC_WRITE, no sharing,
// OPEN_EXISTING, FILE_FLAG_OVERLAPPED). Null when the device is missing or
// refuses the open (it is exclusive).
IoDevice* IoOpen();
// CloseHandle; null is ignored. No request of the device may be pending.
void IoClose(IoDevice* device);

// WriteFile, ReadFile and DeviceIoControl (no buffers), each with an event
// and an OVERLAPPED of its own. The buffer must stay valid until the request
// is released. Null when no record could be made: nothing was issued.
IoRequest* IoIssueWrite(IoDevice* device, const uint8_t* buf, uint32_t len);
IoRequest* IoIssueRead(IoDevice* device, uint8_t* buf, uint32_t len);
IoRequest* IoIssueControl(IoDevice* device, uint32_t code);

enum class IoWaitResult {
    kSucceeded,  // completed successfully (at once or within the wait)
    kFailed,     // failed at once, completed with an error, or was cancelled
    kTimedOut,   // still pending when the wait ended
};
constexpr uint32_t kIoWaitForever = 0xFFFFFFFFu;  // INFINITE

// Waits up to ms for the request (GetOverlappedResult once it completed).
IoWaitResult IoWait(IoRequest* request, uint32_t ms);
// CancelIoEx of this request. False when there was nothing to cancel
// (ERROR_NOT_FOUND: it failed at once or has completed already); otherwise
// true, and the request completes (as cancelled) and must be waited for
// before it is released.
bool IoCancel(IoRequest* request);
// Frees the request's record. Only for a request that has completed.
void IoRelease(IoRequest* request);

}  // namespace qx::os
