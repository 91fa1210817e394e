#include "sim/device_install_model.h"

#include <cstdio>

#include "common/os_codes.h"

namespace qxsim {

namespace {

std::u16string Fold(const std::u16string& text) {
    std::u16string folded = text;
    for (auto& c : folded) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    }
    return folded;
}

}  // namespace

void DeviceInstallModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    ResetLocked();
}

void DeviceInstallModel::ResetLocked() {
    devices_.assign(1, ControllerNode());
    controller_id_ = kControllerInstanceId;
    packages_.clear();
    lists_.clear();
    violations_.clear();
}

// The node the firmware describes at power-on; SetControllerInstanceId renames it.
DeviceNode DeviceInstallModel::ControllerNode() {
    DeviceNode node;
    node.instance_id = kControllerInstanceId;
    node.hardware_ids = {u"ACPI\\VLT0949", u"*VLT0949"};
    return node;
}

DeviceNode* DeviceInstallModel::FindLocked(const std::u16string& instance_id) {
    const std::u16string wanted = Fold(instance_id);
    for (auto& device : devices_) {
        if (Fold(device.instance_id) == wanted) return &device;
    }
    return nullptr;
}

bool DeviceInstallModel::Present(const std::u16string& instance_id) {
    std::lock_guard<std::mutex> lk(m_);
    const DeviceNode* device = FindLocked(instance_id);
    return device != nullptr && device->present;
}

void DeviceInstallModel::SetControllerInstanceId(const std::u16string& instance_id) {
    std::lock_guard<std::mutex> lk(m_);
    if (DeviceNode* node = FindLocked(controller_id_)) {
        node->instance_id = instance_id;
    } else {
        DeviceNode fresh = ControllerNode();
        fresh.instance_id = instance_id;
        devices_.push_back(fresh);
    }
    controller_id_ = instance_id;
}

std::u16string DeviceInstallModel::ControllerInstanceId() {
    std::lock_guard<std::mutex> lk(m_);
    return controller_id_;
}

bool DeviceInstallModel::ControllerPresent() {
    return Present(ControllerInstanceId());
}

bool DeviceInstallModel::SetControllerPresent(bool present) {
    return SetPresent(ControllerInstanceId(), present);
}

bool DeviceInstallModel::LocateControllerNode(const char16_t* instance_id, uint32_t* devinst) {
    *devinst = 0;
    if (instance_id == nullptr || Fold(instance_id) != Fold(ControllerInstanceId())) return false;
    if (!Present(instance_id)) return false;
    *devinst = kControllerDevInst;
    return true;
}

std::vector<std::u16string> DeviceInstallModel::InstanceIds(const std::u16string& enumerator,
                                                            bool present_only) {
    std::lock_guard<std::mutex> lk(m_);
    const std::u16string prefix = Fold(enumerator) + u"\\";
    std::vector<std::u16string> ids;
    for (const auto& device : devices_) {
        if ((device.present || !present_only) && Fold(device.instance_id).rfind(prefix, 0) == 0)
            ids.push_back(device.instance_id);
    }
    return ids;
}

bool DeviceInstallModel::SetPresent(const std::u16string& instance_id, bool present) {
    std::lock_guard<std::mutex> lk(m_);
    DeviceNode* device = FindLocked(instance_id);
    if (device == nullptr) return false;
    device->present = present;
    return true;
}

void DeviceInstallModel::Violation(std::string what) {
    std::fprintf(stderr, "qxsim: device installation: %s\n", what.c_str());
    violations_.push_back(std::move(what));
}

void DeviceInstallModel::AddDevice(const DeviceNode& device) {
    std::lock_guard<std::mutex> lk(m_);
    // Replaced in place, so that the indexes open lists hold stay right.
    if (DeviceNode* same = FindLocked(device.instance_id)) {
        *same = device;
        return;
    }
    devices_.push_back(device);
}

void DeviceInstallModel::AddDriverPackage(const std::u16string& inf_name) {
    std::lock_guard<std::mutex> lk(m_);
    packages_.insert(Fold(inf_name));
}

bool DeviceInstallModel::HasDriverPackage(const std::u16string& inf_name) {
    std::lock_guard<std::mutex> lk(m_);
    return packages_.count(Fold(inf_name)) != 0;
}

std::vector<DeviceNode> DeviceInstallModel::Devices() {
    std::lock_guard<std::mutex> lk(m_);
    return devices_;
}

uintptr_t DeviceInstallModel::OpenList(const std::u16string& enumerator) {
    std::lock_guard<std::mutex> lk(m_);
    const std::u16string prefix = Fold(enumerator) + u"\\";
    std::vector<size_t> members;
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].present && Fold(devices_[i].instance_id).rfind(prefix, 0) == 0) {
            members.push_back(i);
        }
    }
    const uintptr_t list = next_list_++;
    lists_[list] = members;
    return list;
}

void DeviceInstallModel::CloseList(uintptr_t list) {
    std::lock_guard<std::mutex> lk(m_);
    if (lists_.erase(list) == 0)
        Violation("SetupDiDestroyDeviceInfoList on a list that is not open");
}

DeviceNode* DeviceInstallModel::AtLocked(uintptr_t list, uint32_t index) {
    auto it = lists_.find(list);
    if (it == lists_.end()) {
        Violation("a device list used after it was destroyed");
        return nullptr;
    }
    if (index >= it->second.size()) return nullptr;
    return &devices_[it->second[index]];
}

DeviceNode* DeviceInstallModel::At(uintptr_t list, uint32_t index) {
    std::lock_guard<std::mutex> lk(m_);
    return AtLocked(list, index);
}

uint32_t DeviceInstallModel::Remove(uintptr_t list, uint32_t index) {
    std::lock_guard<std::mutex> lk(m_);
    DeviceNode* device = AtLocked(list, index);
    if (device == nullptr) return qx::oscode::kErrorNoMoreItems;
    if (device->remove_error != 0) return device->remove_error;
    device->present = false;
    return 0;
}

uint32_t DeviceInstallModel::UninstallDriverPackage(const std::u16string& inf_name) {
    std::lock_guard<std::mutex> lk(m_);
    if (inf_name.empty()) return qx::oscode::kErrorInvalidParameter;
    if (packages_.erase(Fold(inf_name)) == 0) return qx::oscode::kErrorFileNotFound;
    return 0;
}

int DeviceInstallModel::OpenLists() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(lists_.size());
}

std::vector<std::string> DeviceInstallModel::Violations() {
    std::lock_guard<std::mutex> lk(m_);
    return violations_;
}

}  // namespace qxsim
