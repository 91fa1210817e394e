#include "daemon/wifi/os_vendor_lib.h"
#include "sim/fault_plan.h"
#include "sim/intel_lib_model.h"
#include "sim/notebook.h"

namespace qx::os {

struct VendorLibrary {
    int unused;
};

namespace {
VendorLibrary g_intel_library;
}

VendorLibrary* VendorLibraryLoad(const wchar_t* path) {
    if (qxsim::InjectFault(qxsim::FaultKind::kProviderOpen)) return nullptr;
    return qxsim::Notebook::Current().IntelLib().Load(path) ? &g_intel_library : nullptr;
}

void* VendorLibrarySymbol(VendorLibrary* /*library*/, const char* name) {
    return qxsim::Notebook::Current().IntelLib().Symbol(name);
}

void VendorLibraryFree(VendorLibrary* /*library*/) {
    qxsim::Notebook::Current().IntelLib().Free();
}

}  // namespace qx::os
