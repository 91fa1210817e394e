// OS seam: a vendor driver's control device, spoken to with synchronous
// control codes.
//
// On Windows these are CreateFileW, DeviceIoControl without OVERLAPPED and
// CloseHandle; on the virtual notebook they reach the vendor device models.
#pragma once

#include <cstdint>

namespace qx::os {

struct VendorDevice;

// Opens the device for reading and writing, unshared; null when it is missing.
VendorDevice* VendorDeviceOpen(const wchar_t* path);
// One control code, completed before the call returns. True on success;
// *returned then holds the bytes the device wrote to out.
bool VendorDeviceControl(VendorDevice* device, uint32_t code, const void* in, uint32_t in_size,
                         void* out, uint32_t out_size, uint32_t* returned);
void VendorDeviceClose(VendorDevice* device);

}  // namespace qx::os
