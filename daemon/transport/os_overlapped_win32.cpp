// Overlapped I/O on "\\.\QXSPB" with kernel32: each request has its own
// event and OVERLAPPED, and a request that finished inside ReadFile,
// WriteFile or DeviceIoControl is remembered as finished, so the wait judges
// it without touching its event.
#include "common/win/win32.h"

#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "daemon/transport/os_overlapped.h"
#include "driver/include/qxspb_public.h"

namespace qx::os {

struct IoDevice {
    win::UniqueFileHandle handle;
};

struct IoRequest {
    HANDLE device = nullptr;  // the device's handle; IoDevice owns it
    win::UniqueHandle event;
    OVERLAPPED overlapped = {};
    // The call finished at once: its outcome, without going pending.
    bool finished_at_once = false;
    bool succeeded_at_once = false;
    // The transfer's bytes: the request's own, so that one left to the
    // driver never points into memory its caller reuses.
    std::unique_ptr<uint8_t[]> data;
    uint32_t len = 0;
};

namespace {

// A record with its own manual-reset event and a data buffer of len bytes;
// null when any of them is unavailable.
IoRequest* NewRequest(IoDevice* device, uint32_t len) {
    if (device == nullptr) return nullptr;
    auto* request = new (std::nothrow) IoRequest;
    if (request == nullptr) return nullptr;
    request->data.reset(new (std::nothrow) uint8_t[len > 0 ? len : 1]());
    request->len = len;
    request->event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!request->data || !request->event) {
        delete request;
        return nullptr;
    }
    request->device = device->handle.get();
    request->overlapped.hEvent = request->event.get();
    return request;
}

// What the issuing call said: TRUE finished, ERROR_IO_PENDING pending,
// anything else failed at once (and will never signal the event).
IoRequest* Issued(IoRequest* request, BOOL done) {
    if (done) {
        request->finished_at_once = true;
        request->succeeded_at_once = true;
    } else if (GetLastError() != ERROR_IO_PENDING) {
        request->finished_at_once = true;
    }
    return request;
}

}  // namespace

IoDevice* IoOpen(bool* absent) {
    win::UniqueFileHandle handle(CreateFileW(QXSPB_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE, 0,
                                             nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                                             nullptr));
    if (!handle) {
        // No symbolic link (yet), or a device object that is not there
        // (ERROR_NO_SUCH_DEVICE, 433, which MinGW's headers lack).
        constexpr DWORD kErrorNoSuchDevice = 433;
        const DWORD error = GetLastError();
        if (absent != nullptr)
            *absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                      error == kErrorNoSuchDevice;
        return nullptr;
    }
    auto* device = new (std::nothrow) IoDevice;
    if (device == nullptr) return nullptr;
    device->handle = std::move(handle);
    return device;
}

void IoClose(IoDevice* device) {
    delete device;
}

IoRequest* IoIssueWrite(IoDevice* device, const uint8_t* buf, uint32_t len) {
    IoRequest* request = NewRequest(device, len);
    if (request == nullptr) return nullptr;
    if (len > 0) std::memcpy(request->data.get(), buf, len);
    return Issued(request, WriteFile(request->device, request->data.get(), len, nullptr,
                                     &request->overlapped));
}

IoRequest* IoIssueRead(IoDevice* device, uint32_t len) {
    IoRequest* request = NewRequest(device, len);
    if (request == nullptr) return nullptr;
    return Issued(request, ReadFile(request->device, request->data.get(), len, nullptr,
                                    &request->overlapped));
}

IoRequest* IoIssueControl(IoDevice* device, uint32_t code) {
    IoRequest* request = NewRequest(device, 0);
    if (request == nullptr) return nullptr;
    DWORD transferred = 0;
    return Issued(request, DeviceIoControl(request->device, code, nullptr, 0, nullptr, 0,
                                           &transferred, &request->overlapped));
}

IoWaitResult IoWait(IoRequest* request, uint32_t ms) {
    if (request->finished_at_once) {
        return request->succeeded_at_once ? IoWaitResult::kSucceeded : IoWaitResult::kFailed;
    }
    if (WaitForSingleObject(request->event.get(), ms) != WAIT_OBJECT_0)
        return IoWaitResult::kTimedOut;
    DWORD bytes = 0;
    return GetOverlappedResult(request->device, &request->overlapped, &bytes, FALSE)
               ? IoWaitResult::kSucceeded
               : IoWaitResult::kFailed;
}

bool IoDone(IoRequest* request) {
    return request->finished_at_once || HasOverlappedIoCompleted(&request->overlapped);
}

bool IoCancel(IoRequest* request) {
    // ERROR_NOT_FOUND (1168): nothing of ours was pending any more. Any other
    // failure leaves the request possibly in flight, so it counts as found.
    return CancelIoEx(request->device, &request->overlapped) || GetLastError() != ERROR_NOT_FOUND;
}

uint32_t IoReadBytes(IoRequest* request, uint8_t* out, uint32_t len) {
    // The count the driver completed the read with.
    uint32_t n = static_cast<uint32_t>(request->overlapped.InternalHigh);
    if (n > len) n = len;
    if (n > request->len) n = request->len;
    if (n > 0) std::memcpy(out, request->data.get(), n);
    return n;
}

void IoRelease(IoRequest* request) {
    delete request;
}

}  // namespace qx::os
