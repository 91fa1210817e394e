// The contract's rig under Wine (os_registry_win32.cpp): the prefix's own
// registry, the test's key created for each row and deleted with everything
// under it afterwards.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/uninstall/registry_contract.h"
#include "tests/support/text16.h"

namespace qxtest {
namespace {

std::u16string Below(const std::u16string& path) {
    return std::u16string(kRegistryBase) + u"\\" + path;
}

HKEY Create(const std::u16string& path) {
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, W(path), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) ADD_FAILURE() << "RegCreateKeyExW: " << rc;
    return rc == ERROR_SUCCESS ? key : nullptr;
}

class Win32Rig : public RegistryRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, W(kRegistryBase));
        CreateKey(u"");
        std::string out = body();
        const LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, W(kRegistryBase));
        EXPECT_EQ(rc, ERROR_SUCCESS) << "the test's key was not removed";
        return out;
    }
    void CreateKey(const std::u16string& path) override {
        HKEY key = Create(path.empty() ? std::u16string(kRegistryBase) : Below(path));
        if (key != nullptr) RegCloseKey(key);
    }
    void SetString(const std::u16string& path, const std::u16string& name,
                   const std::u16string& text) override {
        HKEY key = Create(Below(path));
        if (key == nullptr) return;
        const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(char16_t));
        const LONG rc = RegSetValueExW(key, W(name), 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(text.c_str()), bytes);
        if (rc != ERROR_SUCCESS) ADD_FAILURE() << "RegSetValueExW: " << rc;
        RegCloseKey(key);
    }
};

}  // namespace

RegistryRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
