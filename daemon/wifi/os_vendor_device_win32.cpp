#include "common/win/win32.h"

#include "daemon/wifi/os_vendor_device.h"

namespace qx::os {

VendorDevice* VendorDeviceOpen(const wchar_t* path) {
    win::UniqueFileHandle device(
        ::CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!device) return nullptr;
    return reinterpret_cast<VendorDevice*>(device.release());
}

bool VendorDeviceControl(VendorDevice* device, uint32_t code, const void* in, uint32_t in_size,
                         void* out, uint32_t out_size, uint32_t* returned) {
    DWORD got = 0;
    BOOL ok = ::DeviceIoControl(reinterpret_cast<HANDLE>(device), code, const_cast<void*>(in),
                                in_size, out, out_size, &got, nullptr);
    *returned = got;
    return ok != FALSE;
}

void VendorDeviceClose(VendorDevice* device) {
    win::Dispose<win::UniqueFileHandle>(reinterpret_cast<HANDLE>(device));
}

}  // namespace qx::os
