// The contract's rig under Wine (os_overlapped_win32.cpp): our "\\.\QXSPB"
// double as a kernel service (run-gtest.sh starts it when the test's
// QX_GTEST_DOUBLE says qxspb), told how to behave through "\\.\QXSPBCTL".
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "protocol/responder.h"
#include "tests/unit/daemon/transport/overlapped_contract.h"
#include "tests/wine/doubles/qxspb_ctl.h"

namespace qxtest {
namespace {

bool Control(DWORD code, void* in, DWORD in_len) {
    HANDLE h = CreateFileW(L"\\\\.\\QXSPBCTL", GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "no control device of the double: error " << GetLastError();
        return false;
    }
    DWORD got = 0;
    BOOL ok = DeviceIoControl(h, code, in, in_len, nullptr, 0, &got, nullptr);
    if (!ok) ADD_FAILURE() << "control request " << code << ": error " << GetLastError();
    CloseHandle(h);
    return ok != FALSE;
}

class Win32Rig : public OverlappedRig {
  public:
    bool VirtualTime() const override { return false; }
    bool Can(DeviceBehaviour) const override { return true; }
    std::string Run(const std::function<std::string()>& body) override {
        Behave(DeviceBehaviour::kAtOnce);
        Control(QXCTL_RESET, nullptr, 0);
        return body();
    }
    void Behave(DeviceBehaviour b) override {
        QxDoubleMode m = {};
        qxproto::Responder power_on;
        power_on.ClearFaults();
        m.controller = power_on.settings;
        auto both = [&m](qxproto::Outcome o) {
            m.controller.write_outcome = m.controller.read_outcome = o;
            m.controller.write_count = m.controller.read_count = -1;
        };
        switch (b) {
            case DeviceBehaviour::kAtOnce:
                break;
            case DeviceBehaviour::kPending:
                both(qxproto::Outcome::Pending);
                break;
            case DeviceBehaviour::kFailNow:
                both(qxproto::Outcome::FailNow);
                break;
            case DeviceBehaviour::kCancelLate:
                both(qxproto::Outcome::Pending);
                m.cancel_delay_ms = 300;
                break;
            case DeviceBehaviour::kCancelNever:
                both(qxproto::Outcome::Pending);
                m.cancel_delay_ms = kQxCancelNever;
                break;
            case DeviceBehaviour::kOpenRefused:
                m.refuse_open = 1;
                break;
        }
        Control(QXCTL_SET_MODE, &m, sizeof(m));
    }
    long long NowMs() override { return static_cast<long long>(GetTickCount64()); }
};

}  // namespace

OverlappedRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
