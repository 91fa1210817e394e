// Control surface of the host KMDF simulation: the virtual machine's Plug and
// Play manager, registry, hardware resources, interrupt line and SPB
// controllers, plus what a test inspects afterwards (debug prints and the
// contract violations the framework's verifier would have stopped on).
//
// The framework itself (wdf.h, ntddk.h, spb.h under kmdf/include) runs on
// real threads, each with an IRQL of its own: a sequential queue presents its
// next request inside WdfRequestComplete (or on its passive-level worker
// thread), the SPB controller may complete on its own thread, completion and
// cancel routines run at DISPATCH_LEVEL, the interrupt routine runs on its own
// thread, and cancellation comes from whichever thread asks. The rules it
// holds a driver to are listed in kmdf/README.md.
#pragma once

#include <ntddk.h>
#include <wdf.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kmdfsim {

enum class DevicePower { None, D0, IdleD3, SleepD3 };

// ---- World -------------------------------------------------------------------

// Tears everything down (device removed, driver unloaded, threads joined)
// and restores the defaults: no registry values, one I2C connection (id 1:2)
// plus one interrupt, an SPB controller with an echo device on that id.
void Reset();

// Calls the driver's entry point; remembers it for later device adds.
NTSTATUS LoadDriver(DRIVER_INITIALIZE* entry);
// Removes the device (when present) and runs the driver object's clean-up.
void UnloadDriver();

// ---- Hardware resources and registry -------------------------------------------

CM_PARTIAL_RESOURCE_DESCRIPTOR InterruptResource(ULONG vector);
CM_PARTIAL_RESOURCE_DESCRIPTOR ConnectionResource(UCHAR cls, UCHAR type, ULONG idLow, ULONG idHigh);
CM_PARTIAL_RESOURCE_DESCRIPTOR MemoryResource(ULONGLONG start, ULONG length);
// The translated list of the next start; the raw list is the same with the
// interrupt vectors offset by 0x100, so a mix-up of the two shows.
void SetResources(std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> translated);

// "Settings" subkey of the device's hardware key and its "ConnectInterrupt":
// absent key, key without the value, or the value.
void SetSettingsKey(bool present);
void SetConnectInterrupt(std::optional<ULONG> value);

// ---- Device properties ---------------------------------------------------------
// What the PnP manager sets on the device's named object (the PDO, which the
// driver's symbolic link leads to) from the INF's AddReg entries. Reset clears
// them: no security descriptor, not exclusive.
struct DeviceProperties {
    // SDDL of "Security", e.g. "D:P(A;;GA;;;SY)"; empty: anyone may open.
    std::string security;
    // "Exclusive": while one handle is open, every other open fails with
    // STATUS_ACCESS_DENIED.
    bool exclusive = false;
    // "DeviceCharacteristics". Without FILE_DEVICE_SECURE_OPEN (0x100) the
    // I/O manager checks the security descriptor only for opens of the device
    // itself, not for a name inside its namespace ("\\.\QXSPB\any").
    uint32_t characteristics = 0;
};
void SetDeviceProperties(const DeviceProperties& properties);
DeviceProperties CurrentDeviceProperties();

// ---- Plug and Play and power -----------------------------------------------------

// Add, prepare hardware, D0 entry. Returns the first failing status (the
// device is then torn down again) or success.
NTSTATUS AddDevice();
// Disable from the device manager: vetoed (false) while a handle is open,
// otherwise D0 exit, release hardware, device deleted.
bool DisableDevice();
NTSTATUS EnableDevice();
// System sleep and wake with handles left open: D0 exit and D0 entry only
// (a device idle in D3 stays there, as with PowerUpIdleDeviceOnSystemWake
// left at its default). Also what a D0 loss nobody announces (hibernate,
// fast startup) looks like to the driver.
void Suspend();
NTSTATUS Resume();

// Where the device is: not started, working, idle in D3 (its idle time-out
// expired), or in D3 with the system asleep.
DevicePower PowerState();
bool WaitPowerState(DevicePower state, uint32_t ms);
// The idle time-out the driver assigned (0: none), and whether it runs now.
uint32_t IdleTimeoutMs();
bool IdleTimerRunning();
// Lets a running idle time-out expire now; true once the device is idle in D3
// (within ms), false when no time-out ran.
bool ExpireIdleTimer(uint32_t ms = 2000);
// Idle references the driver holds (WdfDeviceStopIdle minus ResumeIdle).
int PowerReferences();
// D0 exits of the device so far (idle, sleep or removal).
int D0Exits();
// How long a D0 exit waits for a delivered request or a running interrupt
// routine before the driver is reported (2 s; Reset restores it).
void SetTransitionBound(uint32_t ms);
bool DevicePresent();
bool DeviceInD0();
WDFDEVICE DeviceHandle();

// A request that reaches an idle sequential queue is presented on the thread
// that queued it (when its IRQL allows), as the framework does, instead of on
// the queue's worker thread. With an inline bus, a whole transfer then runs on
// the caller's thread: what a virtual-time caller needs. (The next request
// after a completion is always presented inside WdfRequestComplete, or by the
// worker thread for a passive-level queue.)
void SetInlineDispatch(bool on);

// ---- Interrupt line ---------------------------------------------------------------

// Raises the line once; the service routine runs on the interrupt thread.
// False when no interrupt object is connected or the device is out of D0.
bool FireInterrupt();
// Blocks until every raised interrupt was serviced or ms passed.
bool WaitInterruptsIdle(uint32_t ms);
// True while the service routine is inside (for example holding the line).
bool IsrRunning();
int IsrCalls();
bool InterruptConnected();
// Vector of the translated descriptor the interrupt was created with (0: none).
ULONG InterruptVector();

// ---- Cancellation window ------------------------------------------------------------

// While held, a cancellation that has begun (unmarking already fails) defers
// the call of the request's cancel routine until RunHeldCancelRoutines.
void HoldCancelRoutines(bool hold);
int HeldCancelRoutines();
void RunHeldCancelRoutines();

// While held, a request the bus has finished waits before its completion
// routine is called (it still counts as sent: closing its target waits),
// until RunHeldCompletionRoutines.
void HoldCompletionRoutines(bool hold);
int HeldCompletionRoutines();
bool WaitHeldCompletionRoutines(int n, uint32_t ms);
void RunHeldCompletionRoutines();

// ---- SPB controller -------------------------------------------------------------

// What sits on the bus behind a controller.
class Peripheral {
  public:
    virtual ~Peripheral() = default;
    // Bytes the device took; the controller reports them as transferred.
    virtual size_t Write(const uint8_t* bytes, size_t count) = 0;
    // Fills buf; returns the bytes delivered.
    virtual size_t Read(uint8_t* buf, size_t count) = 0;
};

enum class SpbMode {
    Inline,  // completes inside the send, on the sending thread
    Async,   // completes on the controller's thread (after the delay)
    Hold,    // stays pending until ReleaseHeld or cancellation
};

struct SpbTransaction {
    ULONG kind;  // 'R', 'W' or the SPB control code
    std::vector<uint8_t> written;
    size_t readLength;
    NTSTATUS status;
    size_t information;
};

class SpbController {
  public:
    virtual ~SpbController() = default;
    virtual void SetMode(SpbMode mode, uint32_t delayUs = 0) = 0;
    // The next n transfers (-1: all) complete with status and no bytes.
    virtual void FailNext(NTSTATUS status, int n = 1) = 0;
    // The next n transfers stop after at most bytes (a short count).
    virtual void ShortNext(size_t bytes, int n = 1) = 0;
    // The next n transfers see no acknowledge of the address.
    virtual void NakNext(int n = 1) = 0;
    virtual void SetPeripheral(Peripheral* peripheral) = 0;  // null: the echo device
    // A slave holding SCL low: while stuck, the controller completes no
    // transfer, cancelled or not; once free, those it held end (as cancelled
    // when their cancel came meanwhile) and new ones complete.
    virtual void SetStuck(bool stuck) = 0;
    virtual int Held() = 0;
    // Completes up to n held requests, oldest first; returns how many.
    virtual int ReleaseHeld(int n = 1) = 0;
    virtual bool WaitHeld(int n, uint32_t ms) = 0;
    virtual std::vector<SpbTransaction> Transactions() = 0;
    virtual bool ControllerLocked() = 0;
    virtual bool ConnectionLocked() = 0;
    virtual int Opens() = 0;    // times a target opened this connection
    virtual int Cancels() = 0;  // requests completed as cancelled
};

// The controller behind resource-hub connection id (high:low); created on first use.
SpbController& Spb(ULONG idLow = 2, ULONG idHigh = 1);
// The name of the last successful remote-target open and its access mask.
std::wstring LastOpenedTargetName();
ACCESS_MASK LastOpenedTargetAccess();
// The next n sends to a target are refused with status.
void RefuseSends(NTSTATUS status, int n = 1);
// Runs hook once, inside the next WdfRequestSend, before the send is
// accepted or refused (for example to cancel the client request right there).
void BeforeNextSend(std::function<void()> hook);

// ---- Observation -------------------------------------------------------------------

std::vector<std::string> DbgPrints();
void ClearDbgPrints();
// Contract violations (double completion, a cancel routine handed a
// completed request, a request never completed at removal, ...).
std::vector<std::string> Violations();
// Framework objects alive now (driver and device objects included).
size_t LiveObjects();
// Framework objects the driver created so far (requests, memory, targets,
// locks, keys, ...): what its allocations per operation show in.
size_t DriverObjectsCreated();
// Client requests issued and not completed yet.
size_t OutstandingRequests();

}  // namespace kmdfsim
