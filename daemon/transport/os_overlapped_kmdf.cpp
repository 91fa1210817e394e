// Overlapped I/O through QXVeltrane on the host KMDF simulation: the user-mode
// handle API of the simulated framework, down the driver to the simulated SPB
// controller (start the stack first with kmdfsim::StartDriverStack).
#include "daemon/transport/os_overlapped.h"
#include "kmdf/usermode.h"

namespace qx::os {

namespace um = kmdfsim::um;

struct IoDevice {
    um::Handle* handle;
};

struct IoRequest {
    um::Io* io;
};

namespace {

IoRequest* Issued(um::Io* io) {
    return new IoRequest{io};
}

}  // namespace

IoDevice* IoOpen() {
    um::Handle* handle = um::Open("\\\\.\\QXSPB");
    if (handle == nullptr) return nullptr;
    return new IoDevice{handle};
}

void IoClose(IoDevice* device) {
    if (device == nullptr) return;
    um::Close(device->handle);
    delete device;
}

IoRequest* IoIssueWrite(IoDevice* device, const uint8_t* buf, uint32_t len) {
    return Issued(um::Write(device->handle, buf, len));
}

IoRequest* IoIssueRead(IoDevice* device, uint8_t* buf, uint32_t len) {
    return Issued(um::Read(device->handle, buf, len));
}

IoRequest* IoIssueControl(IoDevice* device, uint32_t code) {
    return Issued(um::DeviceControl(device->handle, code, nullptr, 0, nullptr, 0));
}

IoWaitResult IoWait(IoRequest* request, uint32_t ms) {
    if (!um::Wait(request->io, ms)) return IoWaitResult::kTimedOut;
    // NT_SUCCESS: informational and success statuses are not negative.
    return um::Status(request->io) >= 0 ? IoWaitResult::kSucceeded : IoWaitResult::kFailed;
}

bool IoCancel(IoRequest* request) {
    return um::Cancel(request->io);
}

void IoRelease(IoRequest* request) {
    if (request == nullptr) return;
    um::Release(request->io);
    delete request;
}

}  // namespace qx::os
