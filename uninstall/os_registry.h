// OS seam of the uninstaller: the registry. Results are Win32 codes.
//
// On Windows these are RegOpenKeyExW, RegDeleteKeyW, RegEnumKeyExW,
// RegQueryValueExW and RegCloseKey; on the virtual notebook the registry
// model (sim/registry_model.h).
#pragma once

#include <cstdint>

#include "common/os_codes.h"
#include "common/win/unique_handle.h"

namespace qx::os {

using RegHandle = void*;

// Registry result codes the logic tells apart.
constexpr int32_t kRegOk = oscode::AsLong(oscode::kErrorSuccess);
constexpr int32_t kRegNotFound = oscode::AsLong(oscode::kErrorFileNotFound);
constexpr int32_t kRegMoreData = oscode::AsLong(oscode::kErrorMoreData);
constexpr int32_t kRegNoMoreItems = oscode::AsLong(oscode::kErrorNoMoreItems);
constexpr uint32_t kRegSz = 1;

// HKEY_LOCAL_MACHINE: predefined, never closed.
RegHandle RegistryLocalMachine();

// RegCloseKey; keys come back through RegKey below, which calls it.
void RegistryClose(RegHandle key);

// An open registry key, closed when its owner goes.
using RegKey = win::UniqueAny<RegHandle, &RegistryClose>;

// RegOpenKeyExW with KEY_READ; *key holds the key on success.
int32_t RegistryOpen(RegHandle parent, const char16_t* sub_key, RegKey* key);
// RegDeleteKeyW: fails while the key still has sub-keys.
int32_t RegistryDeleteKey(RegHandle parent, const char16_t* sub_key);
// RegEnumKeyExW: `chars` is the buffer size with the terminator.
int32_t RegistryEnumKey(RegHandle key, uint32_t index, char16_t* name, uint32_t chars);
// RegQueryValueExW: `bytes` holds the buffer size in and the value size out.
int32_t RegistryQueryValue(RegHandle key, const char16_t* name, uint32_t* type, void* data,
                           uint32_t* bytes);

}  // namespace qx::os
