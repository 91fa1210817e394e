#include "tests/unit/uninstall/registry_model.h"

#include <cstring>
#include <functional>

namespace qx::test {

namespace {

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

RegistryModel::RegistryModel() = default;

ModelKey* RegistryModel::Create(const std::u16string& path) {
    ModelKey* key = &root_;
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

ModelKey* RegistryModel::Resolve(uninstall::RegKey parent, const std::u16string& path) {
    auto* key = static_cast<ModelKey*>(parent);
    for (const auto& part : Split(path)) {
        auto it = key->children.find(part);
        if (it == key->children.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

ModelKey* RegistryModel::Find(const std::u16string& path) {
    return Resolve(&root_, path);
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
    return count(root_) - 1;
}

int32_t RegistryModel::Open(uninstall::RegKey parent, const char16_t* sub_key,
                            uninstall::RegKey* key) {
    ModelKey* found = Resolve(parent, sub_key);
    if (found == nullptr) return uninstall::kRegNotFound;
    if (found->unopenable) return 5;
    open_.insert(found);
    *key = found;
    return uninstall::kRegOk;
}

void RegistryModel::Close(uninstall::RegKey key) {
    auto it = open_.find(static_cast<ModelKey*>(key));
    if (it != open_.end()) open_.erase(it);
}

int32_t RegistryModel::DeleteKey(uninstall::RegKey parent, const char16_t* sub_key) {
    ModelKey* key = Resolve(parent, sub_key);
    if (key == nullptr) return uninstall::kRegNotFound;
    if (key->undeletable) return 5;
    if (!key->children.empty()) return 5;  // as RegDeleteKeyW: access denied
    ModelKey* owner = key->parent;
    for (auto it = owner->children.begin(); it != owner->children.end(); ++it) {
        if (it->second.get() == key) {
            owner->children.erase(it);
            break;
        }
    }
    return uninstall::kRegOk;
}

int32_t RegistryModel::EnumKey(uninstall::RegKey key, uint32_t index, char16_t* name,
                               uint32_t chars) {
    ++enum_calls;
    auto* k = static_cast<ModelKey*>(key);
    if (index >= k->children.size()) return uninstall::kRegNoMoreItems;
    auto it = k->children.begin();
    std::advance(it, index);
    if (it->first.size() + 1 > chars) return uninstall::kRegMoreData;
    std::memcpy(name, it->first.c_str(), (it->first.size() + 1) * 2);
    return uninstall::kRegOk;
}

int32_t RegistryModel::QueryValue(uninstall::RegKey key, const char16_t* name, uint32_t* type,
                                  void* data, uint32_t* bytes) {
    auto* k = static_cast<ModelKey*>(key);
    auto it = k->values.find(name);
    if (it == k->values.end()) return uninstall::kRegNotFound;
    const auto& value = it->second;
    *type = value.type;
    const uint32_t size = static_cast<uint32_t>(value.bytes.size());
    if (size > *bytes) {
        *bytes = size;
        return uninstall::kRegMoreData;
    }
    if (size != 0) std::memcpy(data, value.bytes.data(), size);  // an empty value has no bytes
    *bytes = size;
    return uninstall::kRegOk;
}

}  // namespace qx::test
