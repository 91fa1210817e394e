// The registry seam's contract (uninstall/os_registry.h) as the uninstaller
// builds on it, run against each half through a rig that lays out keys and
// values for it: the notebook's registry model (_sim) and, under Wine, the
// real registry (_win32). Each rig is one file beside this one.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

class RegistryRig {
  public:
    virtual ~RegistryRig() = default;
    // Runs body with an empty key at Base() under HKEY_LOCAL_MACHINE, and
    // takes everything under it away again; returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // Creates every key of a path below Base().
    virtual void CreateKey(const std::u16string& path) = 0;
    // A terminated REG_SZ value of the key at a path below Base().
    virtual void SetString(const std::u16string& path, const std::u16string& name,
                           const std::u16string& text) = 0;
};

// The test's key under HKEY_LOCAL_MACHINE.
constexpr const char16_t* kRegistryBase = u"Software\\QuellixContract";

// The half linked into this test.
RegistryRig& Rig();

}  // namespace qxtest
