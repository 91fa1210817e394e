// The Configuration Manager when the daemon runs over QXVeltrane on the host
// KMDF simulation: disabling the controller's node removes the driver's
// device (D0 exit, release hardware) and enabling it adds and starts it
// again, as the PnP manager does; the controller model's node follows.
#include "daemon/transport/os_cfgmgr.h"
#include "daemon/transport/os_cfgmgr_notebook.h"
#include "kmdf/kmdfsim.h"
#include "sim/controller_model.h"
#include "sim/notebook.h"

namespace qx::os {

uint32_t CmDisableDevNode(uint32_t devinst) {
    if (!IsControllerNode(devinst)) return kCrInvalidDevNode;
    if (!kmdfsim::DisableDevice()) return kCrRemoveVetoed;
    qxsim::Notebook::Current().Controller().DisableNode();
    return kCrSuccess;
}

uint32_t CmEnableDevNode(uint32_t devinst) {
    if (!IsControllerNode(devinst)) return kCrInvalidDevNode;
    qxsim::Notebook::Current().Controller().EnableNode();
    return NT_SUCCESS(kmdfsim::EnableDevice()) ? kCrSuccess : kCrFailure;
}

}  // namespace qx::os
