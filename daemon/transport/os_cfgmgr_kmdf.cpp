// The Configuration Manager when the daemon runs over QXVeltrane on the host
// KMDF simulation: disabling the controller's node removes the driver's
// device (D0 exit, release hardware) and enabling it adds and starts it
// again, as the PnP manager does; the node itself, and what CM_Locate_DevNode
// and CM_Get_Device_ID_List answer, are the device installation's.
#include "daemon/transport/os_cfgmgr.h"
#include "kmdf/kmdfsim.h"
#include "sim/device_install_model.h"
#include "sim/notebook.h"
#include "sim/vkernel.h"

namespace qx::os {

uint32_t CmLocateDevNode(uint32_t* devinst, const char16_t* device_instance_id) {
    return qxsim::Notebook::Current().DeviceInstall().LocateDevNode(devinst, device_instance_id);
}

uint32_t CmDisableDevNode(uint32_t devinst) {
    auto& node = qxsim::Notebook::Current().DeviceInstall();
    if (!node.IsControllerDevInst(devinst)) return kCrInvalidDevNode;
    if (!kmdfsim::DisableDevice()) return kCrRemoveVetoed;
    node.DisableController();
    return kCrSuccess;
}

uint32_t CmEnableDevNode(uint32_t devinst) {
    auto& node = qxsim::Notebook::Current().DeviceInstall();
    if (!node.IsControllerDevInst(devinst)) return kCrInvalidDevNode;
    node.EnableController();
    const uint32_t start_ms = node.ControllerStartTime();
    if (start_ms == 0) return NT_SUCCESS(kmdfsim::EnableDevice()) ? kCrSuccess : kCrFailure;
    // A slow start: Plug and Play adds and starts the device on its own time,
    // after the enable has returned (unless the node was disabled again).
    const int disables = node.ControllerDisables();
    auto& kernel = qxsim::Notebook::Current().Kernel();
    kernel.At(kernel.Now() + start_ms, [disables] {
        if (qxsim::Notebook::Current().DeviceInstall().ControllerDisables() == disables)
            kmdfsim::EnableDevice();
    });
    return kCrSuccess;
}

uint32_t CmGetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t units,
                           uint32_t flags) {
    return qxsim::Notebook::Current().DeviceInstall().DeviceIdList(filter, buffer, units, flags);
}

}  // namespace qx::os
