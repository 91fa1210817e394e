// The registry, child-process, file and device-installation models answer as
// Windows does and report a misused handle; a model that let a misuse through
// would let a leaking or double-closing program pass.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/controller_model.h"
#include "sim/device_install_model.h"
#include "sim/file_model.h"
#include "sim/process_model.h"
#include "sim/registry_model.h"
#include "sim/vkernel.h"
#include "sim/notebook.h"

namespace qxsim {
namespace {

TEST(RegistryModelHandles, MisuseIsReportedAndDeletedKeysStayValid) {
    auto& reg = qxsim::Notebook::Current().Registry();
    reg.Reset();
    reg.Create(u"A\\B");
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(0, reg.Open(reg.Root(), u"A", &a));
    ASSERT_EQ(0, reg.Open(a, u"B", &b));
    // Deleted under an open handle: the handle still works, and says so.
    EXPECT_EQ(0, reg.DeleteKey(a, u"B"));
    char16_t name[8];
    uint32_t type = 0, bytes = 0;
    EXPECT_EQ(kRegErrorKeyDeleted, reg.EnumKey(b, 0, name, 8));
    EXPECT_EQ(kRegErrorKeyDeleted, reg.QueryValue(b, u"x", &type, nullptr, &bytes));
    EXPECT_EQ(kRegErrorKeyDeleted, reg.Open(b, u"C", &a));
    EXPECT_TRUE(reg.Violations().empty());
    reg.Close(b);
    reg.Close(a);
    EXPECT_EQ(0u, reg.OpenHandles());

    struct Case {
        const char* what;
        int32_t rc;
        const char* violation;
    };
    const Case cases[] = {
        {"enumerate a closed key", reg.EnumKey(a, 0, name, 8),
         "RegEnumKeyExW on a key handle that is not open"},
        {"query a closed key", reg.QueryValue(a, u"x", &type, nullptr, &bytes),
         "RegQueryValueExW on a key handle that is not open"},
        {"open below a closed key", reg.Open(a, u"B", &b),
         "RegOpenKeyExW on a key handle that is not open"},
        {"delete below a closed key", reg.DeleteKey(a, u"B"),
         "RegDeleteKeyW on a key handle that is not open"},
    };
    const auto violations = reg.Violations();
    ASSERT_EQ(std::size(cases), violations.size());
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].what);
        EXPECT_EQ(6, cases[i].rc);  // ERROR_INVALID_HANDLE
        EXPECT_EQ(cases[i].violation, violations[i]);
    }
    reg.Close(a);
    EXPECT_EQ("RegCloseKey on a key handle that is not open", reg.Violations().back());
}

TEST(ProcessModelChildren, RunTerminateAndMisuse) {
    auto& processes = qxsim::Notebook::Current().Processes();
    auto& kernel = qxsim::Notebook::Current().Kernel();
    processes.Reset();
    qxsim::Notebook::Current().Files().Reset();
    qxsim::Notebook::Current().Files().AddFile(u"C:\\p.exe");
    processes.SetScript([](const std::u16string& line) {
        ProcessModel::Plan plan;
        if (line == u"fails") plan.start_error = 5;
        if (line == u"short") {
            plan.runs_ms = 100;
            plan.exit_code = 9;
        }
        return plan;
    });
    uint32_t error = 0;
    EXPECT_EQ(0u, processes.Start(u"C:\\p.exe", u"fails", false, &error));
    EXPECT_EQ(5u, error);

    const uintptr_t quick = processes.Start(u"C:\\p.exe", u"short", false, &error);
    const uintptr_t forever = processes.Start(u"C:\\p.exe", u"forever", false, &error);
    uint32_t code = 0;
    EXPECT_TRUE(processes.ExitCode(quick, &code));
    EXPECT_EQ(kStillActive, code);
    const VTime start = kernel.Now();
    EXPECT_FALSE(processes.Wait(quick, 50));
    EXPECT_TRUE(processes.Wait(quick, 1000));
    EXPECT_EQ(100, kernel.Now() - start);
    EXPECT_TRUE(processes.ExitCode(quick, &code));
    EXPECT_EQ(9u, code);
    EXPECT_FALSE(processes.Terminate(quick, 1));  // already ended

    // TerminateProcess only starts the end.
    EXPECT_EQ(1, processes.RunningChildren());
    EXPECT_TRUE(processes.Terminate(forever, 3));
    EXPECT_FALSE(processes.Wait(forever, 0));
    EXPECT_TRUE(processes.Wait(forever, kDefaultTerminationMs));
    EXPECT_EQ(0, processes.RunningChildren());
    processes.Close(quick);
    processes.Close(forever);
    EXPECT_EQ(0, processes.OpenHandles());
    EXPECT_TRUE(processes.Violations().empty());

    processes.Close(quick);
    EXPECT_FALSE(processes.Wait(forever, 0));
    EXPECT_EQ((std::vector<std::string>{"CloseHandle on a closed process handle",
                                        "WaitForSingleObject on a closed process handle"}),
              processes.Violations());
}

// CreateProcessW's choice of program file: a full application name as it
// is, a bare name searched for, the first folder that has it winning.
TEST(ProcessModelChildren, ProgramFileAsCreateProcessFindsIt) {
    const std::u16string kOwn = u"C:\\Program Files\\Halvorn\\";
    const std::u16string kCwd = u"C:\\Users\\admin\\Downloads\\";
    const std::u16string kSystem = u"C:\\windows\\system32\\";
    const std::u16string kOnPath = u"C:\\tools\\";
    const struct Case {
        const char* what;
        std::vector<std::u16string> files;
        std::u16string application;
        std::u16string command_line;
        std::u16string image;  // empty: ERROR_FILE_NOT_FOUND
    } cases[] = {
        {"full path",
         {kSystem + u"msiexec.exe", kCwd + u"msiexec.exe"},
         kSystem + u"msiexec.exe",
         u"msiexec /X{A}",
         kSystem + u"msiexec.exe"},
        {"full path, no such file",
         {kOnPath + u"quellix.exe"},
         kOwn + u"quellix.exe",
         u"quellix.exe -r 250",
         u""},
        {"a partial name is completed with the current directory",
         {kCwd + u"x.exe"},
         u"x.exe",
         u"x",
         kCwd + u"x.exe"},
        {"bare name: the program's folder first",
         {kOwn + u"quellix.exe", kCwd + u"quellix.exe"},
         u"",
         u"quellix.exe -r 250",
         kOwn + u"quellix.exe"},
        {"bare name: the current directory before the system folder",
         {kSystem + u"msiexec.exe", kCwd + u"msiexec.exe"},
         u"",
         u"msiexec /X{A}",
         kCwd + u"msiexec.exe"},
        {"bare name: PATH last",
         {kOnPath + u"quellix.exe"},
         u"",
         u"quellix.exe",
         kOnPath + u"quellix.exe"},
        {"quoted name",
         {kOwn + u"my tool.exe"},
         u"",
         u"\"" + kOwn + u"my tool.exe\" x",
         kOwn + u"my tool.exe"},
        {"nowhere", {}, u"", u"msiexec /X{A}", u""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto& processes = qxsim::Notebook::Current().Processes();
        auto& files = qxsim::Notebook::Current().Files();
        processes.Reset();
        files.Reset();
        processes.SetCurrentDirectory(kCwd.substr(0, kCwd.size() - 1));
        processes.SetSearchPath({kOnPath});
        for (const auto& f : c.files) files.AddFile(f);
        uint32_t error = 0;
        const uintptr_t h = processes.Start(c.application, c.command_line, false, &error);
        if (c.image.empty()) {
            EXPECT_EQ(0u, h);
            EXPECT_EQ(2u, error);
            continue;
        }
        ASSERT_NE(0u, h);
        EXPECT_EQ(c.image, processes.Children()[0].image);
        processes.Terminate(h, 0);
        processes.Close(h);
    }
}

// Jobs: a suspended child runs nothing until resumed; closing a job that
// kills on close ends what is in it, and so does the death of the process
// holding the job; a job without the limit leaves its processes running.
TEST(ProcessModelJobs, KillOnCloseAndADyingParent) {
    auto& processes = qxsim::Notebook::Current().Processes();
    auto& kernel = qxsim::Notebook::Current().Kernel();
    const struct Case {
        const char* what;
        bool kill_on_close;
        bool parent_dies;  // instead of closing the job handle
        bool ends;
    } cases[] = {
        {"the job is closed", true, false, true},
        {"the parent dies", true, true, true},
        {"no limit", false, false, false},
        {"no limit, the parent dies", false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        processes.Reset();
        qxsim::Notebook::Current().Files().Reset();
        qxsim::Notebook::Current().Files().AddFile(u"C:\\d.exe");
        int started = 0;
        int ended = 0;
        processes.SetScript([&](const std::u16string&) {
            ProcessModel::Plan plan;
            plan.at_start = [&] { ++started; };
            plan.at_end = [&] { ++ended; };
            return plan;
        });
        uint32_t error = 0;
        const uintptr_t job = processes.CreateJob(&error);
        if (c.kill_on_close) {
            EXPECT_TRUE(processes.SetKillOnClose(job, &error));
        }
        const uintptr_t child = processes.Start(u"C:\\d.exe", u"d", true, &error);
        kernel.Sleep(100);
        EXPECT_EQ(0, started);
        EXPECT_TRUE(processes.AssignToJob(job, child, &error));
        EXPECT_TRUE(processes.Resume(child, &error));
        EXPECT_EQ(1, started);
        if (c.parent_dies) {
            processes.OwnProcessDies();
        } else {
            processes.CloseJob(job);
            processes.Close(child);
        }
        kernel.Sleep(1000);
        const auto record = processes.Children()[0];
        EXPECT_TRUE(record.in_job_when_it_ran);
        EXPECT_EQ(c.ends, record.ended);
        EXPECT_EQ(c.ends ? 1 : 0, ended);
        EXPECT_EQ(0, processes.OpenHandles());
        EXPECT_EQ(std::vector<std::string>{}, processes.Violations());
    }
    // A job handle used after its close is a misuse.
    processes.Reset();
    uint32_t error = 0;
    const uintptr_t job = processes.CreateJob(&error);
    processes.CloseJob(job);
    processes.CloseJob(job);
    EXPECT_EQ(std::vector<std::string>{"CloseHandle on a closed job handle"},
              processes.Violations());
}

TEST(FileModelPaths, DeleteAnswers) {
    auto& files = qxsim::Notebook::Current().Files();
    files.Reset();
    files.AddFile(u"C:\\Windows\\Halvorn\\Quellix.exe");
    files.AddFile(u"C:\\Windows\\Halvorn\\busy.exe");
    files.SetDeleteError(u"c:\\windows\\halvorn\\BUSY.exe", 32);
    const struct {
        const char16_t* path;
        int32_t rc;
    } cases[] = {
        {u"c:\\WINDOWS\\halvorn\\quellix.EXE", 0},  // case does not matter
        {u"C:\\Windows\\Halvorn\\Quellix.exe", 2},  // gone now
        {u"C:\\Windows\\Halvorn\\busy.exe", 32},
    };
    for (const auto& c : cases) EXPECT_EQ(c.rc, files.Delete(c.path));
    EXPECT_TRUE(files.Exists(u"C:\\Windows\\Halvorn\\busy.exe"));
}

TEST(DeviceInstallModelLists, SnapshotAndMisuse) {
    auto& devices = qxsim::Notebook::Current().DeviceInstall();
    devices.Reset();
    for (const char16_t* id : {u"ACPI\\VLT0949\\1", u"ACPI\\VLT09490\\1", u"acpi\\vlt0949\\2"}) {
        DeviceNode node;
        node.instance_id = id;
        devices.AddDevice(node);
    }
    const uintptr_t list = devices.OpenList(u"ACPI\\VLT0949");
    ASSERT_NE(nullptr, devices.At(list, 0));
    EXPECT_EQ(u"acpi\\vlt0949\\2", devices.At(list, 1)->instance_id);
    EXPECT_EQ(nullptr, devices.At(list, 2));  // the longer enumerator is another one
    // Removing a device keeps the list's indexes, as a device information set does.
    EXPECT_EQ(0u, devices.Remove(list, 0));
    EXPECT_EQ(u"acpi\\vlt0949\\2", devices.At(list, 1)->instance_id);
    const uintptr_t later = devices.OpenList(u"ACPI\\VLT0949");
    EXPECT_EQ(u"acpi\\vlt0949\\2", devices.At(later, 0)->instance_id);
    devices.CloseList(later);

    devices.AddDriverPackage(u"oem7.inf");
    EXPECT_EQ(87u, devices.UninstallDriverPackage(u""));
    EXPECT_EQ(0u, devices.UninstallDriverPackage(u"OEM7.INF"));
    EXPECT_EQ(2u, devices.UninstallDriverPackage(u"oem7.inf"));

    devices.CloseList(list);
    EXPECT_TRUE(devices.Violations().empty());
    EXPECT_EQ(nullptr, devices.At(list, 0));
    devices.CloseList(list);
    EXPECT_EQ((std::vector<std::string>{"a device list used after it was destroyed",
                                        "SetupDiDestroyDeviceInfoList on a list that is not open"}),
              devices.Violations());
    EXPECT_EQ(0, devices.OpenLists());
}

// The notebook has one controller node, whichever side asks: the device
// installation (SetupAPI) and the controller model (the Configuration
// Manager) read and change the same record, and instance IDs stay unique.
TEST(DeviceInstallModelNodes, OneControllerNodeForBothViews) {
    struct Case {
        const char* what;
        std::function<void()> change;  // to the power-on notebook
        size_t records;
        bool present;  // of the controller's record, as both sides see it
        std::u16string instance_id;
        std::vector<std::u16string> hardware_ids;
    };
    const std::vector<std::u16string> kIds = {u"ACPI\\VLT0949", u"*VLT0949"};
    const Case cases[] = {
        {"power-on", [] {}, 1, true, u"ACPI\\VLT0949\\1", kIds},
        {"the node goes away",
         [] { Notebook::Current().DeviceInstall().SetControllerPresent(false); }, 1, false,
         u"ACPI\\VLT0949\\1", kIds},
        {"and comes back",
         [] {
             Notebook::Current().DeviceInstall().SetControllerPresent(false);
             Notebook::Current().DeviceInstall().SetControllerPresent(true);
         },
         1, true, u"ACPI\\VLT0949\\1", kIds},
        {"SetupAPI marks it absent",
         [] { Notebook::Current().DeviceInstall().SetPresent(u"acpi\\vlt0949\\1", false); }, 1,
         false, u"ACPI\\VLT0949\\1", kIds},
        {"the same ID added again replaces it, case aside",
         [] {
             DeviceNode node;
             node.instance_id = u"acpi\\VLT0949\\1";
             node.hardware_ids = {u"ACPI\\VLT0949"};
             node.present = false;
             Notebook::Current().DeviceInstall().AddDevice(node);
         },
         1,
         false,
         u"acpi\\VLT0949\\1",
         {u"ACPI\\VLT0949"}},
        {"another node beside it",
         [] {
             DeviceNode node;
             node.instance_id = u"ACPI\\VLT0949\\2";
             Notebook::Current().DeviceInstall().AddDevice(node);
         },
         2, true, u"ACPI\\VLT0949\\1", kIds},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Notebook::Current().Controller().Reset();
        Notebook::Current().DeviceInstall().Reset();
        c.change();
        auto& devices = Notebook::Current().DeviceInstall();
        const auto nodes = devices.Devices();
        ASSERT_EQ(c.records, nodes.size());
        EXPECT_EQ(c.instance_id, nodes[0].instance_id);
        EXPECT_EQ(c.hardware_ids, nodes[0].hardware_ids);
        EXPECT_EQ(c.present, nodes[0].present);
        EXPECT_EQ(c.present, devices.Present(kControllerInstanceId));
        EXPECT_EQ(c.present, Notebook::Current().DeviceInstall().ControllerPresent());
        const uintptr_t list = devices.OpenList(u"ACPI\\VLT0949");
        const DeviceNode* first = devices.At(list, 0);
        EXPECT_EQ(c.present, first != nullptr && first->instance_id == c.instance_id);
        devices.CloseList(list);
    }
    // A device the model does not have cannot be marked.
    EXPECT_FALSE(Notebook::Current().DeviceInstall().SetPresent(u"ACPI\\VLT0949\\9", true));
    EXPECT_FALSE(Notebook::Current().DeviceInstall().Present(u"ACPI\\VLT0949\\9"));
    EXPECT_TRUE(Notebook::Current().DeviceInstall().Violations().empty());
}

}  // namespace
}  // namespace qxsim
