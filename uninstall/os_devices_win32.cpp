#include "common/win/win32.h"
#include <cfgmgr32.h>

#include <utility>

#include "uninstall/os_devices.h"

namespace qx::os {

static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA of 64-bit Windows");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_W) == 584, "SP_DEVINSTALL_PARAMS_W of 64-bit Windows");

struct DeviceList {
    win::UniqueDevInfo devices;
    SP_DEVINFO_DATA device;  // the selected one
};

void DevicesClose(DeviceList* list) {
    delete list;
}

DeviceListOwner DevicesOpen(const char16_t* enumerator) {
    win::UniqueDevInfo devices(::SetupDiGetClassDevsW(nullptr, win::W(enumerator), nullptr,
                                                      DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!devices) return DeviceListOwner();
    auto* list = new DeviceList{std::move(devices), {}};
    list->device.cbSize = sizeof list->device;
    return DeviceListOwner(list);
}

bool DevicesSelect(DeviceList* list, uint32_t index) {
    return ::SetupDiEnumDeviceInfo(list->devices.get(), index, &list->device) != FALSE;
}

bool DevicesInstanceId(DeviceList* list, char16_t* out, size_t capacity) {
    return ::CM_Get_Device_IDW(list->device.DevInst, win::W(out), static_cast<ULONG>(capacity),
                               0) == CR_SUCCESS;
}

bool DevicesHardwareIds(DeviceList* list, char16_t* out, uint32_t bytes) {
    return ::SetupDiGetDeviceRegistryPropertyW(list->devices.get(), &list->device, SPDRP_HARDWAREID,
                                               nullptr, reinterpret_cast<BYTE*>(out), bytes,
                                               nullptr) != FALSE;
}

RegKey DevicesOpenDriverKey(DeviceList* list) {
    win::UniqueHkey key(::SetupDiOpenDevRegKey(list->devices.get(), &list->device, DICS_FLAG_GLOBAL,
                                               0, DIREG_DRV, KEY_READ));
    // SetupDiOpenDevRegKey answers INVALID_HANDLE_VALUE, which the portable
    // owner would take for a key: it gets only a real one.
    return RegKey(key ? key.release() : nullptr);
}

bool DevicesRemove(DeviceList* list, uint32_t* error) {
    if (::SetupDiCallClassInstaller(DIF_REMOVE, list->devices.get(), &list->device)) return true;
    *error = ::GetLastError();
    return false;
}

bool DevicesNeedRestart(DeviceList* list) {
    SP_DEVINSTALL_PARAMS_W params = {};
    params.cbSize = sizeof params;
    return ::SetupDiGetDeviceInstallParamsW(list->devices.get(), &list->device, &params) &&
           (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0;
}

bool DriverPackageUninstall(const char16_t* inf_name, uint32_t* error) {
    // The call takes a writable name, though it does not write to it.
    if (::SetupUninstallOEMInfW(const_cast<wchar_t*>(win::W(inf_name)), SUOI_FORCEDELETE,
                                nullptr)) {
        return true;
    }
    *error = ::GetLastError();
    return false;
}

}  // namespace qx::os
