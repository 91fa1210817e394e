#include "sim/registry_model.h"

#include <cstdio>
#include <cstring>
#include <functional>

#include "common/os_codes.h"

namespace qxsim {

namespace {

using qx::oscode::AsLong;
constexpr int32_t kOk = AsLong(qx::oscode::kErrorSuccess);
constexpr int32_t kNotFound = AsLong(qx::oscode::kErrorFileNotFound);
constexpr int32_t kAccessDenied = AsLong(qx::oscode::kErrorAccessDenied);
constexpr int32_t kInvalidHandle = AsLong(qx::oscode::kErrorInvalidHandle);
constexpr int32_t kMoreData = AsLong(qx::oscode::kErrorMoreData);
constexpr int32_t kNoMoreItems = AsLong(qx::oscode::kErrorNoMoreItems);

std::vector<std::u16string> Split(const std::u16string& path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

RegistryModel::RegistryModel() : root_(std::make_unique<ModelKey>()) {}

void RegistryModel::Reset() {
    root_ = std::make_unique<ModelKey>();
    open_.clear();
    deleted_.clear();
    violations_.Clear();
    enum_calls = 0;
}

ModelKey* RegistryModel::Create(const std::u16string& path) {
    ModelKey* key = root_.get();
    for (const auto& part : Split(path)) {
        auto& child = key->children[part];
        if (!child) {
            child = std::make_unique<ModelKey>();
            child->parent = key;
        }
        key = child.get();
    }
    return key;
}

ModelKey* RegistryModel::Resolve(ModelKey* parent, const std::u16string& path) {
    ModelKey* key = parent;
    for (const auto& part : Split(path)) {
        auto it = key->children.find(part);
        if (it == key->children.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

ModelKey* RegistryModel::Find(const std::u16string& path) {
    return Resolve(root_.get(), path);
}

ModelKey* RegistryModel::Usable(void* handle, const char* call) {
    auto* key = static_cast<ModelKey*>(handle);
    if (key == root_.get() || open_.count(key) != 0) return key;
    violations_.Add(std::string(call) + " on a key handle that is not open");
    return nullptr;
}

void RegistryModel::SetString(const std::u16string& path, const std::u16string& name,
                              const std::u16string& text, bool terminated, uint32_t type) {
    ModelKey::Value value{type, {}};
    const size_t units = text.size() + (terminated ? 1 : 0);
    value.bytes.resize(units * 2);
    std::memcpy(value.bytes.data(), text.c_str(), units * 2);
    Create(path)->values[name] = value;
}

size_t RegistryModel::CountKeys() const {
    std::function<size_t(const ModelKey&)> count = [&](const ModelKey& k) {
        size_t n = 1;
        for (const auto& c : k.children) n += count(*c.second);
        return n;
    };
    return count(*root_) - 1;
}

int32_t RegistryModel::Open(void* parent, const char16_t* sub_key, void** key) {
    ModelKey* from = Usable(parent, "RegOpenKeyExW");
    if (from == nullptr) return kInvalidHandle;
    if (from->deleted) return kRegErrorKeyDeleted;
    ModelKey* found = Resolve(from, sub_key);
    if (found == nullptr) return kNotFound;
    if (found->unopenable) return kAccessDenied;
    open_.insert(found);
    *key = found;
    return kOk;
}

void RegistryModel::Close(void* key) {
    auto it = open_.find(static_cast<ModelKey*>(key));
    if (it == open_.end()) {
        violations_.Add("RegCloseKey on a key handle that is not open");
        return;
    }
    open_.erase(it);
}

int32_t RegistryModel::DeleteKey(void* parent, const char16_t* sub_key) {
    ModelKey* from = Usable(parent, "RegDeleteKeyW");
    if (from == nullptr) return kInvalidHandle;
    if (from->deleted) return kRegErrorKeyDeleted;
    ModelKey* key = Resolve(from, sub_key);
    if (key == nullptr) return kNotFound;
    if (key->undeletable) return kAccessDenied;
    if (!key->children.empty()) return kAccessDenied;  // as RegDeleteKeyW: access denied
    ModelKey* owner = key->parent;
    for (auto it = owner->children.begin(); it != owner->children.end(); ++it) {
        if (it->second.get() == key) {
            key->deleted = true;
            if (open_.count(key) != 0) deleted_.push_back(std::move(it->second));
            owner->children.erase(it);
            break;
        }
    }
    return kOk;
}

int32_t RegistryModel::EnumKey(void* handle, uint32_t index, char16_t* name, uint32_t chars) {
    ++enum_calls;
    ModelKey* k = Usable(handle, "RegEnumKeyExW");
    if (k == nullptr) return kInvalidHandle;
    if (k->deleted) return kRegErrorKeyDeleted;
    if (index >= k->children.size()) return kNoMoreItems;
    auto it = k->children.begin();
    std::advance(it, index);
    if (it->first.size() + 1 > chars) return kMoreData;
    std::memcpy(name, it->first.c_str(), (it->first.size() + 1) * 2);
    return kOk;
}

int32_t RegistryModel::QueryValue(void* handle, const char16_t* name, uint32_t* type, void* data,
                                  uint32_t* bytes) {
    ModelKey* k = Usable(handle, "RegQueryValueExW");
    if (k == nullptr) return kInvalidHandle;
    if (k->deleted) return kRegErrorKeyDeleted;
    auto it = k->values.find(name);
    if (it == k->values.end()) return kNotFound;
    const auto& value = it->second;
    *type = value.type;
    const uint32_t size = static_cast<uint32_t>(value.bytes.size());
    // Without a buffer the call only asks for the size, and answers it.
    if (data == nullptr) {
        *bytes = size;
        return kOk;
    }
    if (size > *bytes) {
        *bytes = size;
        return kMoreData;
    }
    if (size != 0) std::memcpy(data, value.bytes.data(), size);  // an empty value has no bytes
    *bytes = size;
    return kOk;
}

}  // namespace qxsim
