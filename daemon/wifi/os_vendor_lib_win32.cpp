#include "common/win/win32.h"

#include "daemon/wifi/os_vendor_lib.h"

namespace qx::os {

VendorLibrary* VendorLibraryLoad(const wchar_t* path) {
    return reinterpret_cast<VendorLibrary*>(::LoadLibraryW(path));
}

void* VendorLibrarySymbol(VendorLibrary* library, const char* name) {
    return reinterpret_cast<void*>(::GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void VendorLibraryFree(VendorLibrary* library) {
    win::Dispose<win::UniqueLibrary>(reinterpret_cast<HMODULE>(library));
}

}  // namespace qx::os
