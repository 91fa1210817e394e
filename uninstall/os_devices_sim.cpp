#include <cstring>

#include "sim/device_install_model.h"
#include "sim/registry_model.h"
#include "uninstall/os_devices.h"
#include "sim/notebook.h"

namespace qx::os {

struct DeviceList {
    uintptr_t list = 0;
    uint32_t selected = 0;
};

namespace {

qxsim::DeviceInstallModel& Devices() {
    return qxsim::Notebook::Current().DeviceInstall();
}

}  // namespace

void DevicesClose(DeviceList* list) {
    Devices().CloseList(list->list);
    delete list;
}

DeviceListOwner DevicesOpen(const char16_t* enumerator) {
    return DeviceListOwner(new DeviceList{Devices().OpenList(enumerator), 0});
}

bool DevicesSelect(DeviceList* list, uint32_t index) {
    if (Devices().At(list->list, index) == nullptr) return false;
    list->selected = index;
    return true;
}

bool DevicesInstanceId(DeviceList* list, char16_t* out, size_t capacity) {
    const qxsim::DeviceNode* device = Devices().At(list->list, list->selected);
    if (device == nullptr || device->instance_id_fails) return false;
    // CR_BUFFER_SMALL when the ID and its terminator do not fit.
    if (device->instance_id.size() + 1 > capacity) return false;
    std::memcpy(out, device->instance_id.c_str(),
                (device->instance_id.size() + 1) * sizeof(char16_t));
    return true;
}

bool DevicesHardwareIds(DeviceList* list, char16_t* out, uint32_t bytes) {
    const qxsim::DeviceNode* device = Devices().At(list->list, list->selected);
    if (device == nullptr || device->hardware_ids.empty()) return false;
    std::u16string multi;
    for (const auto& id : device->hardware_ids) {
        multi += id;
        multi.push_back(0);
    }
    multi.push_back(0);
    // ERROR_INSUFFICIENT_BUFFER: nothing is copied.
    if (multi.size() * sizeof(char16_t) > bytes) return false;
    std::memcpy(out, multi.data(), multi.size() * sizeof(char16_t));
    return true;
}

RegKey DevicesOpenDriverKey(DeviceList* list) {
    const qxsim::DeviceNode* device = Devices().At(list->list, list->selected);
    if (device == nullptr || device->driver_key.empty()) return RegKey();
    auto& registry = qxsim::Notebook::Current().Registry();
    void* key = nullptr;
    if (registry.Open(registry.Root(), device->driver_key.c_str(), &key) != 0) return RegKey();
    return RegKey(key);
}

bool DevicesRemove(DeviceList* list, uint32_t* error) {
    const uint32_t rc = Devices().Remove(list->list, list->selected);
    if (rc == 0) return true;
    *error = rc;
    return false;
}

bool DevicesNeedRestart(DeviceList* list) {
    const qxsim::DeviceNode* device = Devices().At(list->list, list->selected);
    return device != nullptr && device->needs_restart;
}

bool DriverPackageUninstall(const char16_t* inf_name, uint32_t* error) {
    const uint32_t rc = Devices().UninstallDriverPackage(inf_name);
    if (rc == 0) return true;
    *error = rc;
    return false;
}

}  // namespace qx::os
