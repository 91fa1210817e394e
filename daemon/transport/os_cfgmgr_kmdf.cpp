// The Configuration Manager when the daemon runs over QXVeltrane on the host
// KMDF simulation: disabling the controller's node removes the driver's
// device (D0 exit, release hardware) and enabling it adds and starts it
// again, as the PnP manager does; the controller model's node follows.
#include "daemon/transport/os_cfgmgr.h"
#include "daemon/transport/os_cfgmgr_notebook.h"
#include "kmdf/kmdfsim.h"
#include "sim/controller_model.h"
#include "sim/notebook.h"
#include "sim/vkernel.h"

namespace qx::os {

uint32_t CmDisableDevNode(uint32_t devinst) {
    if (!IsControllerNode(devinst)) return kCrInvalidDevNode;
    if (!kmdfsim::DisableDevice()) return kCrRemoveVetoed;
    qxsim::Notebook::Current().Controller().DisableNode();
    return kCrSuccess;
}

uint32_t CmEnableDevNode(uint32_t devinst) {
    if (!IsControllerNode(devinst)) return kCrInvalidDevNode;
    auto& model = qxsim::Notebook::Current().Controller();
    model.EnableNode();
    const uint32_t start_ms = model.NodeStartTime();
    if (start_ms == 0) return NT_SUCCESS(kmdfsim::EnableDevice()) ? kCrSuccess : kCrFailure;
    // A slow start: Plug and Play adds and starts the device on its own time,
    // after the enable has returned (unless the node was disabled again).
    const int disables = model.DisableCount();
    auto& kernel = qxsim::Notebook::Current().Kernel();
    kernel.At(kernel.Now() + start_ms, [disables] {
        if (qxsim::Notebook::Current().Controller().DisableCount() == disables)
            kmdfsim::EnableDevice();
    });
    return kCrSuccess;
}

}  // namespace qx::os
