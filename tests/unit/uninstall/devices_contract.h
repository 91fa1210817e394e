// The device seam's contract (uninstall/os_devices.h) as the uninstaller
// builds on it, run against each half through a rig that makes device nodes
// and driver packages for it: the notebook's device installation model
// (_sim) and, under Wine, SetupAPI's own nodes in the prefix (_win32). Each
// rig is one file beside this one.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

class DevicesRig {
  public:
    virtual ~DevicesRig() = default;
    // Runs body with no device under kDevicesEnumerator and no driver
    // package of the rows, and takes away what body left; returns what body
    // returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // A present device node (System class) with hardware IDs "ACPI\VLT0949"
    // and "*VLT0949", and a driver key whose InfPath is `inf` (none when
    // `inf` is empty).
    virtual void AddDevice(const std::u16string& instance_id, const std::u16string& inf) = 0;
    // An OEM driver package of that name in the driver store.
    virtual void AddDriverPackage(const std::u16string& inf) = 0;
    virtual bool HasDriverPackage(const std::u16string& inf) = 0;
};

// The enumerator the uninstaller lists: the controller's ACPI device ID.
constexpr const char16_t* kDevicesEnumerator = u"ACPI\\VLT0949";

// The half linked into this test.
DevicesRig& Rig();

}  // namespace qxtest
