// Power: the device's D0 entries and exits, S0 idle (the idle time-out, the
// idle references, the power-up an arriving request asks for), system sleep,
// and the framework's side of each transition (stopping the power-managed
// queues and waiting for what they delivered, disconnecting the interrupt).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "kmdf/src/fx.h"

namespace kmdfsim {

namespace {

using Clock = std::chrono::steady_clock;

// The framework's default idle time-out, for an IdleTimeout of 0.
constexpr ULONG kDefaultIdleTimeoutMs = 5000;
// How long a D0 exit may wait for the framework's part before the simulation
// reports the driver: a request delivered by a power-managed queue, a
// running interrupt service routine (SetTransitionBound; 2 s by default).
std::atomic<uint32_t> g_transitionBoundMs{2000};
// A routine that never returns would stall the machine until the power
// watchdog stops it; here the test stops, with the report above.
constexpr auto kTransitionStall = std::chrono::seconds(60);

WDFDEVICE AsHandle(Device* d) {
    return reinterpret_cast<WDFDEVICE>(static_cast<Object*>(d));
}

// pm held.
bool IdleEligible(const Device* d) {
    return d->idleEnabled && d->power == DevicePower::D0 && d->powerRefs == 0 && d->pmRequests == 0;
}

// pm held: starts the idle time-out when nothing keeps the device in D0.
void ArmIdle(Device* d) {
    if (!IdleEligible(d)) return;
    d->idleArmed = true;
    d->idleDeadline = Clock::now() + std::chrono::milliseconds(d->idleTimeoutMs);
    d->pmCv.notify_all();
}

// What the power-managed queues delivered and the driver has not completed,
// and their deferred EvtIoStop calls still running.
int DeliveredPm(Device* d) {
    std::lock_guard<std::recursive_mutex> fx(Fx().m);
    int n = 0;
    for (Queue* q : d->queues) {
        std::lock_guard<std::mutex> lock(q->m);
        if (q->powerManaged) n += q->inDriver + q->stopsRunning;
    }
    return n;
}

// The framework disconnects the interrupt at a D0 exit and waits for a
// service routine that is running.
void DisconnectInterrupt(Device* d) {
    Interrupt* i = d->interrupt;
    if (i == nullptr) return;
    std::unique_lock<std::mutex> lock(i->m);
    i->connected = false;
    i->raised = 0;  // a line raised out of D0 is not serviced
    i->cv.notify_all();
    if (i->cv.wait_for(lock, std::chrono::milliseconds(g_transitionBoundMs.load()),
                       [&] { return !i->running; }))
        return;
    lock.unlock();
    Violation(
        "the interrupt service routine kept running past the bound of a D0 exit, which waits "
        "for it (on Windows until the power watchdog stops the machine)");
    lock.lock();
    if (!i->cv.wait_for(lock, kTransitionStall, [&] { return !i->running; })) {
        fprintf(stderr, "kmdfsim: the interrupt service routine never returned; stopping\n");
        std::abort();
    }
}

// The power-managed queues of d take nothing more from here on.
void StopPmQueues(Device* d) {
    std::lock_guard<std::recursive_mutex> fx(Fx().m);
    for (Queue* q : d->queues) {
        std::lock_guard<std::mutex> lock(q->m);
        if (q->powerManaged) q->ioOn = false;
    }
}

void ConnectInterrupt(Device* d) {
    Interrupt* i = d->interrupt;
    if (i == nullptr) return;
    std::lock_guard<std::mutex> lock(i->m);
    i->connected = true;
    i->cv.notify_all();
}

// The framework's side of a D0 the driver has entered: the interrupt
// connected, power-managed I/O on, the idle timer armed; pm not held.
void MarkInD0(Device* d) {
    {
        std::lock_guard<std::recursive_mutex> fx(Fx().m);
        d->inD0 = true;
    }
    ConnectInterrupt(d);
    std::lock_guard<std::mutex> lock(d->pm);
    d->power = DevicePower::D0;
    d->ioPowered = true;
    ArmIdle(d);
}

// The driver's D0 entry and the framework's side of it; pm not held.
NTSTATUS EnterD0(Device* d, WDF_POWER_DEVICE_STATE previous) {
    NTSTATUS status = d->pnp.EvtDeviceD0Entry != nullptr
                          ? d->pnp.EvtDeviceD0Entry(AsHandle(d), previous)
                          : STATUS_SUCCESS;
    if (!NT_SUCCESS(status)) return status;
    MarkInD0(d);
    KickQueues(d);
    return STATUS_SUCCESS;
}

// From idle D3 back to D0, for a request that arrived or an idle reference.
void PowerUpFromIdle(Device* d) {
    std::lock_guard<std::recursive_mutex> transition(d->transition);
    {
        std::lock_guard<std::mutex> lock(d->pm);
        if (d->power != DevicePower::IdleD3) return;
    }
    NTSTATUS status = EnterD0(d, WdfPowerDeviceD3);
    if (!NT_SUCCESS(status)) {
        // The framework would fail the device; its held requests go back.
        Trace("kmdfsim: D0 entry from idle failed %08x\n", static_cast<unsigned>(status));
        for (Queue* q : d->queues) {
            if (q->powerManaged) q->FailHeld(STATUS_INVALID_DEVICE_STATE);
        }
    }
}

// From D0 to idle D3 once the time-out expired with nothing to keep it.
void IdleDown(Device* d) {
    std::lock_guard<std::recursive_mutex> transition(d->transition);
    {
        std::lock_guard<std::mutex> lock(d->pm);
        d->idleArmed = false;
        if (!IdleEligible(d)) return;
    }
    // A request counts itself before its queue may take it: once the queues
    // are stopped, one that came in the meantime shows here, and the device
    // stays in D0 for it.
    StopPmQueues(d);
    {
        std::lock_guard<std::mutex> lock(d->pm);
        if (!IdleEligible(d)) {
            ArmIdle(d);
        } else {
            d->ioPowered = false;
        }
    }
    if (d->ioPowered) {
        KickQueues(d);
        return;
    }
    LeaveD0(d, WdfPowerDeviceD3);
    std::lock_guard<std::mutex> lock(d->pm);
    d->power = DevicePower::IdleD3;
    if (d->pmRequests > 0 || d->powerRefs > 0) d->powerUpWanted = true;
    d->pmCv.notify_all();
}

void PowerThread(Device* d) {
    std::unique_lock<std::mutex> lock(d->pm);
    for (;;) {
        if (d->powerThreadStop) return;
        if (d->powerUpWanted) {
            d->powerUpWanted = false;
            if (d->power == DevicePower::IdleD3) {
                lock.unlock();
                PowerUpFromIdle(d);
                lock.lock();
            }
            continue;
        }
        if (d->idleArmed) {
            if (Clock::now() >= d->idleDeadline) {
                lock.unlock();
                IdleDown(d);
                lock.lock();
            } else {
                d->pmCv.wait_until(lock, d->idleDeadline);
            }
            continue;
        }
        d->pmCv.wait(lock);
    }
}

Device* CurrentDevice() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().device;
}

}  // namespace

void LeaveD0(Device* d, WDF_POWER_DEVICE_STATE target) {
    d->ioPowered = false;
    StopPmQueues(d);
    std::vector<std::pair<Queue*, Request*>> delivered;
    {
        std::lock_guard<std::recursive_mutex> fx(Fx().m);
        d->inD0 = false;
        for (Queue* q : d->queues) {
            std::lock_guard<std::mutex> lock(q->m);
            if (!q->powerManaged || q->config.EvtIoStop == nullptr) continue;
            for (Request* r : q->delivered) delivered.emplace_back(q, r);
        }
    }
    // Each request the power-managed queues delivered goes to the queue's
    // EvtIoStop, which completes, cancels or keeps it; then, as without an
    // EvtIoStop, the framework waits for every one of them to complete
    // before the device may leave D0.
    const ULONG action =
        target == WdfPowerDeviceD3Final ? WdfRequestStopActionPurge : WdfRequestStopActionSuspend;
    for (const auto& [q, r] : delivered) {
        ULONG flags = action;
        {
            std::lock_guard<std::recursive_mutex> fx(Fx().m);
            if (Fx().live.count(r) == 0) continue;  // completed meanwhile
            if (r->cancelRoutine != nullptr) flags |= WdfRequestStopRequestCancelable;
            if (r->inCallback) {
                r->stopFlags = flags;  // stopped when its callback returns
                continue;
            }
        }
        q->config.EvtIoStop(reinterpret_cast<WDFQUEUE>(static_cast<Object*>(q)),
                            reinterpret_cast<WDFREQUEST>(static_cast<Object*>(r)), flags);
    }
    auto waited = Clock::now();
    bool reported = false;
    while (DeliveredPm(d) > 0) {
        if (!reported &&
            Clock::now() - waited > std::chrono::milliseconds(g_transitionBoundMs.load())) {
            Violation(
                "a request delivered by a power-managed queue was not completed within the bound "
                "of a D0 exit: the device cannot leave D0");
            reported = true;
        }
        if (Clock::now() - waited > kTransitionStall) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    DisconnectInterrupt(d);
    if (d->pnp.EvtDeviceD0Exit != nullptr) d->pnp.EvtDeviceD0Exit(AsHandle(d), target);
    std::lock_guard<std::mutex> lock(d->pm);
    d->d0Exits++;
}

void PowerStarted(Device* d) {
    {
        std::lock_guard<std::mutex> lock(d->pm);
        d->powerThreadStop = false;
    }
    MarkInD0(d);
    d->powerThread = std::thread([d] { PowerThread(d); });
    KickQueues(d);
}

bool PowerStopping(Device* d) {
    {
        std::lock_guard<std::mutex> lock(d->pm);
        d->powerThreadStop = true;
        d->idleArmed = false;
        d->pmCv.notify_all();
    }
    if (d->powerThread.joinable()) d->powerThread.join();
    std::lock_guard<std::mutex> lock(d->pm);
    return d->power == DevicePower::D0;
}

void PmRequestQueued(Device* d) {
    std::lock_guard<std::mutex> lock(d->pm);
    d->pmRequests++;
    d->idleArmed = false;
    if (d->power == DevicePower::IdleD3) {
        d->powerUpWanted = true;
        d->pmCv.notify_all();
    }
}

void PmRequestDone(Device* d) {
    std::lock_guard<std::mutex> lock(d->pm);
    if (d->pmRequests > 0) d->pmRequests--;
    ArmIdle(d);
}

void KickQueues(Device* d) {
    std::vector<Queue*> queues;
    {
        std::lock_guard<std::recursive_mutex> fx(Fx().m);
        queues = d->queues;
    }
    for (Queue* q : queues) {
        if (q->powerManaged) PresentHeldRequests(q);
    }
}

// ---- System sleep and wake -----------------------------------------------------------

void Suspend() {
    Device* d = CurrentDevice();
    if (d == nullptr) return;
    std::lock_guard<std::recursive_mutex> transition(d->transition);
    {
        std::lock_guard<std::mutex> lock(d->pm);
        d->idleArmed = false;
        if (d->power == DevicePower::IdleD3) {
            d->power = DevicePower::SleepD3;
            d->idleBeforeSleep = true;
            return;
        }
        if (d->power != DevicePower::D0) return;
        d->ioPowered = false;
        d->idleBeforeSleep = false;
    }
    LeaveD0(d, WdfPowerDeviceD3);
    std::lock_guard<std::mutex> lock(d->pm);
    d->power = DevicePower::SleepD3;
}

NTSTATUS Resume() {
    Device* d = CurrentDevice();
    if (d == nullptr) return STATUS_INVALID_DEVICE_STATE;
    std::lock_guard<std::recursive_mutex> transition(d->transition);
    {
        std::lock_guard<std::mutex> lock(d->pm);
        if (d->power != DevicePower::SleepD3) return STATUS_INVALID_DEVICE_STATE;
        // An idle device stays in D3 through the wake, unless something
        // wants it meanwhile.
        if (d->idleBeforeSleep && d->pmRequests == 0 && d->powerRefs == 0) {
            d->power = DevicePower::IdleD3;
            return STATUS_SUCCESS;
        }
    }
    NTSTATUS status = EnterD0(d, WdfPowerDeviceD3);
    if (!NT_SUCCESS(status)) {
        std::lock_guard<std::mutex> lock(d->pm);
        d->power = DevicePower::SleepD3;
    }
    return status;
}

// ---- Observation ----------------------------------------------------------------------

DevicePower PowerState() {
    Device* d = CurrentDevice();
    if (d == nullptr) return DevicePower::None;
    std::lock_guard<std::mutex> lock(d->pm);
    return d->power;
}

bool WaitPowerState(DevicePower state, uint32_t ms) {
    auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (PowerState() == state) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

uint32_t IdleTimeoutMs() {
    Device* d = CurrentDevice();
    if (d == nullptr) return 0;
    std::lock_guard<std::mutex> lock(d->pm);
    return d->idleEnabled ? d->idleTimeoutMs : 0;
}

bool IdleTimerRunning() {
    Device* d = CurrentDevice();
    if (d == nullptr) return false;
    std::lock_guard<std::mutex> lock(d->pm);
    return d->idleArmed;
}

bool ExpireIdleTimer(uint32_t ms) {
    Device* d = CurrentDevice();
    if (d == nullptr) return false;
    {
        std::lock_guard<std::mutex> lock(d->pm);
        if (!d->idleArmed) return false;
        d->idleDeadline = Clock::now();
        d->pmCv.notify_all();
    }
    return WaitPowerState(DevicePower::IdleD3, ms);
}

int PowerReferences() {
    Device* d = CurrentDevice();
    if (d == nullptr) return 0;
    std::lock_guard<std::mutex> lock(d->pm);
    return d->powerRefs;
}

int D0Exits() {
    Device* d = CurrentDevice();
    if (d == nullptr) return 0;
    std::lock_guard<std::mutex> lock(d->pm);
    return d->d0Exits;
}

void SetTransitionBound(uint32_t ms) {
    g_transitionBoundMs = ms;
}

}  // namespace kmdfsim

namespace kmdfsim::fx {

VOID WdfDeviceInitSetPowerPolicyOwnership(PWDFDEVICE_INIT DeviceInit, BOOLEAN IsPowerPolicyOwner) {
    DeviceInit->data.powerPolicyOwner = IsPowerPolicyOwner != FALSE;
}

NTSTATUS WdfDeviceAssignS0IdleSettings(WDFDEVICE Device,
                                       PWDF_DEVICE_POWER_POLICY_IDLE_SETTINGS Settings) {
    CheckIrql("WdfDeviceAssignS0IdleSettings", PASSIVE_LEVEL);
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfDeviceAssignS0IdleSettings");
    if (d == nullptr || Settings == nullptr) return STATUS_INVALID_PARAMETER;
    if (Settings->Size != sizeof(WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS)) {
        Violation("WdfDeviceAssignS0IdleSettings with idle settings not initialised");
        return STATUS_INFO_LENGTH_MISMATCH;
    }
    if (!d->powerPolicyOwner) return STATUS_INVALID_DEVICE_REQUEST;
    // A device that cannot wake the system idles in D1 to D3; the waking
    // kinds need wake support this simulation does not model.
    if (Settings->IdleCaps != IdleCannotWakeFromS0 || Settings->DxState < PowerDeviceD1 ||
        Settings->DxState > PowerDeviceD3 ||
        Settings->IdleTimeoutType > SystemManagedIdleTimeoutWithHint) {
        return STATUS_INVALID_PARAMETER;
    }
    std::lock_guard<std::mutex> lock(d->pm);
    d->idleEnabled = Settings->Enabled != WdfFalse;
    // A system-managed time-out is the power framework's to choose; this
    // simulation takes the driver's hint (or the default) for it.
    d->idleTimeoutMs = Settings->IdleTimeout != 0 ? Settings->IdleTimeout : kDefaultIdleTimeoutMs;
    d->idleTimeoutType = Settings->IdleTimeoutType;
    d->idleArmed = false;
    ArmIdle(d);
    return STATUS_SUCCESS;
}

NTSTATUS WdfDeviceStopIdleActual(WDFDEVICE Device, BOOLEAN WaitForD0, PVOID Tag, LONG Line,
                                 PCHAR File) {
    (void)Tag;
    (void)Line;
    (void)File;
    CheckIrql(WaitForD0 ? "WdfDeviceStopIdle (waiting for D0)" : "WdfDeviceStopIdle",
              WaitForD0 ? PASSIVE_LEVEL : DISPATCH_LEVEL);
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfDeviceStopIdle");
    if (d == nullptr) return STATUS_INVALID_PARAMETER;
    if (WaitForD0 && PresentingFromPowerManagedQueue()) {
        Violation("WdfDeviceStopIdle waiting for D0 inside a request of a power-managed queue");
    }
    std::unique_lock<std::mutex> lock(d->pm);
    if (!d->powerPolicyOwner) return STATUS_INVALID_DEVICE_STATE;
    d->powerRefs++;
    d->idleArmed = false;
    if (d->power == DevicePower::D0) {
        // Before 1.33 a system-managed time-out answers pending even in D0.
        return d->idleTimeoutType == DriverManagedIdleTimeout ? STATUS_SUCCESS : STATUS_PENDING;
    }
    if (d->power == DevicePower::IdleD3) {
        d->powerUpWanted = true;
        d->pmCv.notify_all();
    }
    if (!WaitForD0) return STATUS_PENDING;
    d->pmCv.wait(lock, [&] { return d->power == DevicePower::D0 || d->powerThreadStop; });
    return d->power == DevicePower::D0 ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_STATE;
}

VOID WdfDeviceResumeIdleActual(WDFDEVICE Device, PVOID Tag, LONG Line, PCHAR File) {
    (void)Tag;
    (void)Line;
    (void)File;
    CheckIrql("WdfDeviceResumeIdle", DISPATCH_LEVEL);
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfDeviceResumeIdle");
    if (d == nullptr) return;
    std::lock_guard<std::mutex> lock(d->pm);
    if (d->powerRefs == 0) {
        Violation("WdfDeviceResumeIdle without a WdfDeviceStopIdle it matches");
        return;
    }
    d->powerRefs--;
    ArmIdle(d);
}

// ---- Table entries ----------------------------------------------------------------------

void AddPowerMethods(MethodTable& table) {
    FX_METHOD(table, WdfDeviceInitSetPowerPolicyOwnership,
              PFN_WDFDEVICEINITSETPOWERPOLICYOWNERSHIP);
    FX_METHOD(table, WdfDeviceAssignS0IdleSettings, PFN_WDFDEVICEASSIGNS0IDLESETTINGS);
    FX_METHOD(table, WdfDeviceStopIdleActual, PFN_WDFDEVICESTOPIDLEACTUAL);
    FX_METHOD(table, WdfDeviceResumeIdleActual, PFN_WDFDEVICERESUMEIDLEACTUAL);
}

}  // namespace kmdfsim::fx
