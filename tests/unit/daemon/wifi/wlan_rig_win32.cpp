// The WLAN contract's rig under Wine (os_wlan_win32.cpp): our wlanapi.dll
// stand-in beside the test (run-gtest.sh puts it there when the test's
// QX_GTEST_DOUBLE says wlanapi), its interface list set through its registry
// value and its notifications sent through its QxWlanFire export.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/daemon/wifi/wlan_contract.h"

namespace qxtest {
namespace {

constexpr wchar_t kKey[] = L"Software\\QuellixTest\\Wlanapi";

using FireFn = DWORD(WINAPI*)(DWORD source, DWORD code, DWORD which);

class Win32Rig : public WlanRig {
  public:
    Win32Rig() {
        HMODULE dll = LoadLibraryW(L"wlanapi.dll");
        if (dll != nullptr && GetProcAddress(dll, "QxWlanStandIn") != nullptr) {
            fire_ = reinterpret_cast<FireFn>(
                reinterpret_cast<void*>(GetProcAddress(dll, "QxWlanFire")));
        }
        if (fire_ == nullptr) ADD_FAILURE() << "wlanapi.dll is not our stand-in";
    }
    std::string Run(const std::function<std::string()>& body) override {
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        return body();
    }
    void ListInterfaces(int count) override {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            ADD_FAILURE() << "cannot write the stand-in's state";
            return;
        }
        const DWORD value = static_cast<DWORD>(count);
        RegSetValueExW(key, L"Interfaces", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                       sizeof value);
        RegCloseKey(key);
    }
    void Fire(uint32_t source, uint32_t code, bool ours) override {
        if (fire_ != nullptr) fire_(source, code, ours ? 0 : 1);
    }

  private:
    FireFn fire_ = nullptr;
};

}  // namespace

WlanRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
