#include "kmdf/stack/stack.h"

#include <cstdint>

#include "kmdf/kmdfsim.h"
#include "sim/controller_model.h"

extern "C" DRIVER_INITIALIZE DriverEntry;

namespace kmdfsim {

namespace {

class ControllerPeripheral final : public Peripheral {
public:
    size_t Write(const uint8_t* bytes, size_t count) override {
        qxsim::ControllerModel::Instance().Write(bytes, static_cast<uint32_t>(count));
        return count;
    }
    size_t Read(uint8_t* buf, size_t count) override {
        qxsim::ControllerModel::Instance().Read(buf, static_cast<uint32_t>(count));
        return count;
    }
};

ControllerPeripheral g_controller;

}  // namespace

NTSTATUS StartDriverStack(BusDevice device) {
    Reset();
    Spb().SetMode(SpbMode::Inline);
    SetInlineDispatch(true);
    Spb().SetPeripheral(device == BusDevice::Controller ? &g_controller : nullptr);
    NTSTATUS status = LoadDriver(DriverEntry);
    if (NT_SUCCESS(status)) status = AddDevice();
    return status;
}

void StopDriverStack() { Reset(); }

}  // namespace kmdfsim
