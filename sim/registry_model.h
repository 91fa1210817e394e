// The virtual notebook's registry: keys with sorted sub-keys (as
// RegEnumKeyExW returns them) and raw values under one root that stands for
// HKEY_LOCAL_MACHINE. Key and value names are case-insensitive, and sub-keys
// sort case aside, as in the registry itself (our names are ASCII: only
// A-Z fold). A key handle is the key itself; open handles are
// counted so a test can see that every one was closed.
//
// Strict like Windows: closing a handle that is not open, or using one, is a
// violation (printed on standard error and kept); a key deleted while a
// handle to it is open stays valid memory, and calls on it answer
// ERROR_KEY_DELETED.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/os_codes.h"
#include "sim/case_fold.h"
#include "sim/violation_log.h"

namespace qxsim {

struct ModelKey {
    std::map<std::u16string, std::unique_ptr<ModelKey>, CaseAsideLess> children;
    struct Value {
        uint32_t type;
        std::vector<uint8_t> bytes;
    };
    std::map<std::u16string, Value, CaseAsideLess> values;
    bool undeletable = false;  // RegDeleteKeyW answers access denied
    bool unopenable = false;   // RegOpenKeyExW answers access denied
    bool deleted = false;
    ModelKey* parent = nullptr;
};

constexpr int32_t kRegErrorKeyDeleted = qx::oscode::AsLong(qx::oscode::kErrorKeyDeleted);

class RegistryModel {
  public:
    friend class Notebook;  // builds the one instance

    // An empty registry, no open handles, no violations.
    void Reset();

    // HKEY_LOCAL_MACHINE.
    void* Root() { return root_.get(); }
    // Creates every key of a backslash-separated path; returns the last one.
    ModelKey* Create(const std::u16string& path);
    ModelKey* Find(const std::u16string& path);
    // Stores text as REG_SZ; `terminated` false drops the terminator.
    void SetString(const std::u16string& path, const std::u16string& name,
                   const std::u16string& text, bool terminated = true, uint32_t type = 1);
    size_t OpenHandles() const { return open_.size(); }
    size_t CountKeys() const;
    std::vector<std::string> Violations() const { return violations_.List(); }

    // The calls, with their Win32 results.
    int32_t Open(void* parent, const char16_t* sub_key, void** key);
    void Close(void* key);
    int32_t DeleteKey(void* parent, const char16_t* sub_key);
    int32_t EnumKey(void* key, uint32_t index, char16_t* name, uint32_t chars);
    int32_t QueryValue(void* key, const char16_t* name, uint32_t* type, void* data,
                       uint32_t* bytes);

    int enum_calls = 0;

  private:
    RegistryModel();
    // The key behind a handle the caller passes, or null (with a violation)
    // when it is neither the root nor open.
    ModelKey* Usable(void* handle, const char* call);
    ModelKey* Resolve(ModelKey* parent, const std::u16string& path);

    std::unique_ptr<ModelKey> root_;
    std::multiset<ModelKey*> open_;
    // Keys deleted while handles to them were open, kept until Reset.
    std::vector<std::unique_ptr<ModelKey>> deleted_;
    ViolationLog violations_{"registry"};
};

}  // namespace qxsim
