// The Configuration Manager on the virtual notebook, for the controller's
// device node "ACPI\VLT0949\1": it is there while the device installation
// (what SetupAPI lists) has it present, so the uninstaller's removal takes it
// away from here too; disabled and enabled, it is the controller model's.
#include "daemon/transport/os_cfgmgr.h"
#include "daemon/transport/os_cfgmgr_notebook.h"
#include "sim/controller_model.h"
#include "sim/device_handles.h"
#include "sim/fault_plan.h"
#include "sim/notebook.h"

namespace qx::os {

uint32_t CmDisableDevNode(uint32_t devinst) {
    if (qxsim::InjectFault(qxsim::FaultKind::kNodeDisable)) return kCrFailure;
    if (!IsControllerNode(devinst)) return kCrInvalidDevNode;
    // An open handle vetoes the removal, as on Windows, whoever holds it (this
    // process included); the device, and the holder's bus, stay as they are.
    if (qxsim::Notebook::Current().DeviceHandles().OpenHandles() > 0) return kCrRemoveVetoed;
    qxsim::Notebook::Current().Controller().DisableNode();
    return kCrSuccess;
}

uint32_t CmEnableDevNode(uint32_t devinst) {
    if (qxsim::InjectFault(qxsim::FaultKind::kNodeEnable)) return kCrFailure;
    if (!IsControllerNode(devinst)) return kCrInvalidDevNode;
    qxsim::Notebook::Current().Controller().EnableNode();
    return kCrSuccess;
}

}  // namespace qx::os
