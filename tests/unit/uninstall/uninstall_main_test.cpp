// The uninstaller's whole flow on the virtual notebook: an installed product
// (services, the controller's device node and driver package, files,
// registry entries, Windows Installer products) is removed, and afterwards
// every model is left without open handles or violations.
#include "uninstall/uninstall_main.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/console_model.h"
#include "sim/device_install_model.h"
#include "sim/file_model.h"
#include "sim/process_model.h"
#include "sim/registry_model.h"
#include "sim/scm_model.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qx::uninstall {
namespace {

using qxsim::ScmModel;

const std::u16string kRoot = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::u16string kDriverKey =
    u"SYSTEM\\CurrentControlSet\\Control\\Class\\{4d36e97d-e325-11ce-bfc1-08002be10318}\\0007";
const std::u16string kHalvorn = u"C:\\windows\\Halvorn\\";
const std::u16string kMsiexec = u"C:\\windows\\system32\\msiexec.exe";
// Where the administrator runs the uninstaller from, with an msiexec.exe
// someone left there.
const std::u16string kDownloads = u"C:\\Users\\admin\\Downloads";

// A notebook with everything the installer put there.
void Install() {
    qxsim::Notebook::Current().Scm().Reset();
    qxsim::Notebook::Current().Registry().Reset();
    qxsim::Notebook::Current().DeviceInstall().Reset();
    qxsim::Notebook::Current().Files().Reset();
    qxsim::Notebook::Current().Processes().Reset();

    ScmModel::Service helper;
    helper.name = u"QXVeltraneHelper";
    helper.state = qxsim::kSvcRunning;
    helper.stops_after_ms = 300;
    qxsim::Notebook::Current().Scm().AddService(helper);
    ScmModel::Service self;
    self.name = u"Halvorn Veltrane Service";
    qxsim::Notebook::Current().Scm().AddService(self);

    auto& registry = qxsim::Notebook::Current().Registry();
    registry.Create(kRoot + u"\\Quellix\\Parts\\Driver");
    registry.SetString(kRoot + u"\\{A}", u"DisplayName", u"Halvorn Veltrane");
    registry.SetString(kRoot + u"\\{B}", u"DisplayName", u"Halvorn Veltrane");
    registry.SetString(kRoot + u"\\CaseProbe", u"DisplayName", u"halvorn veltrane");
    registry.SetString(kDriverKey, u"InfPath", u"oem7.inf");

    qxsim::DeviceNode node;
    node.instance_id = u"ACPI\\VLT0949\\1";
    node.hardware_ids = {u"ACPI\\VLT0949", u"*VLT0949"};
    node.driver_key = kDriverKey;
    qxsim::Notebook::Current().DeviceInstall().AddDevice(node);
    qxsim::Notebook::Current().DeviceInstall().AddDriverPackage(u"oem7.inf");

    for (const char16_t* file : {u"Quellix.exe", u"qxveltrane.cat", u"QXservice.exe",
                                 u"QXVeltrane.sys", u"QXVeltrane.inf", u"QXuninstall.exe"}) {
        qxsim::Notebook::Current().Files().AddFile(kHalvorn + file);
    }
    qxsim::Notebook::Current().Files().AddFile(kMsiexec);
    qxsim::Notebook::Current().Files().AddFile(kDownloads + u"\\msiexec.exe");
    qxsim::Notebook::Current().Processes().SetOwnImagePath(kHalvorn + u"QXuninstall.exe");
    qxsim::Notebook::Current().Processes().SetCurrentDirectory(kDownloads);

    // Windows Installer removes the product and with it its uninstall entry.
    qxsim::Notebook::Current().Processes().SetScript([](const std::u16string& command_line) {
        qxsim::ProcessModel::Plan plan;
        plan.runs_ms = 2000;
        const size_t open = command_line.find(u'{'), close = command_line.find(u'}');
        if (command_line.rfind(u"msiexec /X", 0) == 0 && open != std::u16string::npos &&
            close != std::u16string::npos) {
            const std::u16string entry =
                kRoot + u"\\" + command_line.substr(open, close - open + 1);
            plan.at_start = [entry] {
                auto& reg = qxsim::Notebook::Current().Registry();
                reg.DeleteKey(reg.Root(), entry.c_str());
            };
        }
        return plan;
    });
}

struct Outcome {
    int exit_code;
    std::string out;
    qxsim::VTime took;
};

Outcome Uninstall(std::vector<std::u16string> args) {
    std::vector<const char16_t*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    auto& console = qxsim::Notebook::Current().Console();
    console.SetEcho(false);
    console.StartCapture();
    const qxsim::VTime start = qxsim::Notebook::Current().Kernel().Now();
    Outcome o;
    o.exit_code = UninstallProgramMain(static_cast<int>(argv.size()), argv.data());
    o.took = qxsim::Notebook::Current().Kernel().Now() - start;
    o.out = console.TakeCapture();
    console.SetEcho(true);
    // Whatever happened, nothing is left open or misused.
    EXPECT_EQ(0, qxsim::Notebook::Current().Scm().OpenHandles());
    EXPECT_EQ(0u, qxsim::Notebook::Current().Registry().OpenHandles());
    EXPECT_EQ(0, qxsim::Notebook::Current().DeviceInstall().OpenLists());
    EXPECT_EQ(0, qxsim::Notebook::Current().Processes().OpenHandles());
    EXPECT_EQ(std::vector<std::string>{}, qxsim::Notebook::Current().Scm().Violations());
    EXPECT_EQ(std::vector<std::string>{}, qxsim::Notebook::Current().Registry().Violations());
    EXPECT_EQ(std::vector<std::string>{}, qxsim::Notebook::Current().DeviceInstall().Violations());
    EXPECT_EQ(std::vector<std::string>{}, qxsim::Notebook::Current().Processes().Violations());
    return o;
}

const char kDeviceLines[] =
    "    Device Instance ID: ACPI\\VLT0949\\1\n"
    "    Device Hardware ID: \"ACPI\\VLT0949\"\n";
const char kProducts[] =
    "Uninstalling Halvorn Veltrane / {A}\n"
    "Uninstalling Halvorn Veltrane / {B}\n";

TEST(Uninstall, RemovesWhatWasInstalled) {
    struct Case {
        const char* what;
        std::vector<std::u16string> args;
        std::function<void()> change;  // to the installed notebook
        std::string out;
        int exit_code;
        bool files_deleted;
        bool device_removed;
        bool services_gone = true;
    };
    auto& scm = qxsim::Notebook::Current().Scm();
    auto& devices = qxsim::Notebook::Current().DeviceInstall();
    const Case cases[] = {
        {"verbose",
         {u"QXuninstall.exe", u"v"},
         [] {},
         std::string("Service \"Halvorn Veltrane Service\" deleted\n"
                     "Service deleted successfully\n") +
             kDeviceLines + "    Uninstalled Driver\n    Removed Driver\n" + kProducts,
         0,
         true,
         true},
        {"silent", {u"QXuninstall.exe"}, [] {}, "", 0, true, true},
        // Not a request for help: any other argument still means verbose.
        {"an argument like a switch",
         {u"QXuninstall.exe", u"/v"},
         [] {},
         std::string("Service \"Halvorn Veltrane Service\" deleted\n"
                     "Service deleted successfully\n") +
             kDeviceLines + "    Uninstalled Driver\n    Removed Driver\n" + kProducts,
         0,
         true,
         true},
        // Without the helper the files may still be in use: they stay.
        {"no helper service",
         {u"QXuninstall.exe", u"v"},
         [] { qxsim::Notebook::Current().Scm().Reset(); },
         std::string("OpenService failed (1060)\n") + kDeviceLines +
             "    Uninstalled Driver\n    Removed Driver\n" + kProducts,
         0,
         false,
         true},
        {"no service manager",
         {u"QXuninstall.exe", u"v"},
         [&scm] { scm.SetOpenManagerError(5); },
         std::string("OpenSCManager failed (5)\n") + kDeviceLines +
             "    Uninstalled Driver\n    Removed Driver\n" + kProducts,
         0,
         false,
         true,
         false},
        {"the device will not go",
         {u"QXuninstall.exe", u"v"},
         [&devices] {
             devices.Reset();
             qxsim::DeviceNode node;
             node.instance_id = u"ACPI\\VLT0949\\1";
             node.hardware_ids = {u"ACPI\\VLT0949"};
             node.driver_key = kDriverKey;
             node.remove_error = 5;
             devices.AddDevice(node);
             devices.AddDriverPackage(u"oem7.inf");
         },
         std::string("Service \"Halvorn Veltrane Service\" deleted\n"
                     "Service deleted successfully\n") +
             kDeviceLines + "    Failed - 5\n" + kProducts,
         -1,
         true,
         false},
        {"the removal wants a restart",
         {u"QXuninstall.exe", u"v"},
         [&devices] {
             devices.Reset();
             qxsim::DeviceNode node;
             node.instance_id = u"ACPI\\VLT0949\\1";
             node.hardware_ids = {u"ACPI\\VLT0949"};
             node.driver_key = kDriverKey;
             node.needs_restart = true;
             devices.AddDevice(node);
             devices.AddDriverPackage(u"oem7.inf");
         },
         std::string("Service \"Halvorn Veltrane Service\" deleted\n"
                     "Service deleted successfully\n") +
             kDeviceLines + "    Must reboot to complete uninstall    Removed Driver\n" + kProducts,
         0,
         true,
         true},
        {"no controller device",
         {u"QXuninstall.exe", u"v"},
         [&devices] {
             devices.Reset();
             devices.SetPresent(qxsim::kControllerInstanceId, false);
         },
         std::string("Service \"Halvorn Veltrane Service\" deleted\n"
                     "Service deleted successfully\n") +
             kProducts,
         0,
         true,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        c.change();
        const Outcome o = Uninstall(c.args);
        EXPECT_EQ(c.out, o.out);
        EXPECT_EQ(c.exit_code, o.exit_code);

        auto& registry = qxsim::Notebook::Current().Registry();
        EXPECT_EQ(nullptr, registry.Find(kRoot + u"\\Quellix"));
        EXPECT_EQ(nullptr, registry.Find(kRoot + u"\\{A}"));
        EXPECT_EQ(nullptr, registry.Find(kRoot + u"\\{B}"));
        EXPECT_NE(nullptr, registry.Find(kRoot + u"\\CaseProbe"));
        EXPECT_EQ(c.services_gone, scm.Find(u"QXVeltraneHelper") == nullptr);
        EXPECT_EQ(c.services_gone, scm.Find(u"Halvorn Veltrane Service") == nullptr);

        auto& files = qxsim::Notebook::Current().Files();
        for (const char16_t* file :
             {u"Quellix.exe", u"qxveltrane.cat", u"QXservice.exe", u"QXVeltrane.sys"}) {
            EXPECT_EQ(!c.files_deleted, files.Exists(kHalvorn + file));
        }
        EXPECT_EQ(c.files_deleted ? 2u : 0u, files.AtRestart().size());

        const auto nodes = devices.Devices();
        if (!nodes.empty()) {
            EXPECT_EQ(!c.device_removed, nodes[0].present);
        }
        EXPECT_EQ(!c.device_removed && !nodes.empty(), devices.HasDriverPackage(u"oem7.inf"));

        // Each product went through Windows Installer, one after the other,
        // the one of the system folder and not the one in the current directory.
        const auto children = qxsim::Notebook::Current().Processes().Children();
        ASSERT_EQ(2u, children.size());
        EXPECT_EQ(u"msiexec /X{A} /qb /promptrestart", children[0].command_line);
        EXPECT_EQ(u"msiexec /X{B} /qb /promptrestart", children[1].command_line);
        EXPECT_EQ(kMsiexec, children[0].image);
        EXPECT_EQ(kMsiexec, children[1].image);
        EXPECT_TRUE(children[0].ended && children[1].ended);
    }
}

// The helper service is given its time to stop before its files go; one
// that hangs is given up after the limit and left marked for deletion. One
// that is already stopping refuses the stop (1061) and is waited for alike.
TEST(Uninstall, WaitsForTheHelperServiceWithinTheLimit) {
    const struct {
        const char* what;
        uint32_t state;
        int64_t stops_after_ms;
        bool gone;
    } cases[] = {
        {"running, stops", qxsim::kSvcRunning, 300, true},
        {"running, hangs", qxsim::kSvcRunning, -1, false},
        {"already stopping", qxsim::kSvcStopPending, 300, true},
        {"already stopping, hangs", qxsim::kSvcStopPending, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Install();
        ScmModel::Service helper;
        helper.name = u"QXVeltraneHelper";
        helper.state = c.state;
        helper.stops_after_ms = c.stops_after_ms;
        qxsim::Notebook::Current().Scm().AddService(helper);
        const Outcome o = Uninstall({u"QXuninstall.exe"});
        // Two products of 2 s each, plus the wait for the service.
        EXPECT_EQ(c.gone ? 300 + 4000 : kServiceStopLimitMs + 4000, o.took);
        const auto* left = qxsim::Notebook::Current().Scm().Find(u"QXVeltraneHelper");
        EXPECT_EQ(c.gone, left == nullptr);
        if (left != nullptr) {
            EXPECT_TRUE(left->marked_for_delete);
        }
    }
}

// A request for help prints the usage and changes nothing at all.
TEST(Uninstall, HelpChangesNothing) {
    for (const char16_t* arg : {u"/?", u"-?", u"/h", u"-h", u"/H", u"--help", u"--HELP"}) {
        SCOPED_TRACE(std::string(arg, arg + std::char_traits<char16_t>::length(arg)));
        Install();
        const Outcome o = Uninstall({u"QXuninstall.exe", arg});
        EXPECT_EQ(kUsage, o.out);
        EXPECT_EQ(0, o.exit_code);
        EXPECT_NE(nullptr, qxsim::Notebook::Current().Scm().Find(u"QXVeltraneHelper"));
        EXPECT_EQ(qxsim::kSvcRunning,
                  qxsim::Notebook::Current().Scm().Find(u"QXVeltraneHelper")->state);
        EXPECT_TRUE(qxsim::Notebook::Current().Files().DeleteCalls().empty());
        EXPECT_TRUE(qxsim::Notebook::Current().Files().AtRestart().empty());
        EXPECT_NE(nullptr, qxsim::Notebook::Current().Registry().Find(kRoot + u"\\Quellix"));
        EXPECT_TRUE(qxsim::Notebook::Current().DeviceInstall().Devices()[0].present);
        EXPECT_TRUE(qxsim::Notebook::Current().Processes().Children().empty());
    }
    // Help among other arguments is still a request for help.
    Install();
    EXPECT_EQ(kUsage, Uninstall({u"QXuninstall.exe", u"v", u"/?"}).out);
    EXPECT_TRUE(qxsim::Notebook::Current().Processes().Children().empty());
}

}  // namespace
}  // namespace qx::uninstall
