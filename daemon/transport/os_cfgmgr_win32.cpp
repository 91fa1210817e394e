#include "common/win/win32.h"
#include <cfgmgr32.h>

#include "daemon/transport/os_cfgmgr.h"

namespace qx::os {

uint32_t CmLocateDevNode(uint32_t* devinst, const char16_t* device_instance_id) {
    DEVINST node = 0;
    CONFIGRET cr = CM_Locate_DevNodeW(&node, const_cast<DEVINSTID_W>(win::W(device_instance_id)),
                                      CM_LOCATE_DEVNODE_NORMAL);
    // The seam's callers get 0 for a node not found, whatever the call left.
    *devinst = cr == CR_SUCCESS ? node : 0;
    return cr;
}

uint32_t CmGetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t units,
                           uint32_t flags) {
    return CM_Get_Device_ID_ListW(win::W(filter), reinterpret_cast<PWCHAR>(buffer), units, flags);
}

uint32_t CmDisableDevNode(uint32_t devinst) {
    return CM_Disable_DevNode(devinst, 0);
}

uint32_t CmEnableDevNode(uint32_t devinst) {
    return CM_Enable_DevNode(devinst, 0);
}

}  // namespace qx::os
