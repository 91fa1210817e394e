#include "sim/device_install_model.h"

#include <algorithm>
#include <cstdio>

#include "common/os_codes.h"
#include "daemon/transport/os_cfgmgr.h"
#include "sim/controller_model.h"
#include "sim/notebook.h"
#include "sim/case_fold.h"
#include "sim/vkernel.h"

namespace qxsim {

void DeviceInstallModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    ResetLocked();
}

void DeviceInstallModel::ResetLocked() {
    devices_.assign(1, ControllerNode());
    controller_id_ = kControllerInstanceId;
    RestartControllerLocked();
    packages_.clear();
    lists_.clear();
    violations_.Clear();
}

// The node the firmware describes at power-on; SetControllerInstanceId renames it.
DeviceNode DeviceInstallModel::ControllerNode() {
    DeviceNode node;
    node.instance_id = kControllerInstanceId;
    node.hardware_ids = {u"ACPI\\VLT0949", u"*VLT0949"};
    return node;
}

DeviceNode* DeviceInstallModel::FindLocked(const std::u16string& instance_id) {
    const std::u16string wanted = FoldCase(instance_id);
    for (auto& device : devices_) {
        if (FoldCase(device.instance_id) == wanted) return &device;
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

void DeviceInstallModel::SetControllerPresent(bool present) {
    if (!SetPresent(ControllerInstanceId(), present) && present) {
        DeviceNode node = ControllerNode();
        node.instance_id = ControllerInstanceId();
        AddDevice(node);
    }
}

void DeviceInstallModel::RestartController() {
    std::lock_guard<std::mutex> lk(m_);
    RestartControllerLocked();
}

void DeviceInstallModel::RestartControllerLocked() {
    controller_enabled_ = true;
    controller_start_ms_ = 0;
    controller_ready_at_ = 0;
    controller_disables_ = controller_enables_ = 0;
}

// The controller model hears of it after this model's lock is released, so
// that the two locks never nest.
void DeviceInstallModel::DisableController() {
    bool was_enabled;
    {
        std::lock_guard<std::mutex> lk(m_);
        ++controller_disables_;
        was_enabled = controller_enabled_;
        controller_enabled_ = false;
    }
    Notebook::Current().Controller().NodeDisabled(was_enabled);
}

void DeviceInstallModel::EnableController() {
    const VTime now = Notebook::Current().Kernel().Now();
    std::lock_guard<std::mutex> lk(m_);
    ++controller_enables_;
    // Plug and Play starts the device on its own time; an enable of a node
    // that is enabled already starts nothing.
    if (!controller_enabled_) controller_ready_at_ = now + controller_start_ms_;
    controller_enabled_ = true;
}

bool DeviceInstallModel::ControllerEnabled() {
    std::lock_guard<std::mutex> lk(m_);
    return controller_enabled_;
}

int DeviceInstallModel::ControllerDisables() {
    std::lock_guard<std::mutex> lk(m_);
    return controller_disables_;
}

int DeviceInstallModel::ControllerEnables() {
    std::lock_guard<std::mutex> lk(m_);
    return controller_enables_;
}

void DeviceInstallModel::SetControllerStartTime(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    controller_start_ms_ = ms;
}

uint32_t DeviceInstallModel::ControllerStartTime() {
    std::lock_guard<std::mutex> lk(m_);
    return controller_start_ms_;
}

bool DeviceInstallModel::ControllerStarted() {
    const VTime now = Notebook::Current().Kernel().Now();
    if (!ControllerPresent()) return false;
    std::lock_guard<std::mutex> lk(m_);
    // Still starting after its enable: no device object to open yet.
    return controller_enabled_ && now >= controller_ready_at_;
}

uint32_t DeviceInstallModel::LocateDevNode(uint32_t* devinst, const char16_t* instance_id) {
    *devinst = 0;
    if (instance_id == nullptr || FoldCase(instance_id) != FoldCase(ControllerInstanceId()))
        return qx::os::kCrNoSuchDevNode;
    if (!Present(instance_id)) return qx::os::kCrNoSuchDevNode;
    *devinst = kControllerDevInst;
    return qx::os::kCrSuccess;
}

bool DeviceInstallModel::IsControllerDevInst(uint32_t devinst) {
    return devinst == kControllerDevInst && ControllerPresent();
}

uint32_t DeviceInstallModel::DeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t units,
                                          uint32_t flags) {
    using namespace qx::os;
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
    const std::vector<std::u16string> ids =
        InstanceIds(filter, (flags & kCmGetIdListFilterPresent) != 0);
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

std::vector<std::u16string> DeviceInstallModel::InstanceIds(const std::u16string& enumerator,
                                                            bool present_only) {
    std::lock_guard<std::mutex> lk(m_);
    const std::u16string prefix = FoldCase(enumerator) + u"\\";
    std::vector<std::u16string> ids;
    for (const auto& device : devices_) {
        if ((device.present || !present_only) && FoldCase(device.instance_id).rfind(prefix, 0) == 0)
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
    packages_.insert(FoldCase(inf_name));
}

bool DeviceInstallModel::HasDriverPackage(const std::u16string& inf_name) {
    std::lock_guard<std::mutex> lk(m_);
    return packages_.count(FoldCase(inf_name)) != 0;
}

std::vector<DeviceNode> DeviceInstallModel::Devices() {
    std::lock_guard<std::mutex> lk(m_);
    return devices_;
}

uintptr_t DeviceInstallModel::OpenList(const std::u16string& enumerator) {
    std::lock_guard<std::mutex> lk(m_);
    const std::u16string prefix = FoldCase(enumerator) + u"\\";
    std::vector<size_t> members;
    for (size_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i].present && FoldCase(devices_[i].instance_id).rfind(prefix, 0) == 0) {
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
        violations_.Add("SetupDiDestroyDeviceInfoList on a list that is not open");
}

DeviceNode* DeviceInstallModel::AtLocked(uintptr_t list, uint32_t index) {
    auto it = lists_.find(list);
    if (it == lists_.end()) {
        violations_.Add("a device list used after it was destroyed");
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
    if (packages_.erase(FoldCase(inf_name)) == 0) return qx::oscode::kErrorFileNotFound;
    return 0;
}

int DeviceInstallModel::OpenLists() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(lists_.size());
}

std::vector<std::string> DeviceInstallModel::Violations() {
    std::lock_guard<std::mutex> lk(m_);
    return violations_.List();
}

}  // namespace qxsim
