// User mode over the simulated framework: handles and overlapped requests.
#include "kmdf/usermode.h"

#include <chrono>
#include <cstring>

#include "common/os_codes.h"
#include "kmdf/src/fx.h"

namespace kmdfsim {
void CleanupFile(FileObj* f);
FileObj* OpenFile(const std::wstring& link, bool inNamespace, const std::string& account,
                  NTSTATUS* status);
bool FileAlive(FileObj* f);
}  // namespace kmdfsim

namespace kmdfsim::um {

struct Handle {
    FileObj* file;
};

struct Io {
    std::shared_ptr<Irp> irp;
};

namespace {

constexpr uint32_t kInfinite = qx::oscode::kWaitForever;

Io* Issue(Handle* handle, std::shared_ptr<Irp> irp) {
    auto* io = new Io{irp};
    Request* r = nullptr;
    if (handle != nullptr && FileAlive(handle->file))
        r = NewClientRequest(handle->file->device, handle->file, irp);
    if (r == nullptr) {
        std::lock_guard<std::mutex> lock(irp->m);
        irp->status = STATUS_INVALID_HANDLE;
        irp->done = true;
        return io;
    }
    DeliverToDevice(r);
    return io;
}

}  // namespace

Handle* Open(const char* path, NtStatus* status, const char* account) {
    NTSTATUS s = STATUS_OBJECT_NAME_NOT_FOUND;
    FileObj* f = nullptr;
    // The device itself, or a name inside its namespace ("\\.\QXSPB\x").
    static const char kDevice[] = QXSPB_DEVICE_PATH;
    const size_t n = sizeof(kDevice) - 1;
    if (path != nullptr && strncmp(path, kDevice, n) == 0 && (path[n] == 0 || path[n] == '\\')) {
        f = OpenFile(QXSPB_LINK_NAME_W, path[n] != 0, account != nullptr ? account : "SY", &s);
    }
    if (status != nullptr) *status = s;
    return f == nullptr ? nullptr : new Handle{f};
}

void Close(Handle* handle) {
    if (handle == nullptr) return;
    if (FileAlive(handle->file)) CleanupFile(handle->file);
    delete handle;
}

Io* Read(Handle* handle, void* buffer, uint32_t length) {
    auto irp = std::make_shared<Irp>();
    irp->type = WdfRequestTypeRead;
    irp->outLength = length;
    irp->system.resize(length);
    irp->userOut = buffer;
    return Issue(handle, irp);
}

Io* Write(Handle* handle, const void* buffer, uint32_t length) {
    auto irp = std::make_shared<Irp>();
    irp->type = WdfRequestTypeWrite;
    irp->inLength = length;
    irp->system.assign(static_cast<const uint8_t*>(buffer),
                       static_cast<const uint8_t*>(buffer) + length);
    return Issue(handle, irp);
}

Io* DeviceControl(Handle* handle, uint32_t code, const void* in, uint32_t inLength, void* out,
                  uint32_t outLength) {
    auto irp = std::make_shared<Irp>();
    irp->type = WdfRequestTypeDeviceControl;
    irp->code = code;
    irp->inLength = in != nullptr ? inLength : 0;
    irp->outLength = out != nullptr ? outLength : 0;
    // Buffered control codes: one system buffer serves both directions.
    irp->system.assign(irp->inLength > irp->outLength ? irp->inLength : irp->outLength, 0);
    if (irp->inLength > 0) memcpy(irp->system.data(), in, irp->inLength);
    irp->userOut = out;
    return Issue(handle, irp);
}

// Completion is looked at under the request's lock before any sleep, so a
// zero time-out is a plain poll that never enters the condition variable, and
// a request completed earlier is never waited for. Each sleep is a bounded
// slice after which completion is looked at again: a wake-up lost below us (C
// library, sanitizer runtime) costs at most one slice, never the whole wait.
bool Wait(Io* io, uint32_t ms) {
    using Clock = std::chrono::steady_clock;
    constexpr auto kSlice = std::chrono::milliseconds(50);
    Irp& irp = *io->irp;
    std::unique_lock<std::mutex> lock(irp.m);
    if (irp.done || ms == 0) return irp.done;
    const bool forever = ms == kInfinite;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!irp.done) {
        const Clock::time_point now = Clock::now();
        if (!forever && now >= deadline) return false;
        const Clock::time_point until =
            forever || deadline - now > kSlice ? now + kSlice : deadline;
        irp.cv.wait_until(lock, until);
    }
    return true;
}

bool Done(Io* io) {
    std::lock_guard<std::mutex> lock(io->irp->m);
    return io->irp->done;
}

NtStatus Status(Io* io) {
    std::lock_guard<std::mutex> lock(io->irp->m);
    return io->irp->status;
}

size_t Information(Io* io) {
    std::lock_guard<std::mutex> lock(io->irp->m);
    return io->irp->information;
}

bool Cancel(Io* io) {
    return CancelIrp(io->irp);
}

void Release(Io* io) {
    if (io == nullptr) return;
    if (!Done(io)) {
        Cancel(io);
        Wait(io, kInfinite);
    }
    delete io;
}

namespace {
NtStatus Finish(Io* io, size_t* information) {
    Wait(io, kInfinite);
    NtStatus status = Status(io);
    if (information != nullptr) *information = Information(io);
    Release(io);
    return status;
}
}  // namespace

NtStatus ReadSync(Handle* handle, void* buffer, uint32_t length, size_t* information) {
    return Finish(Read(handle, buffer, length), information);
}

NtStatus WriteSync(Handle* handle, const void* buffer, uint32_t length, size_t* information) {
    return Finish(Write(handle, buffer, length), information);
}

NtStatus ControlSync(Handle* handle, uint32_t code, const void* in, uint32_t inLength, void* out,
                     uint32_t outLength, size_t* information) {
    return Finish(DeviceControl(handle, code, in, inLength, out, outLength), information);
}

}  // namespace kmdfsim::um
