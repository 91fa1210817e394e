// The uninstaller and the daemon meet the same device node: what the
// uninstaller removes through SetupAPI, the daemon's Configuration Manager
// no longer locates, and a node the Configuration Manager lacks is not listed
// to the uninstaller either; with the node gone, the driver's device is gone.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "daemon/transport/os_cfgmgr.h"
#include "daemon/transport/transport.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/device_install_model.h"
#include "sim/notebook.h"
#include "uninstall/os_devices.h"
#include "uninstall/uninstall_main.h"

namespace qx::uninstall {
namespace {

constexpr uint32_t kCrNoSuchDevNode = 0x0D;

void UninstallSilently() {
    auto& console = qxsim::Notebook::Current().Console();
    console.SetEcho(false);
    console.StartCapture();
    const char16_t* argv[] = {u"QXuninstall.exe"};
    UninstallProgramMain(1, argv);
    console.TakeCapture();
    console.SetEcho(true);
}

// The instance ID of the first device SetupAPI lists under the controller's
// enumerator, or empty when it lists none.
std::u16string FirstListed() {
    auto list = os::DevicesOpen(u"ACPI\\VLT0949");
    char16_t id[64] = {};
    if (!list || !os::DevicesSelect(list.get(), 0) ||
        !os::DevicesInstanceId(list.get(), id, sizeof id / sizeof id[0])) {
        return u"";
    }
    return id;
}

TEST(ControllerNode, UninstallerAndDaemonSeeOneNode) {
    struct Case {
        const char* what;
        std::function<void()> change;  // to the power-on notebook
        uint32_t locate;               // the daemon's CM_Locate_DevNode
        std::u16string listed;         // the uninstaller's SetupAPI list
        int open;                      // the daemon's open of the driver's device
    };
    const Case cases[] = {
        {"power-on", [] {}, os::kCrSuccess, u"ACPI\\VLT0949\\1", 0},
        {"uninstalled", UninstallSilently, kCrNoSuchDevNode, u"", -1},
        {"the node is absent",
         [] { qxsim::Notebook::Current().DeviceInstall().SetControllerPresent(false); },
         kCrNoSuchDevNode, u"", -1},
        {"uninstalled, then found again",
         [] {
             UninstallSilently();
             qxsim::Notebook::Current().DeviceInstall().SetControllerPresent(true);
         },
         os::kCrSuccess, u"ACPI\\VLT0949\\1", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qxsim::Notebook::Current().Reset();
        c.change();
        uint32_t devinst = 7;
        EXPECT_EQ(c.locate, os::CmLocateDevNode(&devinst, u"ACPI\\VLT0949\\1"));
        EXPECT_EQ(c.locate == os::kCrSuccess, devinst != 0);
        EXPECT_EQ(c.listed, FirstListed());
        EXPECT_EQ(c.open, TransportOpen());
        TransportClose();
        EXPECT_EQ(0, qxsim::Notebook::Current().DeviceInstall().OpenLists());
        EXPECT_TRUE(qxsim::Notebook::Current().DeviceInstall().Violations().empty());
    }
}

}  // namespace
}  // namespace qx::uninstall
