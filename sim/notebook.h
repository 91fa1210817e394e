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
class DeviceHandles;
class EventLogModel;
class IntelLibModel;
class IpHelperModel;
class LinkModel;
class MemoryModel;
class PowerModel;
class QcaDeviceModel;
class WlanModel;

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
    qxsim::DeviceHandles& DeviceHandles();
    EventLogModel& EventLog();
    IntelLibModel& IntelLib();
    IpHelperModel& IpHelper();
    LinkModel& Link();
    MemoryModel& Memory();
    PowerModel& Power();
    QcaDeviceModel& QcaDevice();
    WlanModel& Wlan();

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
    std::unique_ptr<qxsim::DeviceHandles> device_handles_;
    std::unique_ptr<EventLogModel> eventlog_;
    std::unique_ptr<IntelLibModel> intel_lib_;
    std::unique_ptr<IpHelperModel> iphlp_;
    std::unique_ptr<PowerModel> power_;
    std::unique_ptr<QcaDeviceModel> qca_device_;
    std::unique_ptr<WlanModel> wlan_;
};

}  // namespace qxsim
