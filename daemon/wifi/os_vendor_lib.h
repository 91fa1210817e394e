// OS seam: a vendor library loaded at run time from a fixed path.
//
// On Windows these are LoadLibraryExW (the library's dependencies from its
// own folder and the system folder only), GetProcAddress and FreeLibrary; on
// the virtual notebook they reach the models of the vendor libraries.
#pragma once

namespace qx::os {

struct VendorLibrary;

// The loaded library, or null when it is missing or failed to load.
VendorLibrary* VendorLibraryLoad(const wchar_t* path);
// The address of an export, or null when the library does not have it.
void* VendorLibrarySymbol(VendorLibrary* library, const char* name);
void VendorLibraryFree(VendorLibrary* library);

}  // namespace qx::os
