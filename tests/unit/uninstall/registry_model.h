// An in-memory registry behind the uninstaller's Registry interface: keys with
// sorted sub-keys (as RegEnumKeyExW returns them), raw values, open handles
// counted so a test can see that every handle was closed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "uninstall/uninstall_logic.h"

namespace qx::test {

struct ModelKey {
    std::map<std::u16string, std::unique_ptr<ModelKey>> children;
    struct Value {
        uint32_t type;
        std::vector<uint8_t> bytes;
    };
    std::map<std::u16string, Value> values;
    bool undeletable = false;  // RegDeleteKeyW answers access denied
    bool unopenable = false;   // RegOpenKeyExW answers access denied
    ModelKey* parent = nullptr;
};

class RegistryModel final : public uninstall::Registry {
  public:
    RegistryModel();

    uninstall::RegKey Root() { return &root_; }
    // Creates every key of a backslash-separated path; returns the last one.
    ModelKey* Create(const std::u16string& path);
    ModelKey* Find(const std::u16string& path);
    // Stores text as REG_SZ; `terminated` false drops the terminator.
    void SetString(const std::u16string& path, const std::u16string& name,
                   const std::u16string& text, bool terminated = true, uint32_t type = 1);
    size_t OpenHandles() const { return open_.size(); }
    size_t CountKeys() const;

    int32_t Open(uninstall::RegKey parent, const char16_t* sub_key,
                 uninstall::RegKey* key) override;
    void Close(uninstall::RegKey key) override;
    int32_t DeleteKey(uninstall::RegKey parent, const char16_t* sub_key) override;
    int32_t EnumKey(uninstall::RegKey key, uint32_t index, char16_t* name, uint32_t chars) override;
    int32_t QueryValue(uninstall::RegKey key, const char16_t* name, uint32_t* type, void* data,
                       uint32_t* bytes) override;

    int enum_calls = 0;

  private:
    ModelKey* Resolve(uninstall::RegKey parent, const std::u16string& path);

    ModelKey root_;
    std::multiset<ModelKey*> open_;
};

}  // namespace qx::test
