#include "daemon/wifi/os_vendor_device.h"
#include "sim/fault_plan.h"
#include "sim/qca_device_model.h"
#include "sim/notebook.h"

namespace qx::os {

// The model hands out small handle numbers; the seam carries them as pointers.
VendorDevice* VendorDeviceOpen(const wchar_t* path) {
    if (qxsim::InjectFault(qxsim::FaultKind::kProviderOpen)) return nullptr;
    uintptr_t handle = qxsim::Notebook::Current().QcaDevice().Open(path);
    return reinterpret_cast<VendorDevice*>(handle);
}

bool VendorDeviceControl(VendorDevice* device, uint32_t code, const void* in, uint32_t in_size,
                         void* out, uint32_t out_size, uint32_t* returned) {
    if (qxsim::InjectFault(qxsim::FaultKind::kProviderCsi)) return false;
    return qxsim::Notebook::Current().QcaDevice().Control(reinterpret_cast<uintptr_t>(device), code,
                                                          in, in_size, out, out_size, returned);
}

void VendorDeviceClose(VendorDevice* device) {
    qxsim::Notebook::Current().QcaDevice().Close(reinterpret_cast<uintptr_t>(device));
}

}  // namespace qx::os
