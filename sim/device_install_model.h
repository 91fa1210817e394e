// The virtual notebook's device installation, as SetupAPI shows it: device
// nodes with instance and hardware IDs and a driver key (a key of the
// registry model), device information lists over them, and the driver store's
// OEM packages.
//
// The device nodes here are the notebook's only ones, and this model holds the
// whole state of each: whether it is there, and for the controller's node
// whether Plug and Play has it enabled and started. The Configuration
// Manager's view (the notebook's halves of daemon/transport/os_cfgmgr.h) is
// answered here too, so a node removed through SetupAPI is gone for
// CM_Locate_DevNode as well, and a node the Configuration Manager lacks is not
// enumerated here either.
//
// Strict like Windows: a list used or destroyed after it was destroyed is a
// violation (printed on standard error and kept); lists hold a snapshot, so
// removing a device does not move the others' indexes within a list.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "sim/violation_log.h"

namespace qxsim {

struct DeviceNode {
    std::u16string instance_id;                // "ACPI\VLT0949\1"
    std::vector<std::u16string> hardware_ids;  // REG_MULTI_SZ
    std::u16string driver_key;                 // path under the registry root; empty: no driver key
    bool present = true;
    bool instance_id_fails = false;  // CM_Get_Device_IDW fails
    uint32_t remove_error = 0;       // non-zero: DIF_REMOVE fails with it
    bool needs_restart = false;      // the removal asks for a restart
};

// The antenna controller's node, as the notebook has it at power-on.
constexpr char16_t kControllerInstanceId[] = u"ACPI\\VLT0949\\1";
// The device instance handle the Configuration Manager gives that node.
constexpr uint32_t kControllerDevInst = 0x4D1;

class DeviceInstallModel {
  public:
    friend class Notebook;  // builds the one instance

    // Power-on: the controller's node alone (ControllerNode()), no packages,
    // no lists, no violations.
    void Reset();

    // "ACPI\VLT0949\1" with hardware IDs "ACPI\VLT0949" and "*VLT0949",
    // present, without a driver key.
    static DeviceNode ControllerNode();

    // Instance IDs are unique, case aside: a device with the ID of one the
    // model has takes that one's place (and its place in open lists).
    void AddDevice(const DeviceNode& device);
    // Whether a device with this instance ID is there and present.
    bool Present(const std::u16string& instance_id);
    // Firmware with another _UID names the controller's node differently
    // ("ACPI\VLT0949\<uid>"): renames the node, keeping its state.
    void SetControllerInstanceId(const std::u16string& instance_id);
    std::u16string ControllerInstanceId();
    // Whether the controller's node, whatever its name, is there and present.
    bool ControllerPresent();
    // The node "ACPI\VLT0949\1" exists (for the Configuration Manager and
    // SetupAPI alike); default true. Making it present again after it was
    // forgotten brings back the power-on node.
    void SetControllerPresent(bool present);

    // ---- The controller's node as Plug and Play runs it ----
    // Disabling it removes the driver's device: the controller model cuts off
    // every handle opened before. Each call counts, whatever the state.
    void DisableController();
    void EnableController();
    bool ControllerEnabled();
    int ControllerDisables();
    int ControllerEnables();
    // Plug and Play starts the driver's device this long after each enable
    // of the node (default 0: at once); until then "\\.\QXSPB" does not exist.
    void SetControllerStartTime(uint32_t ms);
    uint32_t ControllerStartTime();
    // Present, enabled and started: the driver's device is there to open.
    bool ControllerStarted();
    // Plug and Play's side back to power-on (enabled, started, nothing
    // counted); whether the node is there stays as it is.
    void RestartController();

    // ---- The Configuration Manager, as the notebook answers it ----
    // Results are CONFIGRET codes. CM_Locate_DevNode: it knows the
    // controller's node alone, named in any case, while present; devinst
    // receives kControllerDevInst, or 0 when it is not found.
    uint32_t LocateDevNode(uint32_t* devinst, const char16_t* instance_id);
    // Whether devinst is the controller's node handle and the node is present;
    // any other handle is CR_INVALID_DEVNODE to the Configuration Manager.
    bool IsControllerDevInst(uint32_t devinst);
    // CM_Get_Device_ID_List with CM_GETIDLIST_FILTER_ENUMERATOR (optionally
    // with CM_GETIDLIST_FILTER_PRESENT): the instance IDs under `filter` (an
    // enumerator, optionally with a device ID), in the model's order.
    uint32_t DeviceIdList(const char16_t* filter, char16_t* buffer, uint32_t units, uint32_t flags);
    // Marks the device with this instance ID present or not; false when the
    // model has no such device.
    bool SetPresent(const std::u16string& instance_id, bool present);
    void AddDriverPackage(const std::u16string& inf_name);
    bool HasDriverPackage(const std::u16string& inf_name);
    std::vector<DeviceNode> Devices();

    // SetupDiGetClassDevsW(NULL, enumerator, ..., DIGCF_PRESENT | DIGCF_ALLCLASSES):
    // the present devices whose instance ID lies under `enumerator`. 0 never
    // happens here (Windows answers INVALID_HANDLE_VALUE on failure).
    uintptr_t OpenList(const std::u16string& enumerator);
    void CloseList(uintptr_t list);
    // The device at `index` of the list, or null past its end (or on a closed list).
    DeviceNode* At(uintptr_t list, uint32_t index);
    // DIF_REMOVE on the device at `index`: 0 or the code.
    uint32_t Remove(uintptr_t list, uint32_t index);
    // SetupUninstallOEMInfW with SUOI_FORCEDELETE: 0 or the code.
    uint32_t UninstallDriverPackage(const std::u16string& inf_name);

    int OpenLists();
    std::vector<std::string> Violations();

  private:
    DeviceInstallModel() { ResetLocked(); }
    void ResetLocked();
    DeviceNode* FindLocked(const std::u16string& instance_id);
    DeviceNode* AtLocked(uintptr_t list, uint32_t index);
    void RestartControllerLocked();
    std::vector<std::u16string> InstanceIds(const std::u16string& enumerator, bool present_only);

    std::mutex m_;
    std::vector<DeviceNode> devices_;
    std::u16string controller_id_;
    bool controller_enabled_;
    uint32_t controller_start_ms_;
    int64_t controller_ready_at_;  // virtual time (VTime): the driver's device exists from here on
    int controller_disables_, controller_enables_;
    std::set<std::u16string> packages_;
    std::map<uintptr_t, std::vector<size_t>> lists_;  // device indexes of each list
    uintptr_t next_list_ = 0xD000;
    ViolationLog violations_{"device installation"};
};

}  // namespace qxsim
