#include "kmdf/stack/stack.h"

#include <cstdint>
#include <cstdio>
#include <string>

#include "kmdf/inf/inf_properties.h"
#include "kmdf/kmdfsim.h"
#include "sim/notebook.h"
#include "sim/controller_model.h"

#include "kmdf/stub/fx_stub.h"

namespace kmdfsim {

namespace {

class ControllerPeripheral final : public Peripheral {
  public:
    size_t Write(const uint8_t* bytes, size_t count) override {
        qxsim::Notebook::Current().Controller().Write(bytes, static_cast<uint32_t>(count));
        return count;
    }
    size_t Read(uint8_t* buf, size_t count) override {
        qxsim::Notebook::Current().Controller().Read(buf, static_cast<uint32_t>(count));
        return count;
    }
};

ControllerPeripheral g_controller;

}  // namespace

NTSTATUS StartDriverStack(BusDevice device) {
    Reset();
    // The device is installed as its INF says (security, exclusive).
    DeviceProperties properties;
    std::string error;
    if (!DevicePropertiesFromInf(VeltraneInfPath(), &properties, &error)) {
        fprintf(stderr, "kmdfsim: %s\n", error.c_str());
        return STATUS_UNSUCCESSFUL;
    }
    SetDeviceProperties(properties);
    Spb().SetMode(SpbMode::Inline);
    SetInlineDispatch(true);
    Spb().SetPeripheral(device == BusDevice::Controller ? &g_controller : nullptr);
    NTSTATUS status = LoadDriver(FxDriverEntry);
    if (NT_SUCCESS(status)) status = AddDevice();
    // A D0 loss nobody announces reaches the framework as a system sleep
    // and wake of the device (qxsim's d0-loss); a stuck bus is the SPB
    // controller's.
    using Change = qxsim::ControllerModel::DeviceChange;
    qxsim::Notebook::Current().Controller().SetDeviceObserver([](Change change) {
        switch (change) {
            case Change::LeftD0:
                Suspend();
                break;
            case Change::BackInD0:
                Resume();
                break;
            case Change::BusStuck:
            case Change::BusFree:
                Spb().SetStuck(change == Change::BusStuck);
                break;
        }
    });
    return status;
}

void StopDriverStack() {
    qxsim::Notebook::Current().Controller().SetDeviceObserver(nullptr);
    Reset();
}

}  // namespace kmdfsim
