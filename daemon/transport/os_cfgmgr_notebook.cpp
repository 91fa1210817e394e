// What the notebook's Configuration Manager answers the same way whichever
// half drives the controller's device (the controller model, or QXVeltrane
// on the KMDF simulation): the node is the notebook's one device node, and
// its handle is the one CM_Locate_DevNode gave while the node is there.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

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
           qxsim::Notebook::Current().DeviceInstall().ControllerPresent();
}

uint32_t CmGetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t units,
                           uint32_t flags) {
    // The model answers the enumerator filter, present devices or all; the
    // Configuration Manager's other filters are not part of the notebook.
    if ((flags & ~(kCmGetIdListFilterEnumerator | kCmGetIdListFilterPresent)) != 0 ||
        (flags & kCmGetIdListFilterEnumerator) == 0) {
        std::fprintf(stderr, "virtual notebook: CM_Get_Device_ID_List flags 0x%x not modelled\n",
                     static_cast<unsigned>(flags));
        return kCrInvalidFlag;
    }
    if (filter == nullptr || buffer == nullptr) return kCrInvalidPointer;
    if (units == 0) return kCrInvalidData;
    const std::vector<std::u16string> ids = qxsim::Notebook::Current().DeviceInstall().InstanceIds(
        filter, (flags & kCmGetIdListFilterPresent) != 0);
    // Each ID with its terminating zero, and one zero after the last.
    size_t needed = 1;
    for (const auto& id : ids) needed += id.size() + 1;
    if (needed > units) return kCrBufferSmall;
    char16_t* at = buffer;
    for (const auto& id : ids) {
        std::copy(id.begin(), id.end(), at);
        at += id.size();
        *at++ = 0;
    }
    *at = 0;
    return kCrSuccess;
}

}  // namespace qx::os
