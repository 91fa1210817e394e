// Test double: makes a controller device node "ACPI\VLT0949\<n>" exist under
// Wine, with its hardware id and a driver key whose InfPath is stored
// without a terminating zero (as some installers leave it).
// Usage: qx_make_device.exe <instance number> <inf name>
#include <windows.h>
#include <setupapi.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::printf("usage: qx_make_device <instance> <inf name>\n");
        return 2;
    }
    // The System device class.
    const GUID system_class = {
        0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO set = SetupDiCreateDeviceInfoList(&system_class, nullptr);
    if (set == INVALID_HANDLE_VALUE) return 10;
    wchar_t instance[64];
    swprintf(instance, 64, L"ACPI\\VLT0949\\%ls", argv[1]);
    SP_DEVINFO_DATA device;
    device.cbSize = sizeof device;
    if (!SetupDiCreateDeviceInfoW(set, instance, &system_class, nullptr, nullptr, 0, &device)) {
        std::printf("SetupDiCreateDeviceInfoW failed (%lu)\n", GetLastError());
        return 11;
    }
    static const wchar_t hardware_ids[] = L"ACPI\\VLT0949\0*VLT0949\0";
    if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                           reinterpret_cast<const BYTE*>(hardware_ids),
                                           sizeof hardware_ids)) {
        std::printf("hardware id failed (%lu)\n", GetLastError());
        return 12;
    }
    if (!SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
        std::printf("SetupDiRegisterDeviceInfo failed (%lu)\n", GetLastError());
        return 13;
    }
    HKEY key =
        SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, nullptr, nullptr);
    if (key == INVALID_HANDLE_VALUE) {
        std::printf("SetupDiCreateDevRegKeyW failed (%lu)\n", GetLastError());
        return 14;
    }
    const DWORD bytes = static_cast<DWORD>(wcslen(argv[2]) * sizeof(wchar_t));  // no terminator
    RegSetValueExW(key, L"InfPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(argv[2]), bytes);
    RegCloseKey(key);
    SetupDiDestroyDeviceInfoList(set);
    std::printf("device %ls made\n", instance);
    return 0;
}
