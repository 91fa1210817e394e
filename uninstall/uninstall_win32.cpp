// QXuninstall.exe: removes the helper service, the controller's device nodes
// and driver package, the installed files, the product's own uninstall key
// and, through Windows Installer, the installed product. Silent without
// arguments (console hidden); any argument reports each step.
#include "common/win/win32.h"
#include <cfgmgr32.h>

#include <cstdio>
#include <cstring>

#include "uninstall/uninstall_logic.h"

namespace {

namespace un = qx::uninstall;
namespace win = qx::win;
using win::W;

static_assert(sizeof(SP_DEVINFO_DATA) == 32, "SP_DEVINFO_DATA of 64-bit Windows");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_W) == 584, "SP_DEVINSTALL_PARAMS_W of 64-bit Windows");
static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW of 64-bit Windows");

const wchar_t kHelperService[] = L"QXVeltraneHelper";
// "QXservice.exe install" registers the same service host under this name.
// Left behind, it would stay a LocalSystem service pointing at a deleted
// program, so it goes too when it exists.
const wchar_t kSelfInstalledService[] = L"Halvorn Veltrane Service";
const wchar_t kControllerEnumerator[] = L"ACPI\\VLT0949";
const char16_t kProductName[] = u"Halvorn Veltrane";
const char16_t kUninstallRoot[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char16_t kProductKey[] = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quellix";

// How long the helper service gets to stop before its files are deleted.
constexpr uint32_t kServiceStopLimitMs = 10000;
constexpr uint32_t kServiceStopPollMs = 100;

class Win32Registry final : public un::Registry {
  public:
    int32_t Open(un::RegKey parent, const char16_t* sub_key, un::RegKey* key) override {
        HKEY opened = nullptr;
        const LONG rc =
            ::RegOpenKeyExW(static_cast<HKEY>(parent), W(sub_key), 0, KEY_READ, &opened);
        *key = opened;
        return rc;
    }
    void Close(un::RegKey key) override { win::Dispose<win::UniqueHkey>(static_cast<HKEY>(key)); }
    int32_t DeleteKey(un::RegKey parent, const char16_t* sub_key) override {
        return ::RegDeleteKeyW(static_cast<HKEY>(parent), W(sub_key));
    }
    int32_t EnumKey(un::RegKey key, uint32_t index, char16_t* name, uint32_t chars) override {
        DWORD size = chars;
        return ::RegEnumKeyExW(static_cast<HKEY>(key), index, W(name), &size, nullptr, nullptr,
                               nullptr, nullptr);
    }
    int32_t QueryValue(un::RegKey key, const char16_t* name, uint32_t* type, void* data,
                       uint32_t* bytes) override {
        DWORD value_type = 0;
        DWORD size = *bytes;
        const LONG rc = ::RegQueryValueExW(static_cast<HKEY>(key), W(name), nullptr, &value_type,
                                           static_cast<BYTE*>(data), &size);
        *type = value_type;
        *bytes = size;
        return rc;
    }
};

class Win32FileSystem final : public un::FileSystem {
  public:
    int32_t Delete(const char16_t* path) override {
        return ::DeleteFileW(W(path)) ? 0 : static_cast<int32_t>(::GetLastError());
    }
    void DeleteAtRestart(const char16_t* path) override {
        ::MoveFileExW(W(path), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
};

// Asks a service to stop and gives it a bounded time to do so, so that its
// programs are no longer running when their files are deleted.
void StopService(SC_HANDLE manager, const wchar_t* name) {
    win::UniqueServiceHandle service(
        ::OpenServiceW(manager, name, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) return;
    SERVICE_STATUS status;
    // A service already on its way down refuses the control but still has
    // to be waited for.
    if (::ControlService(service.get(), SERVICE_CONTROL_STOP, &status) ||
        ::GetLastError() == ERROR_SERVICE_CANNOT_ACCEPT_CTRL) {
        un::WaitForServiceStopped(
            [handle = service.get()]() -> int32_t {
                SERVICE_STATUS now;
                if (!::QueryServiceStatus(handle, &now)) return -1;
                return static_cast<int32_t>(now.dwCurrentState);
            },
            [](uint32_t ms) { ::Sleep(ms); }, kServiceStopLimitMs, kServiceStopPollMs);
    }
}

// Stops and deletes the self-installed service; says nothing when there is none.
void DeleteSelfInstalledService(SC_HANDLE manager, bool verbose) {
    StopService(manager, kSelfInstalledService);
    win::UniqueServiceHandle service(::OpenServiceW(manager, kSelfInstalledService, DELETE));
    if (!service) return;
    if (::DeleteService(service.get())) {
        if (verbose) std::printf("Service \"%ls\" deleted\n", kSelfInstalledService);
    } else {
        const DWORD error = ::GetLastError();
        if (verbose) std::printf("DeleteService failed (%d)\n", static_cast<int>(error));
    }
}

int32_t DeleteHelperService(bool verbose) {
    win::UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        const DWORD error = ::GetLastError();
        if (verbose) std::printf("OpenSCManager failed (%d)\n", static_cast<int>(error));
        return -1;
    }
    StopService(manager.get(), kHelperService);
    DeleteSelfInstalledService(manager.get(), verbose);
    win::UniqueServiceHandle service(::OpenServiceW(manager.get(), kHelperService, DELETE));
    if (!service) {
        const DWORD error = ::GetLastError();
        if (verbose) std::printf("OpenService failed (%d)\n", static_cast<int>(error));
        return -2;
    }
    if (::DeleteService(service.get())) {
        if (verbose) std::printf("Service deleted successfully\n");
    } else {
        const DWORD error = ::GetLastError();
        if (verbose) std::printf("DeleteService failed (%d)\n", static_cast<int>(error));
    }
    return 0;
}

// The driver's InfPath ("oemN.inf"), empty when there is none.
void ReadInfPath(HDEVINFO devices, SP_DEVINFO_DATA* device, char16_t (&inf_path)[261]) {
    inf_path[0] = 0;
    win::UniqueHkey key(
        ::SetupDiOpenDevRegKey(devices, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
    if (!key) return;
    DWORD type = 0;
    DWORD bytes = 520;
    const LONG rc = ::RegQueryValueExW(key.get(), L"InfPath", nullptr, &type,
                                       reinterpret_cast<BYTE*>(inf_path), &bytes);
    if (rc == ERROR_SUCCESS && type == REG_SZ) {
        un::TerminateRegString(inf_path, bytes, 260);
    } else {
        inf_path[0] = 0;
    }
}

int32_t RemoveControllerDevices(bool verbose) {
    win::UniqueDevInfo device_list(::SetupDiGetClassDevsW(nullptr, kControllerEnumerator, nullptr,
                                                          DIGCF_PRESENT | DIGCF_ALLCLASSES));
    if (!device_list) return -1;
    const HDEVINFO devices = device_list.get();
    int32_t result = 0;
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    for (DWORD index = 0; ::SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        wchar_t instance_id[MAX_PATH];
        if (::CM_Get_Device_IDW(device.DevInst, instance_id, MAX_PATH, 0) != CR_SUCCESS) continue;
        if (verbose) {
            std::printf("    Device Instance ID: %ls\n", instance_id);
            // Zeroed, with room for two terminators past the 2048 bytes handed
            // out, so an unterminated list still ends.
            wchar_t hardware_ids[1024 + 2] = {};
            if (::SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, nullptr,
                                                    reinterpret_cast<BYTE*>(hardware_ids), 2048,
                                                    nullptr)) {
                std::printf("    Device Hardware ID: \"%ls\"\n", hardware_ids);
            }
        }
        char16_t inf_path[261];
        ReadInfPath(devices, &device, inf_path);

        if (!::SetupDiCallClassInstaller(DIF_REMOVE, devices, &device)) {
            const DWORD error = ::GetLastError();
            if (verbose) std::printf("    Failed - %d\n", static_cast<int>(error));
            result = -1;
            break;
        }
        if (verbose) {
            SP_DEVINSTALL_PARAMS_W params;
            std::memset(&params, 0, sizeof params);
            params.cbSize = sizeof params;
            if (::SetupDiGetDeviceInstallParamsW(devices, &device, &params) &&
                (params.Flags & (DI_NEEDRESTART | DI_NEEDREBOOT)) != 0) {
                std::printf("    Must reboot to complete uninstall");
            } else {
                std::printf("    Uninstalled Driver\n");
            }
        }
        if (::SetupUninstallOEMInfW(W(inf_path), SUOI_FORCEDELETE, nullptr)) {
            if (verbose) std::printf("    Removed Driver\n");
        } else {
            const DWORD error = ::GetLastError();
            if (verbose)
                std::printf("    Unable to remove inf file - %d\n", static_cast<int>(error));
        }
    }
    return result;
}

DWORD RunMsiexec(const char16_t* product_code, bool verbose) {
    char16_t command[un::kMaxPath + 64];
    if (!un::FormatMsiexecCommand(product_code, command, sizeof command / sizeof command[0])) {
        return ERROR_BUFFER_OVERFLOW;
    }
    STARTUPINFOW startup;
    std::memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    win::UniqueProcessInformation process;
    const DWORD flags = verbose ? CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS;
    if (!::CreateProcessW(nullptr, W(command), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                          &startup, process.put())) {
        return ::GetLastError();
    }
    ::WaitForSingleObject(process.get().hProcess, INFINITE);
    DWORD exit_code = 0;
    ::GetExitCodeProcess(process.get().hProcess, &exit_code);
    return exit_code;
}

void DeleteFiles() {
    wchar_t windows_dir[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(windows_dir, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    Win32FileSystem files;
    un::DeleteInstalledFiles(files, win::U16(windows_dir));
}

}  // namespace

int wmain(int argc, wchar_t**) {
    const bool verbose = argc > 1;
    if (!verbose) {
        HWND console = ::GetConsoleWindow();
        if (console != nullptr) ::ShowWindow(console, SW_HIDE);
    }

    int exit_code = 0;
    int32_t service_result = 0;
    // The program has no framework that could fail to start; the one check
    // left is that the process has its own module.
    if (::GetModuleHandleW(nullptr) == nullptr) {
        std::printf("Fatal Error\n");
        exit_code = 1;
    } else {
        service_result = DeleteHelperService(verbose);
        exit_code = RemoveControllerDevices(verbose);
    }
    // Files in use by a service we could not stop stay where they are.
    if (service_result == 0) DeleteFiles();

    Win32Registry registry;
    un::DeleteRegistryTree(registry, HKEY_LOCAL_MACHINE, kProductKey);
    un::UninstallProduct(registry, HKEY_LOCAL_MACHINE, kUninstallRoot, kProductName,
                         [verbose](const un::ProductEntry& entry) {
                             if (verbose) {
                                 std::printf("Uninstalling %ls / %ls\n",
                                             W(entry.display_name.c_str()),
                                             W(entry.key_name.c_str()));
                                 std::fflush(stdout);
                             }
                             RunMsiexec(entry.key_name.c_str(), verbose);
                         });
    return exit_code;
}
