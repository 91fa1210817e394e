// The Configuration Manager seam's contract (daemon/transport/os_cfgmgr.h) as
// the node reset builds on it, run against each half through a rig that
// stages that half's device node: the notebook's device installation (_sim),
// the same with QXVeltrane on the KMDF simulation behind it (_kmdf) and,
// under Wine, our cfgmgr32.dll stand-in (_win32). Each rig is one file.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

// How the Configuration Manager turns down the next disable or enable.
enum class Refusal {
    kNone,
    kDisableVetoed,  // a handle is open: CR_REMOVE_VETOED
    kDisableFailed,  // CR_FAILURE
    kEnableFailed,   // CR_FAILURE
};

class CfgMgrRig {
  public:
    virtual ~CfgMgrRig() = default;
    // Whether this half can be made to refuse so.
    virtual bool Can(Refusal r) const = 0;
    // Runs body with the controller's node "ACPI\VLT0949\1" present and
    // enabled, nothing refused; returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // The controller's node from now on under this instance ID; null: no node.
    virtual void SetNode(const char16_t* instance_id) = 0;
    virtual void Refuse(Refusal r) = 0;
    virtual bool Disabled() = 0;
};

// The half linked into this test.
CfgMgrRig& Rig();

}  // namespace qxtest
