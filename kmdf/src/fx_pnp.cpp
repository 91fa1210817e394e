// Driver and device objects, the Plug and Play and power sequence, file
// handles and the interrupt line.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kmdf/src/fx.h"

namespace kmdfsim {

namespace {

std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> g_resources;

WDFDEVICE AsHandle(Device* d) {
    return reinterpret_cast<WDFDEVICE>(static_cast<Object*>(d));
}
WDFCMRESLIST AsHandle(ResList* l) {
    return reinterpret_cast<WDFCMRESLIST>(static_cast<Object*>(l));
}
WDFINTERRUPT AsHandle(Interrupt* i) {
    return reinterpret_cast<WDFINTERRUPT>(static_cast<Object*>(i));
}

std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> DefaultResources() {
    return {ConnectionResource(CM_RESOURCE_CONNECTION_CLASS_SERIAL,
                               CM_RESOURCE_CONNECTION_TYPE_SERIAL_I2C, 2, 1),
            InterruptResource(0x35)};
}

// Removes the device: every handle still open is cleaned up first (only
// unload does that; a disable is vetoed while handles are open).
void RemoveDevice(Device* d);

}  // namespace

// ---- Files --------------------------------------------------------------------------------

void CleanupFile(FileObj* f) {
    Device* d = f->device;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (f->cleanedUp) return;
        f->cleanedUp = true;
    }
    FlushFile(f);
    if (d->hasFileConfig && d->fileConfig.EvtFileCleanup != nullptr) {
        d->fileConfig.EvtFileCleanup(reinterpret_cast<WDFFILEOBJECT>(static_cast<Object*>(f)));
    }
    std::unique_lock<std::recursive_mutex> lock(Fx().m);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!f->outstanding.empty()) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        lock.lock();
        if (std::chrono::steady_clock::now() > deadline) {
            Violation("a request of a closed handle was never completed");
            break;
        }
    }
    bool leftovers = !f->outstanding.empty();
    lock.unlock();
    // The handle counts as open until its object is gone, so a removal
    // cannot delete the file object under us.
    if (!leftovers) DeleteTree(f);
    lock.lock();
    d->files.erase(f);
}

namespace {
DeviceProperties g_properties;

std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts(1);
    for (char c : s) {
        if (c == sep) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

// The groups an SDDL trustee abbreviation stands for in a caller's token.
bool TokenHolds(const std::string& account, const std::string& sid) {
    if (sid == "WD" || sid == account) return true;
    if (account == "SY") return sid == "BA";  // LocalSystem is an administrator
    if (account == "BA") return sid == "BU";
    return false;
}

bool GrantsReadWrite(const std::string& rights) {
    return rights.find("GA") != std::string::npos || rights.find("FA") != std::string::npos ||
           (rights.find("GR") != std::string::npos && rights.find("GW") != std::string::npos);
}

// Access check of an open for reading and writing against the device's
// discretionary ACL: the first ACE naming the caller decides; none: denied.
bool AccessAllowed(const std::string& sddl, const std::string& account) {
    if (sddl.empty()) return true;
    size_t dacl = sddl.find("D:");
    if (dacl == std::string::npos) return true;
    for (size_t open = sddl.find('(', dacl); open != std::string::npos;
         open = sddl.find('(', open + 1)) {
        size_t close = sddl.find(')', open);
        if (close == std::string::npos) break;
        std::vector<std::string> ace = Split(sddl.substr(open + 1, close - open - 1), ';');
        if (ace.size() != 6 || !TokenHolds(account, ace[5])) continue;
        if (ace[0] == "D") return false;
        if (ace[0] == "A" && GrantsReadWrite(ace[2])) return true;
    }
    return false;
}
}  // namespace

void SetDeviceProperties(const DeviceProperties& properties) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    g_properties = properties;
}

DeviceProperties CurrentDeviceProperties() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return g_properties;
}

FileObj* OpenFile(const std::wstring& link, bool inNamespace, const std::string& account,
                  NTSTATUS* status) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    Device* d = Fx().device;
    if (d == nullptr || !d->started || d->removing || d->link != link) {
        *status = STATUS_OBJECT_NAME_NOT_FOUND;
        return nullptr;
    }
    // The I/O manager's checks on the named object, before the driver sees
    // anything: its security descriptor (for a name inside the device's
    // namespace only with FILE_DEVICE_SECURE_OPEN), then its exclusivity. A
    // handle counts until its clean-up has finished.
    constexpr uint32_t kSecureOpen = 0x100;
    const bool checked = !inNamespace || (g_properties.characteristics & kSecureOpen) != 0;
    if ((checked && !AccessAllowed(g_properties.security, account)) ||
        (g_properties.exclusive && !d->files.empty())) {
        *status = STATUS_ACCESS_DENIED;
        return nullptr;
    }
    auto* f = new FileObj();
    f->device = d;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    Attach(f, d, &attributes);
    d->files.insert(f);
    *status = STATUS_SUCCESS;
    return f;
}

bool FileAlive(FileObj* f) {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().live.count(f) != 0 && !f->cleanedUp;
}

// ---- Interrupt ----------------------------------------------------------------------------

void Interrupt::Run() {
    std::unique_lock<std::mutex> lock(m);
    for (;;) {
        cv.wait(lock, [&] { return stop || raised > 0; });
        if (stop) return;
        raised--;
        running = true;
        lock.unlock();
        BOOLEAN claimed = config.EvtInterruptIsr(AsHandle(this), 0);
        lock.lock();
        if (!claimed) Violation("interrupt not claimed by its service routine");
        running = false;
        calls++;
        cv.notify_all();
    }
}

void Interrupt::Teardown() {
    std::unique_lock<std::mutex> lock(m);
    // Disconnecting waits for the service routine; one that never returns
    // hangs the machine, so stop here with a clear message instead.
    if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return !running; })) {
        lock.unlock();
        Violation("disconnecting the interrupt: the service routine never returned");
        fprintf(stderr, "kmdfsim: interrupt service routine stuck; stopping\n");
        std::abort();
    }
    stop = true;
    cv.notify_all();
    lock.unlock();
    if (thread.joinable()) thread.join();
    std::lock_guard<std::recursive_mutex> fx(Fx().m);
    if (device != nullptr && device->interrupt == this) device->interrupt = nullptr;
}

bool FireInterrupt() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    Device* d = Fx().device;
    if (d == nullptr || !d->inD0 || d->interrupt == nullptr) return false;
    Interrupt* i = d->interrupt;
    std::lock_guard<std::mutex> ilock(i->m);
    if (!i->connected) return false;
    i->raised++;
    i->cv.notify_all();
    return true;
}

bool WaitInterruptsIdle(uint32_t ms) {
    Interrupt* i;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (Fx().device == nullptr || Fx().device->interrupt == nullptr) return true;
        i = Fx().device->interrupt;
    }
    std::unique_lock<std::mutex> lock(i->m);
    return i->cv.wait_for(lock, std::chrono::milliseconds(ms),
                          [&] { return i->raised == 0 && !i->running; });
}

bool IsrRunning() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (Fx().device == nullptr || Fx().device->interrupt == nullptr) return false;
    std::lock_guard<std::mutex> ilock(Fx().device->interrupt->m);
    return Fx().device->interrupt->running;
}

int IsrCalls() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (Fx().device == nullptr || Fx().device->interrupt == nullptr) return 0;
    std::lock_guard<std::mutex> ilock(Fx().device->interrupt->m);
    return Fx().device->interrupt->calls;
}

ULONG InterruptVector() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (Fx().device == nullptr || Fx().device->interrupt == nullptr) return 0;
    return Fx().device->interrupt->vector;
}

bool InterruptConnected() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().device != nullptr && Fx().device->interrupt != nullptr;
}

// ---- Resources ----------------------------------------------------------------------------

CM_PARTIAL_RESOURCE_DESCRIPTOR InterruptResource(ULONG vector) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeInterrupt;
    d.u.Interrupt.Vector = vector;
    d.u.Interrupt.Level = static_cast<USHORT>(vector);
    d.u.Interrupt.Affinity = 1;
    return d;
}

CM_PARTIAL_RESOURCE_DESCRIPTOR ConnectionResource(UCHAR cls, UCHAR type, ULONG idLow,
                                                  ULONG idHigh) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeConnection;
    d.u.Connection.Class = cls;
    d.u.Connection.Type = type;
    d.u.Connection.IdLowPart = idLow;
    d.u.Connection.IdHighPart = idHigh;
    return d;
}

CM_PARTIAL_RESOURCE_DESCRIPTOR MemoryResource(ULONGLONG start, ULONG length) {
    CM_PARTIAL_RESOURCE_DESCRIPTOR d{};
    d.Type = CmResourceTypeMemory;
    d.u.Memory.Start.QuadPart = static_cast<LONGLONG>(start);
    d.u.Memory.Length = length;
    return d;
}

void SetResources(std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> translated) {
    g_resources = std::move(translated);
}

// ---- Plug and Play --------------------------------------------------------------------------

namespace {

void DeleteResourceLists(Device* d) {
    if (d->raw != nullptr) DeleteTree(d->raw);
    if (d->translated != nullptr) DeleteTree(d->translated);
    d->raw = nullptr;
    d->translated = nullptr;
}

void RemoveDevice(Device* d) {
    std::vector<FileObj*> files;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        d->removing = true;
        files.assign(d->files.begin(), d->files.end());
    }
    for (FileObj* f : files) CleanupFile(f);
    if (PowerStopping(d)) {
        std::lock_guard<std::recursive_mutex> transition(d->transition);
        LeaveD0(d, WdfPowerDeviceD3Final);
    }
    if (d->pnp.EvtDeviceReleaseHardware != nullptr)
        d->pnp.EvtDeviceReleaseHardware(AsHandle(d), AsHandle(d->translated));
    DeleteResourceLists(d);
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        Fx().device = nullptr;
    }
    DeleteTree(d);
}

}  // namespace

NTSTATUS AddDevice() {
    Driver* drv;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        drv = Fx().driver;
        if (drv == nullptr || Fx().device != nullptr) return STATUS_INVALID_DEVICE_STATE;
    }
    WDFDEVICE_INIT init{};
    NTSTATUS status = drv->config.EvtDriverDeviceAdd(
        reinterpret_cast<WDFDRIVER>(static_cast<Object*>(drv)), &init);
    Device* d;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        d = Fx().device;
    }
    if (!NT_SUCCESS(status)) {
        if (d != nullptr) {
            {
                std::lock_guard<std::recursive_mutex> lock(Fx().m);
                Fx().device = nullptr;
            }
            DeleteTree(d);
        }
        return status;
    }
    if (d == nullptr) return STATUS_SUCCESS;

    d->raw = new ResList();
    d->translated = new ResList();
    Attach(d->raw, d, nullptr);
    Attach(d->translated, d, nullptr);
    d->translated->items = g_resources;
    d->raw->items = g_resources;
    for (auto& item : d->raw->items) {
        if (item.Type == CmResourceTypeInterrupt) item.u.Interrupt.Vector += 0x100;
    }

    status = d->pnp.EvtDevicePrepareHardware != nullptr
                 ? d->pnp.EvtDevicePrepareHardware(AsHandle(d), AsHandle(d->raw),
                                                   AsHandle(d->translated))
                 : STATUS_SUCCESS;
    if (NT_SUCCESS(status) && d->pnp.EvtDeviceD0Entry != nullptr) {
        status = d->pnp.EvtDeviceD0Entry(AsHandle(d), WdfPowerDeviceD3Final);
    }
    if (!NT_SUCCESS(status)) {
        RemoveDevice(d);
        return status;
    }
    PowerStarted(d);
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    d->started = true;
    return STATUS_SUCCESS;
}

bool DisableDevice() {
    Device* d;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        d = Fx().device;
        if (d == nullptr) return true;
        if (!d->files.empty()) return false;  // an open handle vetoes the removal
        d->removing = true;
    }
    RemoveDevice(d);
    return true;
}

NTSTATUS EnableDevice() {
    return AddDevice();
}

bool DevicePresent() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().device != nullptr;
}

bool DeviceInD0() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().device != nullptr && Fx().device->inD0;
}

WDFDEVICE DeviceHandle() {
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    return Fx().device == nullptr ? nullptr : AsHandle(Fx().device);
}

NTSTATUS LoadDriver(DRIVER_INITIALIZE* image) {
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (Fx().bound != nullptr || Fx().driver != nullptr) {
            Violation("an image is loaded while another one is still bound");
            return STATUS_INVALID_DEVICE_STATE;
        }
        Fx().driverObject = DRIVER_OBJECT{};
        Fx().driverObject.Type = 4;  // IO_TYPE_DRIVER
        Fx().driverObject.Size = sizeof(DRIVER_OBJECT);
    }
    // The I/O manager's registry path lives for the call only: a stub that
    // keeps the pointer instead of a copy reads what this scribbles over it.
    WCHAR path[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\QXVeltrane";
    UNICODE_STRING registryPath;
    RtlInitUnicodeString(&registryPath, path);
    NTSTATUS status = image(&Fx().driverObject, &registryPath);
    for (WCHAR& c : path) c = L'#';
    bool bound;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        bound = Fx().bound != nullptr;
    }
    if (NT_SUCCESS(status) && !bound) {
        Violation("the image's entry point returned success without binding to the framework");
    } else if (!NT_SUCCESS(status) && bound) {
        Violation("the image's entry point failed and left its bind to the framework");
    }
    return status;
}

void UnloadDriver() {
    Device* d;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        d = Fx().device;
    }
    if (d != nullptr) RemoveDevice(d);
    // The I/O manager calls the image's unload routine: the loader stub's,
    // which runs the framework's and then unbinds.
    PDRIVER_UNLOAD unload = Fx().driverObject.DriverUnload;
    if (unload != nullptr) unload(&Fx().driverObject);
    bool stillBound;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        stillBound = Fx().bound != nullptr;
        Fx().bound = nullptr;
        Fx().bindInfo = nullptr;
        Fx().driverObject = DRIVER_OBJECT{};
    }
    if (stillBound) Violation("the image was unloaded without unbinding from the framework");
    DeleteDriverObject();
}

void Reset() {
    UnloadDriver();
    // Objects made without a driver to hang from (a method called with
    // globals of no bind, after the violation it was reported as) go too.
    std::vector<Object*> orphans;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        for (Object* o : Fx().live) {
            if (o->parent == nullptr && o->kind != Kind::Request && o->kind != Kind::File)
                orphans.push_back(o);
        }
    }
    for (Object* o : orphans) DeleteTree(o);
    ResetControllers();
    FreeCompletedRequests();
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        Fx().holdCancel = false;
        Fx().inlineDispatch = false;
        Fx().heldCancels.clear();
        Fx().holdCompletions = false;
        Fx().heldCompletions.clear();
        Fx().refuseCount = 0;
        Fx().refuseStatus = STATUS_SUCCESS;
        Fx().beforeSend = nullptr;
        Fx().lastOpenName.clear();
        Fx().lastOpenAccess = 0;
        g_properties = DeviceProperties();
    }
    g_resources = DefaultResources();
    SetTransitionBound(2000);
    SetSettingsKey(false);
    SetConnectInterrupt(std::nullopt);
    Spb(2, 1);
    ClearLogs();
}

void DeleteDriverObject() {
    Driver* drv;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        drv = Fx().driver;
        Fx().driver = nullptr;
    }
    if (drv != nullptr) DeleteTree(drv);
}

// The framework's own unload routine of a driver object.
VOID FrameworkDriverUnload(PDRIVER_OBJECT DriverObject) {
    (void)DriverObject;
    Driver* drv;
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        drv = Fx().driver;
    }
    if (drv != nullptr && drv->config.EvtDriverUnload != nullptr)
        drv->config.EvtDriverUnload(reinterpret_cast<WDFDRIVER>(static_cast<Object*>(drv)));
    DeleteDriverObject();
}

}  // namespace kmdfsim

namespace kmdfsim::fx {

// ---- Driver and device methods -----------------------------------------------------------------

NTSTATUS WdfDriverCreate(PDRIVER_OBJECT DriverObject, PCUNICODE_STRING RegistryPath,
                         PWDF_OBJECT_ATTRIBUTES DriverAttributes, PWDF_DRIVER_CONFIG DriverConfig,
                         WDFDRIVER* Driver) {
    (void)RegistryPath;
    CheckIrql("WdfDriverCreate", PASSIVE_LEVEL);
    if (DriverConfig == nullptr || DriverConfig->Size != sizeof(WDF_DRIVER_CONFIG) ||
        DriverConfig->EvtDriverDeviceAdd == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        if (Fx().driver != nullptr) return STATUS_INVALID_DEVICE_STATE;
    }
    auto* d = new kmdfsim::Driver();
    d->config = *DriverConfig;
    Attach(d, nullptr, DriverAttributes);
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    Fx().driver = d;
    WDFDRIVER handle = reinterpret_cast<WDFDRIVER>(static_cast<Object*>(d));
    if (Fx().bound != nullptr) {
        Fx().bound->Driver = handle;
        if (DriverConfig->DriverPoolTag != 0) Fx().bound->DriverTag = DriverConfig->DriverPoolTag;
    }
    // The framework unloads a PnP driver itself; the loader stub displaces
    // this routine with its own, which calls it and then unbinds.
    if (DriverObject != nullptr) DriverObject->DriverUnload = FrameworkDriverUnload;
    if (Driver != nullptr) *Driver = handle;
    return STATUS_SUCCESS;
}

VOID WdfDeviceInitSetPnpPowerEventCallbacks(PWDFDEVICE_INIT DeviceInit,
                                            PWDF_PNPPOWER_EVENT_CALLBACKS PnpPowerEventCallbacks) {
    if (PnpPowerEventCallbacks->Size != sizeof(WDF_PNPPOWER_EVENT_CALLBACKS))
        Violation("PnP callbacks not initialised");
    DeviceInit->data.pnp = *PnpPowerEventCallbacks;
}

VOID WdfDeviceInitSetFileObjectConfig(PWDFDEVICE_INIT DeviceInit,
                                      PWDF_FILEOBJECT_CONFIG FileObjectConfig,
                                      PWDF_OBJECT_ATTRIBUTES FileObjectAttributes) {
    (void)FileObjectAttributes;
    if (FileObjectConfig->Size != sizeof(WDF_FILEOBJECT_CONFIG))
        Violation("file object config not initialised");
    DeviceInit->data.fileConfig = *FileObjectConfig;
    DeviceInit->data.hasFileConfig = true;
}

VOID WdfDeviceInitSetRequestAttributes(PWDFDEVICE_INIT DeviceInit,
                                       PWDF_OBJECT_ATTRIBUTES RequestAttributes) {
    DeviceInit->data.requestAttributes = *RequestAttributes;
    DeviceInit->data.hasRequestAttributes = true;
}

NTSTATUS WdfDeviceCreate(PWDFDEVICE_INIT* DeviceInit, PWDF_OBJECT_ATTRIBUTES DeviceAttributes,
                         WDFDEVICE* Device) {
    CheckIrql("WdfDeviceCreate", PASSIVE_LEVEL);
    if (DeviceInit == nullptr || *DeviceInit == nullptr) return STATUS_INVALID_PARAMETER;
    auto* d = new kmdfsim::Device();
    const DeviceInitData& data = (*DeviceInit)->data;
    d->pnp = data.pnp;
    d->fileConfig = data.fileConfig;
    d->hasFileConfig = data.hasFileConfig;
    d->requestAttributes = data.requestAttributes;
    d->hasRequestAttributes = data.hasRequestAttributes;
    d->powerPolicyOwner = data.powerPolicyOwner;
    Attach(d, Fx().driver, DeviceAttributes);
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        Fx().device = d;
    }
    *DeviceInit = nullptr;  // the framework owns it now
    *Device = reinterpret_cast<WDFDEVICE>(static_cast<Object*>(d));
    return STATUS_SUCCESS;
}

VOID WdfDeviceSetDeviceState(WDFDEVICE Device, PWDF_DEVICE_STATE DeviceState) {
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfDeviceSetDeviceState");
    if (d != nullptr) d->state = *DeviceState;
}

NTSTATUS WdfDeviceCreateSymbolicLink(WDFDEVICE Device, PCUNICODE_STRING SymbolicLinkName) {
    CheckIrql("WdfDeviceCreateSymbolicLink", PASSIVE_LEVEL);
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfDeviceCreateSymbolicLink");
    if (d == nullptr || SymbolicLinkName == nullptr || SymbolicLinkName->Buffer == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    d->link.assign(SymbolicLinkName->Buffer, SymbolicLinkName->Length / sizeof(WCHAR));
    return STATUS_SUCCESS;
}

WDFDEVICE WdfFileObjectGetDevice(WDFFILEOBJECT FileObject) {
    auto* o = reinterpret_cast<Object*>(FileObject);
    std::lock_guard<std::recursive_mutex> lock(Fx().m);
    if (o == nullptr || Fx().live.count(o) == 0 || o->kind != Kind::File) {
        Violation("WdfFileObjectGetDevice: invalid file object");
        return nullptr;
    }
    return reinterpret_cast<WDFDEVICE>(static_cast<Object*>(static_cast<FileObj*>(o)->device));
}

NTSTATUS WdfInterruptCreate(WDFDEVICE Device, PWDF_INTERRUPT_CONFIG Configuration,
                            PWDF_OBJECT_ATTRIBUTES Attributes, WDFINTERRUPT* Interrupt) {
    auto* d = Checked<kmdfsim::Device>(Device, Kind::Device, "WdfInterruptCreate");
    if (d == nullptr || Configuration == nullptr ||
        Configuration->Size != sizeof(WDF_INTERRUPT_CONFIG) ||
        Configuration->EvtInterruptIsr == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    // Raw and translated descriptors must be the same entry of both lists.
    long rawIndex = -1;
    long translatedIndex = -1;
    if (d->raw != nullptr && d->translated != nullptr) {
        for (size_t i = 0; i < d->raw->items.size(); i++) {
            if (&d->raw->items[i] == Configuration->InterruptRaw) rawIndex = static_cast<long>(i);
            if (&d->translated->items[i] == Configuration->InterruptTranslated)
                translatedIndex = static_cast<long>(i);
        }
    }
    if (rawIndex < 0 || rawIndex != translatedIndex ||
        d->translated->items[static_cast<size_t>(rawIndex)].Type != CmResourceTypeInterrupt) {
        Violation(
            "WdfInterruptCreate with descriptors that are not one interrupt entry of both lists");
        return STATUS_INVALID_PARAMETER;
    }
    if (!Configuration->PassiveHandling) {
        Violation("the service routine waits, so it needs passive-level handling");
    }
    auto* i = new kmdfsim::Interrupt();
    i->device = d;
    i->config = *Configuration;
    i->vector = Configuration->InterruptTranslated->u.Interrupt.Vector;
    Attach(i, d, Attributes);
    i->thread = std::thread([i] { i->Run(); });
    {
        std::lock_guard<std::recursive_mutex> lock(Fx().m);
        d->interrupt = i;
    }
    *Interrupt = AsHandle(i);
    return STATUS_SUCCESS;
}

WDFDEVICE WdfInterruptGetDevice(WDFINTERRUPT Interrupt) {
    auto* i = Checked<kmdfsim::Interrupt>(Interrupt, Kind::Interrupt, "WdfInterruptGetDevice");
    return i == nullptr ? nullptr : reinterpret_cast<WDFDEVICE>(static_cast<Object*>(i->device));
}

// ---- Table entries ----------------------------------------------------------------------

void AddDeviceMethods(MethodTable& table) {
    FX_METHOD(table, WdfDriverCreate, PFN_WDFDRIVERCREATE);
    FX_METHOD(table, WdfDeviceInitSetPnpPowerEventCallbacks,
              PFN_WDFDEVICEINITSETPNPPOWEREVENTCALLBACKS);
    FX_METHOD(table, WdfDeviceInitSetFileObjectConfig, PFN_WDFDEVICEINITSETFILEOBJECTCONFIG);
    FX_METHOD(table, WdfDeviceInitSetRequestAttributes, PFN_WDFDEVICEINITSETREQUESTATTRIBUTES);
    FX_METHOD(table, WdfDeviceCreate, PFN_WDFDEVICECREATE);
    FX_METHOD(table, WdfDeviceSetDeviceState, PFN_WDFDEVICESETDEVICESTATE);
    FX_METHOD(table, WdfDeviceCreateSymbolicLink, PFN_WDFDEVICECREATESYMBOLICLINK);
    FX_METHOD(table, WdfFileObjectGetDevice, PFN_WDFFILEOBJECTGETDEVICE);
    FX_METHOD(table, WdfInterruptCreate, PFN_WDFINTERRUPTCREATE);
    FX_METHOD(table, WdfInterruptGetDevice, PFN_WDFINTERRUPTGETDEVICE);
}

}  // namespace kmdfsim::fx
