// OS seam: the Configuration Manager calls behind the controller's
// device-node reset. Results are CONFIGRET codes (0 = CR_SUCCESS).
#pragma once

#include <cstdint>

namespace qx::os {

constexpr uint32_t kCrSuccess = 0;
// The failures the notebook's halves answer with.
constexpr uint32_t kCrInvalidDevNode = 0x05;
constexpr uint32_t kCrNoSuchDevNode = 0x0D;
constexpr uint32_t kCrFailure = 0x13;
constexpr uint32_t kCrRemoveVetoed = 0x17;

// CM_Locate_DevNodeW(devinst, id, CM_LOCATE_DEVNODE_NORMAL).
uint32_t CmLocateDevNode(uint32_t* devinst, const char16_t* device_instance_id);
// CM_Disable_DevNode(devinst, 0) and CM_Enable_DevNode(devinst, 0).
uint32_t CmDisableDevNode(uint32_t devinst);
uint32_t CmEnableDevNode(uint32_t devinst);

}  // namespace qx::os
