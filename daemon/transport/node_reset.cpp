#include "daemon/core/os_process.h"
#include "daemon/transport/os_cfgmgr.h"
#include "daemon/transport/transport.h"

namespace qx {

namespace {
const char16_t kControllerInstanceId[] = u"ACPI\\VLT0949\\1";
}

void DisableControllerNode(bool verbose) {
    if (verbose) os::StdoutPrintf("Disabling device\n");
    uint32_t devinst = 0;
    uint32_t cr = os::CmLocateDevNode(&devinst, kControllerInstanceId);
    if (cr != os::kCrSuccess) {
        if (verbose) os::StdoutPrintf("Err.. CM_Locate_DevNode %d\n", static_cast<int>(cr));
        return;
    }
    cr = os::CmDisableDevNode(devinst);
    if (verbose)
        os::StdoutPrintf(cr != os::kCrSuccess ? "Err.. CM_Disable_DevNode\n" : "Device disabled\n");
}

void EnableControllerNode(bool verbose) {
    if (verbose) os::StdoutPrintf("Enabling device\n");
    uint32_t devinst = 0;
    if (os::CmLocateDevNode(&devinst, kControllerInstanceId) != os::kCrSuccess) {
        if (verbose) os::StdoutPrintf("Err.. CM_LocateDevNode\n");
        return;
    }
    uint32_t cr = os::CmEnableDevNode(devinst);
    if (verbose)
        os::StdoutPrintf(cr != os::kCrSuccess ? "Err.. CM_Enable_DevNode\n" : "Device enabled\n");
}

}  // namespace qx
