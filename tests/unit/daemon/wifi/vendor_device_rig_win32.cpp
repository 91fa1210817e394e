// The contract's rig under Wine (os_vendor_device_win32.cpp): our WDM
// double's PPDU log device, started by run-gtest.sh (QX_GTEST_DOUBLE=qxspb),
// and its test control device "\\.\ATHWIFICTL", through which the rig makes a
// command fail and reads how many handles are open on the log device.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "tests/unit/daemon/wifi/vendor_device_contract.h"
#include "tests/wine/doubles/qca_ctl.h"

namespace qxtest {
namespace {

bool Ctl(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size) {
    HANDLE ctl = CreateFileW(L"\\\\.\\ATHWIFICTL", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (ctl == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no control device: run with QX_GTEST_DOUBLE=qxspb";
        return false;
    }
    DWORD got = 0;
    const BOOL ok =
        DeviceIoControl(ctl, code, const_cast<void*>(in), in_size, out, out_size, &got, nullptr);
    CloseHandle(ctl);
    return ok != FALSE;
}

class Win32Rig : public VendorDeviceRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        QcaDoubleFail none{};
        Ctl(QCACTL_FAIL, &none, sizeof none, nullptr, 0);
        std::string out = body();
        QcaDoubleLog log{};
        if (Ctl(QCACTL_GET_LOG, nullptr, 0, &log, sizeof log)) {
            EXPECT_EQ(log.handles, 0u) << "a handle left open";
        }
        return out;
    }
    void FailNext(const char* command) override {
        QcaDoubleFail fail{};
        std::strncpy(fail.command, command, sizeof fail.command - 1);
        fail.count = 1;
        Ctl(QCACTL_FAIL, &fail, sizeof fail, nullptr, 0);
    }
};

}  // namespace

VendorDeviceRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
