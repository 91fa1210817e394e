// The uninstaller's flow: the helper services, the controller's device nodes
// and driver package, the installed files, the product's own uninstall key
// and, through Windows Installer, the installed product. Every OS call goes
// through the os_*.h seams, so the whole flow runs on the virtual notebook too.
#pragma once

#include <cstdint>

namespace qx::uninstall {

// The service the installer registers, and the one "QXservice.exe install"
// registers; the enumerator of the controller's device nodes.
extern const char16_t kHelperService[];
extern const char16_t kSelfInstalledService[];
extern const char16_t kControllerEnumerator[];
extern const char16_t kProductName[];
extern const char16_t kUninstallRoot[];
extern const char16_t kProductKey[];

// How long the helper service gets to stop before its files are deleted.
constexpr uint32_t kServiceStopLimitMs = 10000;
constexpr uint32_t kServiceStopPollMs = 100;

// Silent without arguments (console hidden); any argument reports each step,
// except a request for help ("/?", "-?", "/h", "-h", "--help"), which prints
// kUsage and changes nothing. Returns the exit code.
extern const char kUsage[];
int UninstallProgramMain(int argc, const char16_t* const* argv);

// The steps, as the flow runs them. 0 on success; see the definitions.
int32_t DeleteHelperService(bool verbose);
int32_t RemoveControllerDevices(bool verbose);
void DeleteFiles();
// msiexec's exit code, or the error of its start.
uint32_t RunMsiexec(const char16_t* product_code, bool verbose);

}  // namespace qx::uninstall
