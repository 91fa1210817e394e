// The Configuration Manager on the virtual notebook, for the controller's
// device node "ACPI\VLT0949\1": the device installation (what SetupAPI lists)
// holds the node's whole state, so the uninstaller's removal takes it away
// from here too, and its disable cuts off the controller model's handles.
#include "daemon/transport/os_cfgmgr.h"
#include "sim/device_handles.h"
#include "sim/device_install_model.h"
#include "sim/fault_plan.h"
#include "sim/notebook.h"

namespace qx::os {

uint32_t CmLocateDevNode(uint32_t* devinst, const char16_t* device_instance_id) {
    return qxsim::Notebook::Current().DeviceInstall().LocateDevNode(devinst, device_instance_id);
}

uint32_t CmDisableDevNode(uint32_t devinst) {
    if (qxsim::InjectFault(qxsim::FaultKind::kNodeDisable)) return kCrFailure;
    if (!qxsim::Notebook::Current().DeviceInstall().IsControllerDevInst(devinst))
        return kCrInvalidDevNode;
    // An open handle vetoes the removal, as on Windows, whoever holds it (this
    // process included); the device, and the holder's bus, stay as they are.
    if (qxsim::Notebook::Current().DeviceHandles().OpenHandles() > 0) return kCrRemoveVetoed;
    qxsim::Notebook::Current().DeviceInstall().DisableController();
    return kCrSuccess;
}

uint32_t CmEnableDevNode(uint32_t devinst) {
    if (qxsim::InjectFault(qxsim::FaultKind::kNodeEnable)) return kCrFailure;
    if (!qxsim::Notebook::Current().DeviceInstall().IsControllerDevInst(devinst))
        return kCrInvalidDevNode;
    qxsim::Notebook::Current().DeviceInstall().EnableController();
    return kCrSuccess;
}

uint32_t CmGetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t units,
                           uint32_t flags) {
    return qxsim::Notebook::Current().DeviceInstall().DeviceIdList(filter, buffer, units, flags);
}

}  // namespace qx::os
