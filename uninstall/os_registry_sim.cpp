#include "sim/registry_model.h"
#include "uninstall/os_registry.h"
#include "sim/notebook.h"

namespace qx::os {

RegHandle RegistryLocalMachine() {
    return qxsim::Notebook::Current().Registry().Root();
}

void RegistryClose(RegHandle key) {
    qxsim::Notebook::Current().Registry().Close(key);
}

int32_t RegistryOpen(RegHandle parent, const char16_t* sub_key, RegKey* key) {
    void* opened = nullptr;
    const int32_t rc = qxsim::Notebook::Current().Registry().Open(parent, sub_key, &opened);
    if (rc == kRegOk) key->reset(opened);
    return rc;
}

int32_t RegistryDeleteKey(RegHandle parent, const char16_t* sub_key) {
    return qxsim::Notebook::Current().Registry().DeleteKey(parent, sub_key);
}

int32_t RegistryEnumKey(RegHandle key, uint32_t index, char16_t* name, uint32_t chars) {
    return qxsim::Notebook::Current().Registry().EnumKey(key, index, name, chars);
}

int32_t RegistryQueryValue(RegHandle key, const char16_t* name, uint32_t* type, void* data,
                           uint32_t* bytes) {
    return qxsim::Notebook::Current().Registry().QueryValue(key, name, type, data, bytes);
}

}  // namespace qx::os
