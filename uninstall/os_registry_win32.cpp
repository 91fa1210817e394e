#include "common/win/win32.h"

#include "uninstall/os_registry.h"

namespace qx::os {

RegHandle RegistryLocalMachine() {
    return HKEY_LOCAL_MACHINE;
}

void RegistryClose(RegHandle key) {
    win::Dispose<win::UniqueHkey>(static_cast<HKEY>(key));
}

int32_t RegistryOpen(RegHandle parent, const char16_t* sub_key, RegKey* key) {
    HKEY opened = nullptr;
    const LONG rc =
        ::RegOpenKeyExW(static_cast<HKEY>(parent), win::W(sub_key), 0, KEY_READ, &opened);
    if (rc == ERROR_SUCCESS) key->reset(opened);
    return rc;
}

int32_t RegistryDeleteKey(RegHandle parent, const char16_t* sub_key) {
    return ::RegDeleteKeyW(static_cast<HKEY>(parent), win::W(sub_key));
}

int32_t RegistryEnumKey(RegHandle key, uint32_t index, char16_t* name, uint32_t chars) {
    DWORD size = chars;
    return ::RegEnumKeyExW(static_cast<HKEY>(key), index, win::W(name), &size, nullptr, nullptr,
                           nullptr, nullptr);
}

int32_t RegistryQueryValue(RegHandle key, const char16_t* name, uint32_t* type, void* data,
                           uint32_t* bytes) {
    DWORD value_type = 0;
    DWORD size = *bytes;
    const LONG rc = ::RegQueryValueExW(static_cast<HKEY>(key), win::W(name), nullptr, &value_type,
                                       static_cast<BYTE*>(data), &size);
    *type = value_type;
    *bytes = size;
    return rc;
}

}  // namespace qx::os
