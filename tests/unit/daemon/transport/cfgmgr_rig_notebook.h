// What both notebook rigs of the Configuration Manager's contract (_sim and
// _kmdf) share: the device installation holds the node for either half.
#pragma once

#include "sim/device_install_model.h"
#include "sim/notebook.h"

namespace qxtest {

// The controller's node under this instance ID, or none for null.
inline void StageNotebookNode(const char16_t* instance_id) {
    auto& devices = qxsim::Notebook::Current().DeviceInstall();
    if (instance_id == nullptr)
        devices.SetControllerPresent(false);
    else
        devices.SetControllerInstanceId(instance_id);
}

}  // namespace qxtest
