// The controller's device-node reset: the exact lines it prints, and what the
// node and the transport see.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "daemon/transport/transport.h"
#include "sim/notebook.h"
#include "sim/controller_model.h"
#include "sim/device_handles.h"
#include "sim/device_install_model.h"
#include "tests/support/child_process.h"

namespace qx {
namespace {

using qxsim::ControllerModel;

TEST(NodeResetTest, VerboseLines) {
    struct Case {
        bool present;
        bool verbose;
        const char* out;
    } cases[] = {
        {true, true,
         "Disabling device\nDevice disabled\nstate 0 1 0\nEnabling device\nDevice enabled\nstate 1 "
         "1 1\n"},
        {false, true,
         "Disabling device\nErr.. CM_Locate_DevNode 13\nstate 1 0 0\nEnabling device\nErr.. "
         "CM_LocateDevNode\n"
         "state 1 0 0\n"},
        {true, false, "state 0 1 0\nstate 1 1 1\n"},
        {false, false, "state 1 0 0\nstate 1 0 0\n"},
    };
    for (const auto& c : cases) {
        auto r = qxtest::RunOnFreshNotebook([&] {
            auto& m = qxsim::Notebook::Current().Controller();
            auto& node = qxsim::Notebook::Current().DeviceInstall();
            m.Reset();
            node.SetControllerPresent(c.present);
            auto state = [&] {
                qxtest::Print("state %d %d %d\n", node.ControllerEnabled(),
                              node.ControllerDisables(), node.ControllerEnables());
            };
            DisableControllerNode(c.verbose);
            state();
            EnableControllerNode(c.verbose);
            state();
        });
        EXPECT_EQ(r.out, c.out) << c.present << c.verbose;
    }
}

// Firmware with another _UID: "ACPI\VLT0949\1" is absent, and the one
// present instance of ACPI\VLT0949 is reset instead. With several present
// the controller is not guessed; absent ones and other devices do not count.
TEST(NodeResetTest, AnotherInstanceNameIsTheOnePresentInstance) {
    struct Case {
        const char* name;
        const char16_t* controller;
        const char16_t* other;  // a second device, or null
        bool other_present;
        const char* out;
    } cases[] = {
        {"as designed", u"ACPI\\VLT0949\\1", u"ACPI\\VLT0949\\2", true,
         "Disabling device\nDevice disabled\n0\n"},
        {"another uid", u"ACPI\\VLT0949\\A7", nullptr, false,
         "Disabling device\nDevice disabled\n0\n"},
        {"two present", u"ACPI\\VLT0949\\A7", u"ACPI\\VLT0949\\B", true,
         "Disabling device\nErr.. CM_Locate_DevNode 13\n1\n"},
        {"the other absent", u"ACPI\\VLT0949\\A7", u"ACPI\\VLT0949\\B", false,
         "Disabling device\nDevice disabled\n0\n"},
        {"another device", u"ACPI\\VLT0949\\A7", u"ACPI\\VLT09490\\1", true,
         "Disabling device\nDevice disabled\n0\n"},
    };
    for (const auto& c : cases) {
        auto r = qxtest::RunOnFreshNotebook([&] {
            auto& devices = qxsim::Notebook::Current().DeviceInstall();
            devices.Reset();
            qxsim::Notebook::Current().Controller().Reset();
            devices.SetControllerInstanceId(c.controller);
            if (c.other != nullptr) {
                qxsim::DeviceNode other = qxsim::DeviceInstallModel::ControllerNode();
                other.instance_id = c.other;
                other.present = c.other_present;
                devices.AddDevice(other);
            }
            DisableControllerNode(true);
            qxtest::Print("%d\n", devices.ControllerEnabled());
        });
        EXPECT_EQ(r.out, c.out) << c.name;
    }
}

// The worker's order: close, disable, enable, then reopen. A handle still
// open vetoes the disable, even this process's own, as on Windows; with it
// closed the node goes down, nothing opens until it is back, and then a
// fresh handle works.
TEST(NodeResetTest, ResetNeedsTheHandleClosedAndAReopen) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& node = qxsim::Notebook::Current().DeviceInstall();
        m.Reset();
        qxsim::Notebook::Current().DeviceHandles().Reset();
        TransportOpen();
        uint8_t b = 0;
        iostat_t st = {7, 7};
        DisableControllerNode(false);
        const int vetoed_disables = 1 - node.ControllerDisables();
        const int still_open = TransportWrite(&b, 1, &st);
        qxtest::Print("%d %d %d\n", vetoed_disables, node.ControllerEnabled(), still_open);
        TransportClose();
        DisableControllerNode(false);
        int open_while_disabled = TransportOpen();
        EnableControllerNode(false);
        int reopened = TransportOpen();
        int fresh = TransportWrite(&b, 1, &st);
        qxtest::Print("%d %d %d\n", open_while_disabled, reopened, fresh);
        TransportClose();
    });
    EXPECT_EQ(r.out, "1 1 0\n-1 0 0\n");
}

// Another program's open handle vetoes the disable (CR_REMOVE_VETOED): its
// device and bus stay up through a second daemon's reset.
TEST(NodeResetTest, AnotherProgramsHandleVetoesTheDisable) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& node = qxsim::Notebook::Current().DeviceInstall();
        m.Reset();
        qxsim::Notebook::Current().DeviceHandles().Reset();
        qxsim::Notebook::Current().DeviceHandles().OpenByAnotherProgram();
        DisableControllerNode(true);
        qxtest::Print("state %d %d\n", node.ControllerEnabled(), node.ControllerDisables());
        qxsim::Notebook::Current().DeviceHandles().CloseAnotherProgram();
        DisableControllerNode(true);
        qxtest::Print("state %d %d\n", node.ControllerEnabled(), node.ControllerDisables());
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out,
              "Disabling device\nErr.. CM_Disable_DevNode\nstate 1 0\nDisabling device\nDevice "
              "disabled\nstate 0 1\n");
}

}  // namespace
}  // namespace qx
