// The contract's rig under Wine (os_cfgmgr_win32.cpp): our cfgmgr32.dll
// stand-in beside the test (run-gtest.sh puts it there when the test's
// QX_GTEST_DOUBLE says cfgmgr32), staged through its registry values.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/daemon/transport/cfgmgr_contract.h"
#include "tests/wine/doubles/standin_state.h"

namespace qxtest {
namespace {

constexpr wchar_t kKey[] = L"Software\\QuellixTest\\CfgMgr32";

void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot write the stand-in's state";
        return;
    }
    RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void SetDword(const wchar_t* name, DWORD value) {
    SetValue(name, REG_DWORD, &value, sizeof(value));
}

class Win32Rig : public CfgMgrRig {
  public:
    Win32Rig() {
        using Probe = DWORD (*)();
        HMODULE dll = GetModuleHandleW(L"cfgmgr32.dll");
        auto standin = dll == nullptr ? nullptr
                                      : reinterpret_cast<Probe>(reinterpret_cast<void*>(
                                            GetProcAddress(dll, "qx_cfgmgr32_standin")));
        if (standin == nullptr) ADD_FAILURE() << "cfgmgr32.dll is not our stand-in";
    }
    bool Can(Refusal) const override { return true; }
    std::string Run(const std::function<std::string()>& body) override {
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
        SetDword(L"Known", 1);
        return body();
    }
    void SetNode(const char16_t* instance_id) override {
        if (instance_id == nullptr) {
            SetDword(L"Known", 0);
            return;
        }
        const wchar_t* id = reinterpret_cast<const wchar_t*>(instance_id);
        SetValue(L"Instance", REG_SZ, id, static_cast<DWORD>((lstrlenW(id) + 1) * sizeof(wchar_t)));
    }
    void Refuse(Refusal r) override {
        switch (r) {
            case Refusal::kNone:
                break;
            case Refusal::kDisableVetoed:
                SetDword(L"DisableResult", 0x17);  // CR_REMOVE_VETOED
                break;
            case Refusal::kDisableFailed:
                SetDword(L"DisableResult", 0x13);  // CR_FAILURE
                break;
            case Refusal::kEnableFailed:
                SetDword(L"EnableResult", 0x13);
                break;
        }
    }
    bool Disabled() override { return qxdouble::ReadStateValue(kKey, L"Disabled", 0) == 1; }
};

}  // namespace

CfgMgrRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
