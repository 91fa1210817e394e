// The virtual notebook: one object that owns the scheduler and every model of
// the simulated machine, so that a test (or qxsim) starts from one known
// state and Reset() brings all of it back to power-on at once.
//
// The simulated halves of the OS seam reach the models through Current(); no
// model is an object of its own beside the notebook.
#pragma once

#include <memory>

namespace qxsim {

class Kernel;
class ConsoleModel;
class ControllerModel;
class FirmwareModel;
class BusRecorder;
class DeviceHandles;
class EventLogModel;
class IntelLibModel;
class IpHelperModel;
class LinkModel;
class MemoryModel;
class PowerModel;
class QcaDeviceModel;
class WlanModel;
class FaultPlan;
class ScmModel;
class ProcessModel;
class RegistryModel;
class FileModel;
class DeviceInstallModel;

class Notebook {
  public:
    // The notebook of this process, built at power-on state on first use.
    static Notebook& Current();

    // Power-on state: a fresh clock at 0 and every model as built. References
    // taken before stay valid only until here. Refused loudly (the process
    // ends with a list) while a virtual thread of the old clock still runs:
    // it would be left waiting on a clock that no longer exists.
    void Reset();

    qxsim::Kernel& Kernel();
    ConsoleModel& Console();
    ControllerModel& Controller();
    FirmwareModel& Firmware();
    // What went over the controller's bus.
    BusRecorder& Bus();
    qxsim::DeviceHandles& DeviceHandles();
    EventLogModel& EventLog();
    IntelLibModel& IntelLib();
    IpHelperModel& IpHelper();
    LinkModel& Link();
    MemoryModel& Memory();
    PowerModel& Power();
    QcaDeviceModel& QcaDevice();
    WlanModel& Wlan();
    // Which calls of the seams fail.
    FaultPlan& Faults();
    // What the service host and the uninstaller meet: the service manager,
    // child processes, the registry, files and device installation.
    ScmModel& Scm();
    ProcessModel& Processes();
    RegistryModel& Registry();
    FileModel& Files();
    DeviceInstallModel& DeviceInstall();

    Notebook(const Notebook&) = delete;
    Notebook& operator=(const Notebook&) = delete;

  private:
    Notebook();
    ~Notebook();
    void Build();
    void TearDown();

    std::unique_ptr<qxsim::Kernel> kernel_;
    std::unique_ptr<MemoryModel> memory_;
    std::unique_ptr<LinkModel> link_;
    std::unique_ptr<ConsoleModel> console_;
    std::unique_ptr<ControllerModel> controller_;
    std::unique_ptr<FirmwareModel> firmware_;
    std::unique_ptr<BusRecorder> bus_;
    std::unique_ptr<qxsim::DeviceHandles> device_handles_;
    std::unique_ptr<EventLogModel> eventlog_;
    std::unique_ptr<IntelLibModel> intel_lib_;
    std::unique_ptr<IpHelperModel> iphlp_;
    std::unique_ptr<PowerModel> power_;
    std::unique_ptr<QcaDeviceModel> qca_device_;
    std::unique_ptr<WlanModel> wlan_;
    std::unique_ptr<FaultPlan> faults_;
    std::unique_ptr<ScmModel> scm_;
    std::unique_ptr<ProcessModel> processes_;
    std::unique_ptr<RegistryModel> registry_;
    std::unique_ptr<FileModel> files_;
    std::unique_ptr<DeviceInstallModel> device_install_;
};

}  // namespace qxsim
