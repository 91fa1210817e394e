// User mode on top of the host KMDF simulation: handles to "\\.\QXSPB" with
// overlapped read, write, device control, cancellation and close, as a
// Windows program sees them through kernel32.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// The device path Open resolves, and the link a driver under test creates for it.
#include "driver/include/qxspb_public.h"

namespace kmdfsim::um {

using NtStatus = int32_t;

struct Handle;
struct Io;

// CreateFile of a device path for reading and writing, by a caller whose token
// is account (an SDDL trustee: "SY" LocalSystem, "BA" an administrator, "BU"
// a plain user). Null when the name resolves to no started device
// (STATUS_OBJECT_NAME_NOT_FOUND) or the device refuses the caller
// (STATUS_ACCESS_DENIED: its security, or an exclusive device already open);
// status (optional) receives the reason.
Handle* Open(const char* path, NtStatus* status = nullptr, const char* account = "SY");
// CloseHandle: the last reference runs the driver's file clean-up; the call
// returns once every request of the handle has completed.
void Close(Handle* handle);

// Issue an overlapped request. The buffers must stay valid until the request
// completed (as with OVERLAPPED I/O); never null.
Io* Read(Handle* handle, void* buffer, uint32_t length);
Io* Write(Handle* handle, const void* buffer, uint32_t length);
Io* DeviceControl(Handle* handle, uint32_t code, const void* in, uint32_t inLength, void* out,
                  uint32_t outLength);

// Waits up to ms (0xFFFFFFFF: forever) for completion; true when completed.
// 0 is a poll: it never blocks (as GetOverlappedResult without waiting).
bool Wait(Io* io, uint32_t ms);
bool Done(Io* io);
NtStatus Status(Io* io);  // valid once completed
size_t Information(Io* io);
// CancelIoEx of this request: false when it had already completed.
bool Cancel(Io* io);
// Releases the record; a request still pending is cancelled and waited for.
void Release(Io* io);

// Synchronous helpers: issue, wait without limit, release.
NtStatus ReadSync(Handle* handle, void* buffer, uint32_t length, size_t* information = nullptr);
NtStatus WriteSync(Handle* handle, const void* buffer, uint32_t length,
                   size_t* information = nullptr);
NtStatus ControlSync(Handle* handle, uint32_t code, const void* in = nullptr, uint32_t inLength = 0,
                     void* out = nullptr, uint32_t outLength = 0, size_t* information = nullptr);

}  // namespace kmdfsim::um
