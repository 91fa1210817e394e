// OS seam of the uninstaller: the controller's device nodes and driver
// package (SetupAPI and the Configuration Manager).
//
// On Windows SetupDiGetClassDevsW, SetupDiEnumDeviceInfo, CM_Get_Device_IDW,
// SetupDiGetDeviceRegistryPropertyW, SetupDiOpenDevRegKey,
// SetupDiCallClassInstaller(DIF_REMOVE), SetupDiGetDeviceInstallParamsW and
// SetupUninstallOEMInfW; on the virtual notebook the device installation
// model (sim/device_install_model.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/win/unique_handle.h"
#include "uninstall/os_registry.h"

namespace qx::os {

struct DeviceList;
// SetupDiDestroyDeviceInfoList.
void DevicesClose(DeviceList* list);
using DeviceListOwner = win::UniqueAny<DeviceList*, &DevicesClose>;

// The present devices of an enumerator (all classes); empty on failure.
DeviceListOwner DevicesOpen(const char16_t* enumerator);
// The index-th device of the list; false past the end.
bool DevicesSelect(DeviceList* list, uint32_t index);
// The selected device's instance ID; false when it cannot be read.
bool DevicesInstanceId(DeviceList* list, char16_t* out, size_t capacity);
// Its hardware IDs (a list of strings) into `bytes` bytes of `out`; false
// when they cannot be read. The buffer is not terminated beyond what the
// property holds.
bool DevicesHardwareIds(DeviceList* list, char16_t* out, uint32_t bytes);
// Its driver key (DIREG_DRV, global, KEY_READ); empty when it has none.
RegKey DevicesOpenDriverKey(DeviceList* list);
// DIF_REMOVE through the class installer; false and *error on failure.
bool DevicesRemove(DeviceList* list, uint32_t* error);
// The install parameters ask for a restart (DI_NEEDRESTART or DI_NEEDREBOOT).
bool DevicesNeedRestart(DeviceList* list);

// SetupUninstallOEMInfW(inf, SUOI_FORCEDELETE): false and *error on failure.
bool DriverPackageUninstall(const char16_t* inf_name, uint32_t* error);

}  // namespace qx::os
