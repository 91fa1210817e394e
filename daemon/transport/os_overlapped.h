// OS seam: overlapped I/O on the controller's device "\\.\QXSPB". Open the
// device, issue a read, write or device control, wait for one request with a
// time-out, cancel it, release its record, close the device. The transport
// (transport.cpp) builds its bounded waits, cancellation and statuses on
// these alone.
#pragma once

#include <cstdint>

#include "common/os_codes.h"

namespace qx::os {

// An open handle to the device, and one issued request with its completion
// record and its own data buffer; each half defines them.
struct IoDevice;
struct IoRequest;

// CreateFileW("\\.\QXSPB", GENERIC_READ | GENERIC_WRITE, no sharing,
// OPEN_EXISTING, FILE_FLAG_OVERLAPPED). Null when the device is missing or
// refuses the open (it is exclusive); `absent` (optional) then tells whether
// there was no device at all (ERROR_FILE_NOT_FOUND: the driver's device has
// not started, or is gone) rather than one that refused.
IoDevice* IoOpen(bool* absent = nullptr);
// CloseHandle; null is ignored. A request left to the driver (never
// released) does not stop the close.
void IoClose(IoDevice* device);

// WriteFile, ReadFile and DeviceIoControl (no buffers), each with an event
// and an OVERLAPPED of its own. The data live in the request's own buffer,
// never in the caller's: a request the driver keeps past its caller's wait
// may still be written into by the kernel, and only its record is left with
// it. Null when no record could be made: nothing was issued.
IoRequest* IoIssueWrite(IoDevice* device, const uint8_t* buf, uint32_t len);
IoRequest* IoIssueRead(IoDevice* device, uint32_t len);
IoRequest* IoIssueControl(IoDevice* device, uint32_t code);

enum class IoWaitResult {
    kSucceeded,  // completed successfully (at once or within the wait)
    kFailed,     // failed at once, completed with an error, or was cancelled
    kTimedOut,   // still pending when the wait ended
};
constexpr uint32_t kIoWaitForever = oscode::kWaitForever;

// Waits up to ms for the request (GetOverlappedResult once it completed); 0 polls.
IoWaitResult IoWait(IoRequest* request, uint32_t ms);
// Whether the request has completed (HasOverlappedIoCompleted): a poll that
// needs neither the device handle nor a wait.
bool IoDone(IoRequest* request);
// CancelIoEx of this request. False when there was nothing to cancel
// (ERROR_NOT_FOUND: it failed at once or has completed already); otherwise
// true: the driver was asked to cancel it, and the request completes once
// the driver lets go of it. Until then it must not be released.
bool IoCancel(IoRequest* request);
// Copies what a read that succeeded delivered (at most len bytes) to out;
// returns the count.
uint32_t IoReadBytes(IoRequest* request, uint8_t* out, uint32_t len);
// Frees the request's record and buffer. Only for a request that has completed.
void IoRelease(IoRequest* request);

}  // namespace qx::os
