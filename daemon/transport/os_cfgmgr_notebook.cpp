// What the notebook's Configuration Manager answers the same way whichever
// half drives the controller's device (the controller model, or QXVeltrane
// on the KMDF simulation): the node is the notebook's one device node, and
// its handle is the one CM_Locate_DevNode gave while the node is there.
#include "daemon/transport/os_cfgmgr.h"
#include "daemon/transport/os_cfgmgr_notebook.h"
#include "sim/device_install_model.h"
#include "sim/notebook.h"

namespace qx::os {

uint32_t CmLocateDevNode(uint32_t* devinst, const char16_t* device_instance_id) {
    return qxsim::Notebook::Current().DeviceInstall().LocateControllerNode(device_instance_id,
                                                                           devinst)
               ? kCrSuccess
               : kCrNoSuchDevNode;
}

bool IsControllerNode(uint32_t devinst) {
    return devinst == qxsim::kControllerDevInst &&
           qxsim::Notebook::Current().DeviceInstall().Present(qxsim::kControllerInstanceId);
}

}  // namespace qx::os
