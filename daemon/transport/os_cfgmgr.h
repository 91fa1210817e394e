// OS seam: the Configuration Manager calls behind the controller's
// device-node reset. Results are CONFIGRET codes (0 = CR_SUCCESS).
#pragma once

#include <cstdint>

namespace qx::os {

constexpr uint32_t kCrSuccess = 0;
// The failures the notebook's halves answer with.
constexpr uint32_t kCrInvalidPointer = 0x03;
constexpr uint32_t kCrInvalidFlag = 0x04;
constexpr uint32_t kCrInvalidDevNode = 0x05;
constexpr uint32_t kCrNoSuchDevNode = 0x0D;
constexpr uint32_t kCrFailure = 0x13;
constexpr uint32_t kCrRemoveVetoed = 0x17;
constexpr uint32_t kCrBufferSmall = 0x1A;
constexpr uint32_t kCrInvalidData = 0x1F;

// CM_Get_Device_ID_List filters.
constexpr uint32_t kCmGetIdListFilterEnumerator = 0x00000001;
constexpr uint32_t kCmGetIdListFilterPresent = 0x00000100;

// CM_Locate_DevNodeW(devinst, id, CM_LOCATE_DEVNODE_NORMAL).
uint32_t CmLocateDevNode(uint32_t* devinst, const char16_t* device_instance_id);
// CM_Get_Device_ID_ListW(filter, buffer, units, flags): the instance IDs,
// each zero-terminated, and one more zero after the last; CR_BUFFER_SMALL
// when they do not fit in `units`.
uint32_t CmGetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t units,
                           uint32_t flags);
// CM_Disable_DevNode(devinst, 0) and CM_Enable_DevNode(devinst, 0).
uint32_t CmDisableDevNode(uint32_t devinst);
uint32_t CmEnableDevNode(uint32_t devinst);

}  // namespace qx::os
