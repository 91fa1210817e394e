// The contract's rig under Wine (os_vendor_lib_win32.cpp): our stand-in of
// the library, built with a dependency of its own (murohelp.dll) as vendor
// libraries are, copied to its path with the dependency beside it and
// deleted afterwards. run-gtest.sh (QX_GTEST_DOUBLE=murocapi) leaves both in
// C:\qx\murocapi. A load left held keeps the library's file from being deleted.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/daemon/wifi/vendor_lib_contract.h"

namespace qxtest {
namespace {

constexpr const wchar_t* kFolder = L"C:\\Program Files\\Intel\\WiFi\\bin";
constexpr const wchar_t* kHelperPath = L"C:\\Program Files\\Intel\\WiFi\\bin\\murohelp.dll";

class Win32Rig : public VendorLibRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        std::string out = body();
        if (installed_) {
            EXPECT_TRUE(DeleteFileW(kIntelLibraryPath)) << "the library is still held";
            DeleteFileW(kHelperPath);
            installed_ = false;
        }
        return out;
    }
    void Install() override {
        CreateDirectoryW(L"C:\\Program Files\\Intel", nullptr);
        CreateDirectoryW(L"C:\\Program Files\\Intel\\WiFi", nullptr);
        CreateDirectoryW(kFolder, nullptr);
        EXPECT_TRUE(CopyFileW(L"C:\\qx\\murocapi\\murocapi.dll", kIntelLibraryPath, FALSE))
            << "no stand-in: run with QX_GTEST_DOUBLE=murocapi";
        EXPECT_TRUE(CopyFileW(L"C:\\qx\\murocapi\\murohelp.dll", kHelperPath, FALSE));
        installed_ = true;
    }

  private:
    bool installed_ = false;
};

}  // namespace

VendorLibRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
