#include "sim/notebook.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "sim/console_model.h"
#include "sim/bus_recorder.h"
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "sim/device_handles.h"
#include "sim/eventlog_model.h"
#include "sim/intel_lib_model.h"
#include "sim/iphlp_model.h"
#include "sim/link_model.h"
#include "sim/memory_model.h"
#include "sim/power_model.h"
#include "sim/qca_device_model.h"
#include "sim/vkernel.h"
#include "sim/wlan_model.h"
#include "sim/fault_plan.h"
#include "sim/scm_model.h"
#include "sim/process_model.h"
#include "sim/registry_model.h"
#include "sim/file_model.h"
#include "sim/device_install_model.h"

namespace qxsim {

namespace {
// Published before its models are built, so that a model built later may
// reach one built before it (the Intel library and IP Helper read the link).
std::atomic<Notebook*> g_current{nullptr};
std::mutex g_build;
}  // namespace

Notebook& Notebook::Current() {
    Notebook* nb = g_current.load(std::memory_order_acquire);
    if (nb != nullptr) return *nb;
    std::lock_guard<std::mutex> lk(g_build);
    nb = g_current.load(std::memory_order_acquire);
    if (nb == nullptr) {
        // Never destroyed: the host process may end while virtual threads
        // still wait on its clock (the simulated ExitProcess ends it so).
        nb = new Notebook();
        g_current.store(nb, std::memory_order_release);
        nb->Build();
    }
    return *nb;
}

Notebook::Notebook() = default;
Notebook::~Notebook() {
    TearDown();
}

void Notebook::Build() {
    // In the order the models read each other while they are built. The
    // fault plan comes first: every seam asks it.
    faults_.reset(new FaultPlan());
    kernel_.reset(new qxsim::Kernel());
    memory_.reset(new MemoryModel());
    link_.reset(new LinkModel());
    console_.reset(new ConsoleModel());
    firmware_.reset(new FirmwareModel());
    bus_.reset(new BusRecorder());
    controller_.reset(new ControllerModel());
    device_handles_.reset(new qxsim::DeviceHandles());
    eventlog_.reset(new EventLogModel());
    intel_lib_.reset(new IntelLibModel());
    intel_lib_->Reset();
    iphlp_.reset(new IpHelperModel());
    iphlp_->Reset();
    power_.reset(new PowerModel());
    qca_device_.reset(new QcaDeviceModel());
    wlan_.reset(new WlanModel());
    scm_.reset(new ScmModel());
    processes_.reset(new ProcessModel());
    registry_.reset(new RegistryModel());
    files_.reset(new FileModel());
    device_install_.reset(new DeviceInstallModel());
}

void Notebook::TearDown() {
    device_install_.reset();
    files_.reset();
    registry_.reset();
    processes_.reset();
    scm_.reset();
    wlan_.reset();
    qca_device_.reset();
    power_.reset();
    iphlp_.reset();
    intel_lib_.reset();
    eventlog_.reset();
    device_handles_.reset();
    controller_.reset();
    bus_.reset();
    firmware_.reset();
    console_.reset();
    link_.reset();
    memory_.reset();
    kernel_.reset();
    faults_.reset();
}

void Notebook::Reset() {
    const std::vector<std::string> running = kernel_->RunningThreads();
    if (!running.empty()) {
        std::fprintf(stderr, "qxsim: notebook reset while virtual threads still run:\n");
        for (const auto& name : running) std::fprintf(stderr, "  %s\n", name.c_str());
        std::fflush(nullptr);
        _exit(3);
    }
    TearDown();
    Build();
}

qxsim::Kernel& Notebook::Kernel() {
    return *kernel_;
}
ConsoleModel& Notebook::Console() {
    return *console_;
}
ControllerModel& Notebook::Controller() {
    return *controller_;
}
FirmwareModel& Notebook::Firmware() {
    return *firmware_;
}
BusRecorder& Notebook::Bus() {
    return *bus_;
}
qxsim::DeviceHandles& Notebook::DeviceHandles() {
    return *device_handles_;
}
EventLogModel& Notebook::EventLog() {
    return *eventlog_;
}
IntelLibModel& Notebook::IntelLib() {
    return *intel_lib_;
}
IpHelperModel& Notebook::IpHelper() {
    return *iphlp_;
}
LinkModel& Notebook::Link() {
    return *link_;
}
MemoryModel& Notebook::Memory() {
    return *memory_;
}
PowerModel& Notebook::Power() {
    return *power_;
}
QcaDeviceModel& Notebook::QcaDevice() {
    return *qca_device_;
}
WlanModel& Notebook::Wlan() {
    return *wlan_;
}
FaultPlan& Notebook::Faults() {
    return *faults_;
}
ScmModel& Notebook::Scm() {
    return *scm_;
}
ProcessModel& Notebook::Processes() {
    return *processes_;
}
RegistryModel& Notebook::Registry() {
    return *registry_;
}
FileModel& Notebook::Files() {
    return *files_;
}
DeviceInstallModel& Notebook::DeviceInstall() {
    return *device_install_;
}

}  // namespace qxsim
