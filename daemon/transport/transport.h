// The daemon's end of the byte channel to the antenna controller
// ("\\.\QXSPB", overlapped, bounded waits with cancellation) and the
// controller's device-node reset through the Configuration Manager.
#pragma once

#include <cstdint>

namespace qx {

// The caller's transfer statuses. 0: completed; -1: did not complete within
// the wait and was cancelled while still pending (the call waited for it to
// finish); -2: nothing to cancel (failed at once, or already finished).
struct iostat_t {
    int32_t wr_status;
    int32_t rd_status;
};
static_assert(sizeof(iostat_t) == 8, "iostat is two 32-bit statuses");

// Opens the device and the driver's bus connection: 0, or -1 (left closed).
// `device_absent` (optional) tells a -1 for a device that does not exist
// (yet: the driver's device starts a while after its node is enabled) from
// one that refused.
int TransportOpen(bool* device_absent = nullptr);
// Closes the device; harmless when nothing is open.
void TransportClose();
// How long a transfer waits for the driver to finish it after a successful
// cancel. CancelIoEx only asks: the request stays the driver's until it
// completes. One that does not complete within this (a slave holding SCL
// low) is left to the driver, never freed or reused, and the transfer fails
// as a time-out.
constexpr uint32_t kCancelWaitMs = 1000;

// True while a request left to the driver has still not completed: the bus
// has not let go, and every transfer is refused at once (as one that could
// not be issued) until it does.
bool TransportStuck();

// One write of len bytes, finished or cancelled within 1000 ms (plus the
// cancel's wait). Returns 0 when completed (wr_status 0), -1 otherwise.
int TransportWrite(const uint8_t* buf, uint32_t len, iostat_t* iostat);
// One read of len bytes, finished or cancelled within 2000 ms (plus the
// cancel's wait); buf receives what a completed read delivered.
// Returns 0 when rd_status is 0 or -1; -1 when it is -2 or the read was not issued.
int TransportRead(uint8_t* buf, uint32_t len, iostat_t* iostat);

// CM_Disable_DevNode / CM_Enable_DevNode of "ACPI\VLT0949\1"; verbose prints
// each step to standard output. The outcome is not reported.
void DisableControllerNode(bool verbose);
void EnableControllerNode(bool verbose);

}  // namespace qx
