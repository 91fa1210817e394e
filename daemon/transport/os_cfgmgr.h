// OS seam: the Configuration Manager calls behind the controller's
// device-node reset. Results are CONFIGRET codes (0 = CR_SUCCESS).
#pragma once

#include <cstdint>

#include "common/os_codes.h"

namespace qx::os {

using oscode::kCrSuccess;
// The failures the notebook's halves answer with.
using oscode::kCrBufferSmall;
using oscode::kCrFailure;
using oscode::kCrInvalidData;
using oscode::kCrInvalidDevNode;
using oscode::kCrInvalidFlag;
using oscode::kCrInvalidPointer;
using oscode::kCrNoSuchDevNode;
using oscode::kCrRemoveVetoed;

// CM_Get_Device_ID_List filters.
constexpr uint32_t kCmGetIdListFilterEnumerator = 0x00000001;
constexpr uint32_t kCmGetIdListFilterPresent = 0x00000100;

// CM_Locate_DevNodeW(devinst, id, CM_LOCATE_DEVNODE_NORMAL).
uint32_t CmLocateDevNode(uint32_t* devinst, const char16_t* device_instance_id);
// CM_Get_Device_ID_ListW(filter, buffer, units, flags): the instance IDs,
// each zero-terminated, and one more zero after the last; CR_BUFFER_SMALL
// when they do not fit in `units`. With kCmGetIdListFilterEnumerator the
// filter names the enumerator and must not be null: what Windows answers to a
// null one is not documented (the notebook refuses it as an invalid pointer,
// our cfgmgr32 stand-in as an invalid flag), and the daemon always names one.
uint32_t CmGetDeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t units,
                           uint32_t flags);
// CM_Disable_DevNode(devinst, 0) and CM_Enable_DevNode(devinst, 0).
uint32_t CmDisableDevNode(uint32_t devinst);
uint32_t CmEnableDevNode(uint32_t devinst);

}  // namespace qx::os
