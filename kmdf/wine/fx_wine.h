// The KMDF simulation as WDFLDR.SYS under Wine: how its three parts meet.
//
//   fx_wine.cpp     the framework half: kmdf/src's objects, queues and PnP
//                   over our client headers; the I/O manager's thread, the
//                   PnP manager of the one device node, the bind.
//   wdm_io.cpp      the kernel half, over MinGW's DDK headers: real device
//                   objects and symbolic links, IRPs in and out, remote
//                   targets as real device objects opened by name, the
//                   control device, the verifier's thunks of the image.
//   win32_host.cpp  what the double asks of user-mode Windows (winedevice
//                   is a process): the service manager and the registry.
//
// The headers of the halves cannot meet in one file (ours and the DDK's both
// define the kernel's types), so everything crossing here is plain C++.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>

namespace kmdfwine {

// ---- Requests the I/O manager hands the framework -------------------------------

enum class IoKind : uint32_t { Create, Cleanup, Close, Read, Write, Control };

// One IRP as the framework half sees it. The buffers are the IRP's (buffered
// I/O: the system buffer) and stay valid until CompleteIrp.
struct IoParams {
    IoKind kind;
    void* device;        // what CreateDevice returned for the target device object
    void** fileContext;  // the file object's FsContext: the framework's per-handle record
    uint32_t code;       // control code
    const uint8_t* in;   // write data, control input
    size_t inLength;
    uint8_t* out;  // read data, control output
    size_t outLength;
    bool inNamespace;  // a create of a name inside the device's namespace
};

struct Io;  // the framework half's record of one IRP; counted references

// Framework half. NewIo takes the IRP (counted: CompleteIrp drops the IRP's
// reference); StartIo queues it behind every IRP that arrived before it;
// CancelIo is the IRP's cancel routine (any thread, before or after StartIo).
// RefIo/UnrefIo let a cancel routine hold the record past the cancel spin lock.
Io* NewIo(const IoParams& params, void* irp);
void StartIo(Io* io);
void CancelIo(Io* io);
void RefIo(Io* io);
void UnrefIo(Io* io);

// Kernel half: completes the IRP (exactly once per Io) and drops the IRP's
// reference on io.
void CompleteIrp(void* irp, Io* io, int32_t status, size_t information);

// ---- Device objects -----------------------------------------------------------

// Kernel half. A named device object of the client's driver object and its
// symbolic link; context comes back in IoParams::device. Null on failure
// (status says why).
void* CreateDevice(const wchar_t* name, const wchar_t* link, uint32_t characteristics,
                   void* context, int32_t* status);
void DeleteDevice(void* device);

// ---- Remote I/O targets ---------------------------------------------------------

struct Target;  // kernel half: a device object opened by name, with its own completion thread

struct TargetOpen {
    const wchar_t* name;
    size_t nameChars;
    uint32_t desiredAccess, shareAccess, fileAttributes, createDisposition, createOptions;
};
int32_t OpenTarget(const TargetOpen& open, Target** target);
enum class TargetOp : uint32_t { Read, Write, Control };
// Sends one transfer; TargetDone(context, ...) follows exactly once, always
// on the target's own thread (never inside this call, so a caller may hold
// its lock). A cancel of (context, id) before the transfer went down keeps
// it from going down; after, it cancels the IRP.
void SendTarget(Target* target, void* context, uint64_t id, TargetOp op, uint32_t ioctl,
                void* buffer, size_t length);
void CancelTarget(Target* target, void* context, uint64_t id);
// Nothing may be in flight any more.
void CloseTarget(Target* target);
// Framework half.
void TargetDone(void* context, int32_t status, size_t information);

// ---- The bind, unload and the control device -----------------------------------------

// Kernel half, at the bind: takes over the client driver object's dispatch
// table, creates the control device, and puts the verifier's thunks into the
// image's imports of the kernel (image at DriverStart).
int32_t AttachDriver(void* driverObject);
void DetachDriver();
// The client's unload routine, whatever the loader stub put there, and ours
// in its place: the PnP manager removes the device before the driver goes.
void DisplaceUnload(void (*unload)(void* driverObject), void (**previous)(void* driverObject));

// Framework half: the control device's requests. Immediate ones complete
// here (returns true); the rest go through StartIo.
bool ControlNow(uint32_t code, const uint8_t* in, size_t inLength, uint8_t* out, size_t outLength,
                int32_t* status, size_t* information);
// Framework half: the verifier's check of a kernel wait (KeWaitForSingleObject):
// a wait that may block is for IRQL <= APC_LEVEL, a poll for <= DISPATCH_LEVEL.
void CheckKernelWait(bool poll);

// ---- User-mode Windows (win32_host.cpp) -------------------------------------------

// True once the service manager reports the service running (its driver's
// entry point has returned), false after ms or when stop became true.
bool WaitServiceRunning(const wchar_t* service, uint32_t ms, const std::atomic<bool>* stop);
// Path of the installed INF of a device instance (the class key's InfPath
// under %SystemRoot%\INF), in UTF-8; false when the device has none.
bool InstalledInfPath(const wchar_t* instance, char* path, size_t size);
// A DWORD under the instance's hardware key (Device Parameters): 0 no key,
// 1 key without the value, 2 value read.
int ReadDeviceSetting(const wchar_t* instance, const wchar_t* subkey, const wchar_t* value,
                      uint32_t* data);
// A line on the session's standard error (the test's log).
void Report(const char* text);

}  // namespace kmdfwine
