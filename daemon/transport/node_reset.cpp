#include "daemon/base/os_process.h"
#include "daemon/transport/os_cfgmgr.h"
#include "daemon/transport/transport.h"

namespace qx {

namespace {
const char16_t kControllerInstanceId[] = u"ACPI\\VLT0949\\1";
// The controller's device under its enumerator, whatever instance the
// firmware's _UID gives it.
const char16_t kControllerDevice[] = u"ACPI\\VLT0949";
constexpr uint32_t kMaxDeviceIdLen = 200;  // MAX_DEVICE_ID_LEN, without the zero

// The controller's node: "ACPI\VLT0949\1" first, as the firmware normally
// names it; when that is absent, the one present instance of ACPI\VLT0949
// (firmware with another _UID). Several instances leave it not found: which
// one is the controller is not for the daemon to guess. The result is the
// first locate's CONFIGRET unless the other instance was located.
uint32_t LocateController(uint32_t* devinst) {
    const uint32_t cr = os::CmLocateDevNode(devinst, kControllerInstanceId);
    if (cr == os::kCrSuccess) return cr;
    // Room for two IDs: enough to tell one instance from several.
    char16_t ids[2 * (kMaxDeviceIdLen + 1) + 1] = {};
    if (os::CmGetDeviceIdList(kControllerDevice, ids, sizeof ids / sizeof ids[0],
                              os::kCmGetIdListFilterEnumerator | os::kCmGetIdListFilterPresent) !=
            os::kCrSuccess ||
        ids[0] == 0)
        return cr;
    uint32_t end = 0;
    while (ids[end] != 0) ++end;
    if (ids[end + 1] != 0) return cr;
    return os::CmLocateDevNode(devinst, ids) == os::kCrSuccess ? os::kCrSuccess : cr;
}
}  // namespace

void DisableControllerNode(bool verbose) {
    if (verbose) os::StdoutPrintf("Disabling device\n");
    uint32_t devinst = 0;
    uint32_t cr = LocateController(&devinst);
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
    if (LocateController(&devinst) != os::kCrSuccess) {
        if (verbose) os::StdoutPrintf("Err.. CM_LocateDevNode\n");
        return;
    }
    uint32_t cr = os::CmEnableDevNode(devinst);
    if (verbose)
        os::StdoutPrintf(cr != os::kCrSuccess ? "Err.. CM_Enable_DevNode\n" : "Device enabled\n");
}

}  // namespace qx
