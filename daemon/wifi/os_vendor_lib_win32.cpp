#include "common/win/win32.h"

#include "daemon/wifi/os_vendor_lib.h"

namespace qx::os {

VendorLibrary* VendorLibraryLoad(const wchar_t* path) {
    // The library's own dependencies come from its folder, then from the
    // system folder, and from nowhere else: not the daemon's folder, not the
    // current directory, not PATH.
    return reinterpret_cast<VendorLibrary*>(::LoadLibraryExW(
        path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
}

void* VendorLibrarySymbol(VendorLibrary* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void VendorLibraryFree(VendorLibrary* library) {
    win::Dispose<win::UniqueLibrary>(reinterpret_cast<HMODULE>(library));
}

}  // namespace qx::os
