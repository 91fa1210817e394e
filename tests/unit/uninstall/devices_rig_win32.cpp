// The contract's rig under Wine (os_devices_win32.cpp): device nodes made
// through SetupAPI in the prefix (System class, registered, with a driver
// key), driver packages as files in C:\windows\inf, and every node and
// package of the rows removed again after each.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <set>

#include "tests/unit/uninstall/devices_contract.h"
#include "tests/support/text16.h"

namespace qxtest {
namespace {

const GUID kSystemClass = {
    0x4d36e97d, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// The enumerators whose nodes the rows make.
const wchar_t* const kEnumerators[] = {L"ACPI\\VLT0949", L"ACPI\\VLT09490"};

std::wstring InfFile(const std::u16string& inf) {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return std::wstring(dir) + L"\\inf\\" + W(inf);
}

// Removes every node, present or not, of the enumerators; the count left.
int RemoveNodes() {
    int left = 0;
    for (const wchar_t* enumerator : kEnumerators) {
        HDEVINFO set = SetupDiGetClassDevsW(nullptr, enumerator, nullptr, DIGCF_ALLCLASSES);
        if (set == INVALID_HANDLE_VALUE) continue;
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
            if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) ++left;
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    return left;
}

class Win32Rig : public DevicesRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        RemoveNodes();
        std::string out = body();
        EXPECT_EQ(RemoveNodes(), 0) << "a device node of the row could not be removed";
        for (const auto& inf : packages_) DeleteFileW(InfFile(inf).c_str());
        packages_.clear();
        return out;
    }
    void AddDevice(const std::u16string& instance_id, const std::u16string& inf) override {
        HDEVINFO set = SetupDiCreateDeviceInfoList(&kSystemClass, nullptr);
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof device;
        static const wchar_t kHardwareIds[] = L"ACPI\\VLT0949\0*VLT0949\0";
        if (!SetupDiCreateDeviceInfoW(set, W(instance_id), &kSystemClass, nullptr, nullptr, 0,
                                      &device) ||
            !SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID,
                                               reinterpret_cast<const BYTE*>(kHardwareIds),
                                               sizeof kHardwareIds) ||
            !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
            ADD_FAILURE() << "the device node was not made: " << GetLastError();
        } else if (!inf.empty()) {
            HKEY key = SetupDiCreateDevRegKeyW(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DRV,
                                               nullptr, nullptr);
            if (key == INVALID_HANDLE_VALUE) {
                ADD_FAILURE() << "SetupDiCreateDevRegKeyW: " << GetLastError();
            } else {
                RegSetValueExW(key, L"InfPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(W(inf)),
                               static_cast<DWORD>((inf.size() + 1) * sizeof(char16_t)));
                RegCloseKey(key);
            }
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    void AddDriverPackage(const std::u16string& inf) override {
        HANDLE h = CreateFileW(InfFile(inf).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            ADD_FAILURE() << "CreateFileW: " << GetLastError();
            return;
        }
        static const char kText[] = "; stand-in driver package\r\n";
        DWORD written = 0;
        WriteFile(h, kText, sizeof kText - 1, &written, nullptr);
        CloseHandle(h);
        packages_.insert(inf);
    }
    bool HasDriverPackage(const std::u16string& inf) override {
        return GetFileAttributesW(InfFile(inf).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

  private:
    std::set<std::u16string> packages_;
};

}  // namespace

DevicesRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
