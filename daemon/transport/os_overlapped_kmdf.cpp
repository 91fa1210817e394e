// Overlapped I/O through QXVeltrane on the host KMDF simulation: the user-mode
// handle API of the simulated framework, down the driver to the simulated SPB
// controller (start the stack first with kmdfsim::StartDriverStack).
#include <cstring>
#include <memory>
#include <new>

#include "daemon/transport/os_overlapped.h"
#include "driver/include/qxspb_public.h"
#include "kmdf/usermode.h"

namespace qx::os {

namespace um = kmdfsim::um;

struct IoDevice {
    um::Handle* handle;
};

struct IoRequest {
    um::Io* io = nullptr;
    // The transfer's own bytes, alive as long as the request.
    std::unique_ptr<uint8_t[]> data;
    uint32_t len = 0;
};

namespace {

constexpr um::NtStatus kStatusObjectNameNotFound = static_cast<um::NtStatus>(0xC0000034);

IoRequest* NewRequest(uint32_t len) {
    auto* request = new (std::nothrow) IoRequest;
    if (request == nullptr) return nullptr;
    request->data.reset(new (std::nothrow) uint8_t[len > 0 ? len : 1]());
    if (!request->data) {
        delete request;
        return nullptr;
    }
    request->len = len;
    return request;
}

}  // namespace

IoDevice* IoOpen(bool* absent) {
    um::NtStatus status = 0;
    um::Handle* handle = um::Open(QXSPB_DEVICE_PATH, &status);
    if (handle == nullptr) {
        // No started device behind the name: it has not been added yet.
        if (absent != nullptr) *absent = status == kStatusObjectNameNotFound;
        return nullptr;
    }
    return new IoDevice{handle};
}

void IoClose(IoDevice* device) {
    if (device == nullptr) return;
    um::Close(device->handle);
    delete device;
}

IoRequest* IoIssueWrite(IoDevice* device, const uint8_t* buf, uint32_t len) {
    IoRequest* request = NewRequest(len);
    if (request == nullptr) return nullptr;
    if (len > 0) std::memcpy(request->data.get(), buf, len);
    request->io = um::Write(device->handle, request->data.get(), len);
    return request;
}

IoRequest* IoIssueRead(IoDevice* device, uint32_t len) {
    IoRequest* request = NewRequest(len);
    if (request == nullptr) return nullptr;
    request->io = um::Read(device->handle, request->data.get(), len);
    return request;
}

IoRequest* IoIssueControl(IoDevice* device, uint32_t code) {
    IoRequest* request = NewRequest(0);
    if (request == nullptr) return nullptr;
    request->io = um::DeviceControl(device->handle, code, nullptr, 0, nullptr, 0);
    return request;
}

IoWaitResult IoWait(IoRequest* request, uint32_t ms) {
    if (!um::Wait(request->io, ms)) return IoWaitResult::kTimedOut;
    // NT_SUCCESS: informational and success statuses are not negative.
    return um::Status(request->io) >= 0 ? IoWaitResult::kSucceeded : IoWaitResult::kFailed;
}

bool IoDone(IoRequest* request) {
    return um::Done(request->io);
}

bool IoCancel(IoRequest* request) {
    return um::Cancel(request->io);
}

uint32_t IoReadBytes(IoRequest* request, uint8_t* out, uint32_t len) {
    size_t n = um::Information(request->io);
    if (n > len) n = len;
    if (n > request->len) n = request->len;
    if (n > 0) std::memcpy(out, request->data.get(), n);
    return static_cast<uint32_t>(n);
}

void IoRelease(IoRequest* request) {
    if (request == nullptr) return;
    um::Release(request->io);
    delete request;
}

}  // namespace qx::os
