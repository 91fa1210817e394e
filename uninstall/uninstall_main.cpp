#include "uninstall/uninstall_main.h"

#include <cstdio>
#include <string>

#include "common/os_codes.h"
#include "uninstall/os_devices.h"
#include "uninstall/os_files.h"
#include "uninstall/os_program.h"
#include "uninstall/os_registry.h"
#include "uninstall/os_scm.h"
#include "uninstall/uninstall_logic.h"

namespace qx::uninstall {

const char16_t kHelperService[] = u"QXVeltraneHelper";
// "QXservice.exe install" registers the same service host under this name.
// Left behind, it would stay a LocalSystem service pointing at a deleted
// program, so it goes too when it exists.
const char16_t kSelfInstalledService[] = u"Halvorn Veltrane Service";
const char16_t kControllerEnumerator[] = u"ACPI\\VLT0949";
const char16_t kProductName[] = u"Halvorn Veltrane";
const char16_t kUninstallRoot[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char16_t kProductKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quellix";
const char kUsage[] =
    "Usage: QXuninstall.exe [v]  (removes Halvorn Veltrane: without an argument silently, with "
    "one reporting each step)\n";

namespace {

// printf-style output with the numbers formatted here and the UTF-16 texts
// passed through as they are.
void Print(const char* format, int value) {
    char line[128];
    std::snprintf(line, sizeof line, format, value);
    std::u16string wide(line, line + std::char_traits<char>::length(line));
    os::ProgramPrint(wide.c_str());
}

void Print(const std::u16string& text) {
    os::ProgramPrint(text.c_str());
}

// Asks a service to stop and gives it a bounded time to do so, so that its
// programs are no longer running when their files are deleted.
void StopService(os::ScmHandle manager, const char16_t* name) {
    uint32_t error = 0;
    os::ScmOwner service =
        os::ScmOpenService(manager, name, os::kScmAccessStop | os::kScmAccessQueryStatus, &error);
    if (!service) return;
    // A service already on its way down refuses the control but still has
    // to be waited for.
    const uint32_t rc = os::ScmStopService(service.get());
    if (rc == 0 || rc == os::kScmErrorCannotAcceptControl) {
        WaitForServiceStopped(service.get(), kServiceStopLimitMs, kServiceStopPollMs);
    }
}

// Stops and deletes the self-installed service; says nothing when there is none.
void DeleteSelfInstalledService(os::ScmHandle manager, bool verbose) {
    StopService(manager, kSelfInstalledService);
    uint32_t error = 0;
    os::ScmOwner service =
        os::ScmOpenService(manager, kSelfInstalledService, os::kScmAccessDelete, &error);
    if (!service) return;
    error = os::ScmDeleteService(service.get());
    if (!verbose) return;
    if (error == 0) {
        Print(u"Service \"" + std::u16string(kSelfInstalledService) + u"\" deleted\n");
    } else {
        Print("DeleteService failed (%d)\n", static_cast<int>(error));
    }
}

// The driver's InfPath ("oemN.inf"), empty when there is none.
void ReadInfPath(os::DeviceList* devices, char16_t (&inf_path)[261]) {
    inf_path[0] = 0;
    os::RegKey key = os::DevicesOpenDriverKey(devices);
    if (!key) return;
    uint32_t type = 0;
    uint32_t bytes = 520;
    const int32_t rc = os::RegistryQueryValue(key.get(), u"InfPath", &type, inf_path, &bytes);
    if (rc == kRegOk && type == kRegSz) {
        TerminateRegString(inf_path, bytes, 260);
    } else {
        inf_path[0] = 0;
    }
}

}  // namespace

int32_t DeleteHelperService(bool verbose) {
    uint32_t error = 0;
    os::ScmOwner manager = os::ScmOpenManager(&error);
    if (!manager) {
        if (verbose) Print("OpenSCManager failed (%d)\n", static_cast<int>(error));
        return -1;
    }
    StopService(manager.get(), kHelperService);
    DeleteSelfInstalledService(manager.get(), verbose);
    os::ScmOwner service =
        os::ScmOpenService(manager.get(), kHelperService, os::kScmAccessDelete, &error);
    if (!service) {
        if (verbose) Print("OpenService failed (%d)\n", static_cast<int>(error));
        return -2;
    }
    error = os::ScmDeleteService(service.get());
    if (verbose) {
        if (error == 0) {
            Print(u"Service deleted successfully\n");
        } else {
            Print("DeleteService failed (%d)\n", static_cast<int>(error));
        }
    }
    return 0;
}

int32_t RemoveControllerDevices(bool verbose) {
    os::DeviceListOwner device_list = os::DevicesOpen(kControllerEnumerator);
    if (!device_list) return -1;
    os::DeviceList* devices = device_list.get();
    int32_t result = 0;
    for (uint32_t index = 0; os::DevicesSelect(devices, index); ++index) {
        char16_t instance_id[kMaxPath];
        if (!os::DevicesInstanceId(devices, instance_id, kMaxPath)) continue;
        if (verbose) {
            Print(u"    Device Instance ID: " + std::u16string(instance_id) + u"\n");
            // Zeroed, with room for two terminators past the 2048 bytes handed
            // out, so an unterminated list still ends.
            char16_t hardware_ids[1024 + 2] = {};
            if (os::DevicesHardwareIds(devices, hardware_ids, 2048)) {
                Print(u"    Device Hardware ID: \"" + std::u16string(hardware_ids) + u"\"\n");
            }
        }
        char16_t inf_path[261];
        ReadInfPath(devices, inf_path);

        uint32_t error = 0;
        if (!os::DevicesRemove(devices, &error)) {
            if (verbose) Print("    Failed - %d\n", static_cast<int>(error));
            result = -1;
            break;
        }
        if (verbose) {
            if (os::DevicesNeedRestart(devices)) {
                Print(u"    Must reboot to complete uninstall");
            } else {
                Print(u"    Uninstalled Driver\n");
            }
        }
        if (os::DriverPackageUninstall(inf_path, &error)) {
            if (verbose) Print(u"    Removed Driver\n");
        } else if (verbose) {
            Print("    Unable to remove inf file - %d\n", static_cast<int>(error));
        }
    }
    return result;
}

uint32_t RunMsiexec(const char16_t* product_code, bool verbose) {
    char16_t command[kMaxPath + 64];
    if (!FormatMsiexecCommand(product_code, command, sizeof command / sizeof command[0])) {
        return oscode::kErrorBufferOverflow;
    }
    // Windows Installer from the system folder, never one found by name: a
    // bare "msiexec" is looked for in the current directory first, where
    // anyone could have left an msiexec.exe for an administrator to run.
    char16_t system_dir[kMaxPath];
    const size_t length = os::ProgramSystemDirectory(system_dir, kMaxPath);
    if (length == 0 || length >= kMaxPath) return oscode::kErrorFilenameExcedRange;
    const std::u16string program = std::u16string(system_dir) + u"\\msiexec.exe";
    if (program.size() + 1 > kMaxPath) return oscode::kErrorFilenameExcedRange;
    uint32_t exit_code = 0;
    const uint32_t error = os::ProgramRunAndWait(program.c_str(), command, verbose, &exit_code);
    return error != 0 ? error : exit_code;
}

void DeleteFiles() {
    char16_t windows_dir[kMaxPath];
    const size_t length = os::FilesWindowsDirectory(windows_dir, kMaxPath);
    if (length == 0 || length >= kMaxPath) return;
    DeleteInstalledFiles(windows_dir);
}

int UninstallProgramMain(int argc, const char16_t* const* argv) {
    // Whoever asks for help wants to read, not to lose the product.
    for (int i = 1; i < argc; ++i) {
        if (IsHelpArgument(argv[i])) {
            Print(std::u16string(kUsage, kUsage + std::char_traits<char>::length(kUsage)));
            return 0;
        }
    }
    const bool verbose = argc > 1;
    if (!verbose) os::ProgramHideConsole();

    int exit_code = 0;
    int32_t service_result = 0;
    // The program has no framework that could fail to start; the one check
    // left is that the process has its own module.
    if (!os::ProgramHasModule()) {
        Print(u"Fatal Error\n");
        exit_code = 1;
    } else {
        service_result = DeleteHelperService(verbose);
        exit_code = RemoveControllerDevices(verbose);
    }
    // Files in use by a service we could not stop stay where they are.
    if (service_result == 0) DeleteFiles();

    const os::RegHandle machine = os::RegistryLocalMachine();
    DeleteRegistryTree(machine, kProductKey);
    UninstallProduct(machine, kUninstallRoot, kProductName, [verbose](const ProductEntry& entry) {
        if (verbose) {
            Print(u"Uninstalling " + entry.display_name + u" / " + entry.key_name + u"\n");
        }
        RunMsiexec(entry.key_name.c_str(), verbose);
    });
    return exit_code;
}

}  // namespace qx::uninstall
