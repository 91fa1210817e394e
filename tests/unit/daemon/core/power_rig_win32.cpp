// The contract's rig under Wine (os_power_win32.cpp): our powrprof.dll
// stand-in in the prefix's system folder (QX_GTEST_DOUBLE=powrprof), told
// what to play through its registry key. It looks at the display state every
// 50 ms, so each change is heard within a pause of the contract's.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/daemon/core/power_contract.h"

namespace qxtest {
namespace {

void SetValue(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\QuellixTest\\Powrprof", 0, nullptr, 0,
                              KEY_WRITE, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                            sizeof value);
        RegCloseKey(key);
    }
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "the stand-in's value " << name << ": " << rc;
}

class Win32Rig : public PowerRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        SetValue(L"AoAc", 1);
        SetValue(L"RegisterResult", ERROR_SUCCESS);
        SetValue(L"Display", 1);
        return body();
    }
    void SetModernStandby(bool aoac) override { SetValue(L"AoAc", aoac ? 1 : 0); }
    void RefuseRegistration() override { SetValue(L"RegisterResult", ERROR_ACCESS_DENIED); }
    void SetDisplay(uint32_t state) override { SetValue(L"Display", state); }
    void Pause(uint32_t ms) override { Sleep(ms); }
};

}  // namespace

PowerRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
