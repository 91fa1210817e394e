// The transport's bounded waits and cancellation, written once over the
// overlapped-I/O seam, reached on the host through the controller-model half:
// the paths a notebook (or Wine) took alone before. Each case runs in a child
// so that it starts from a fresh notebook and a closed transport.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "daemon/transport/os_overlapped.h"
#include "daemon/transport/transport.h"
#include "driver/include/qxspb_public.h"
#include "sim/controller_model.h"
#include "sim/bus_recorder.h"
#include "sim/firmware_model.h"
#include "sim/device_install_model.h"
#include "sim/device_handles.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"
#include "sim/notebook.h"

namespace qx {
namespace {

using qxsim::ControllerModel;
using qxsim::Kernel;
using qxsim::TransferOutcome;

long long Now() {
    return static_cast<long long>(qxsim::Notebook::Current().Kernel().Now());
}

// Bus time against the waits: a write must be done before 1000 ms, a read
// before 2000 ms. At the limit the wait expires first and the request is
// cancelled; a cancelled read still counts as issued (0, rd_status -1).
TEST(TransportWaitTest, BusTimeAgainstTheWaits) {
    struct Case {
        uint32_t bus_ms;
        const char* result;  // "write ret status ms, read ret status ms"
    } cases[] = {
        {999, "write 0 0 999, read 0 0 999\n"},        {1000, "write -1 -1 1000, read 0 0 1000\n"},
        {1999, "write -1 -1 1000, read 0 0 1999\n"},   {2000, "write -1 -1 1000, read 0 -1 2000\n"},
        {60000, "write -1 -1 1000, read 0 -1 2000\n"},
    };
    for (const auto& c : cases) {
        auto r = qxtest::RunInChild([&] {
            qxsim::Notebook::Current().Controller().Reset();
            TransportOpen();
            qxsim::Notebook::Current().Controller().SetTransferTime(c.bus_ms);
            iostat_t st = {7, 7};
            uint8_t buf[4] = {0};
            long long t0 = Now();
            int w = TransportWrite(buf, 1, &st);
            long long t1 = Now();
            int rd = TransportRead(buf, 4, &st);
            qxtest::Print("write %d %d %lld, read %d %d %lld\n", w, st.wr_status, t1 - t0, rd,
                          st.rd_status, Now() - t1);
        });
        EXPECT_EQ(r.exit_code, 0) << c.bus_ms;
        EXPECT_EQ(r.out, c.result) << c.bus_ms;
    }
}

// A cancelled transfer never reaches the bus: the controller does not take
// the written bytes, and the reader's buffer keeps what it held.
TEST(TransportWaitTest, CancelledTransfersLeaveTheBusAndTheBufferAlone) {
    auto r = qxtest::RunInChild([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& bus = qxsim::Notebook::Current().Bus();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        TransportOpen();
        fw.SetWriteOutcome(TransferOutcome::Pending, 1);
        fw.SetReadOutcome(TransferOutcome::Pending, 1);
        uint8_t wake = 0x00;
        uint8_t buf[4] = {0xA5, 0xA5, 0xA5, 0xA5};
        iostat_t st = {7, 7};
        int w = TransportWrite(&wake, 1, &st);
        int rd = TransportRead(buf, 4, &st);
        qxtest::Print("%d %d %d %d wakes %d transfers %llu buf %02X%02X%02X%02X\n", w, st.wr_status,
                      rd, st.rd_status, fw.WakeBytes(),
                      static_cast<unsigned long long>(bus.TransferCount()), buf[0], buf[1], buf[2],
                      buf[3]);
        // The next ones complete: the wake byte arrives, the read delivers.
        w = TransportWrite(&wake, 1, &st);
        rd = TransportRead(buf, 4, &st);
        qxtest::Print("%d %d %d %d wakes %d transfers %llu\n", w, st.wr_status, rd, st.rd_status,
                      fw.WakeBytes(), static_cast<unsigned long long>(bus.TransferCount()));
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, "-1 -1 0 -1 wakes 0 transfers 0 buf A5A5A5A5\n0 0 0 0 wakes 1 transfers 2\n");
}

// A failed open leaves the transport closed: the handle it had before is
// gone (the device is free for others), and transfers fail untouched.
TEST(TransportWaitTest, FailedOpenLeavesTheTransportClosed) {
    struct Case {
        const char* name;
        void (*fault)(ControllerModel&);
    } cases[] = {
        {"device gone", [](ControllerModel& m) { m.SetDevicePresent(false); }},
        {"open code refused", [](ControllerModel& m) { m.SetRefuseOpen(true); }},
        {"node disabled",
         [](ControllerModel&) { qxsim::Notebook::Current().DeviceInstall().DisableController(); }},
        {"another program has it",
         [](ControllerModel&) {
             TransportClose();
             qxsim::Notebook::Current().DeviceHandles().OpenByAnotherProgram();
         }},
    };
    for (const auto& c : cases) {
        auto r = qxtest::RunInChild([&] {
            auto& m = qxsim::Notebook::Current().Controller();
            auto& handles = qxsim::Notebook::Current().DeviceHandles();
            m.Reset();
            handles.Reset();
            int first = TransportOpen();
            c.fault(m);
            int again = TransportOpen();
            int ours = handles.OpenHandles() - (handles.HeldByAnotherProgram() ? 1 : 0);
            uint8_t b = 0;
            iostat_t st = {7, 7};
            int w = TransportWrite(&b, 1, &st);
            int rd = TransportRead(&b, 1, &st);
            qxtest::Print("%d %d handles %d write %d %d read %d %d\n", first, again, ours, w,
                          st.wr_status, rd, st.rd_status);
        });
        EXPECT_EQ(r.exit_code, 0) << c.name;
        EXPECT_EQ(r.out, "0 -1 handles 0 write -1 7 read -1 7\n") << c.name;
    }
}

// The seam itself on the controller model, call by call, as the transport
// relies on it: what a wait answers, what a cancel finds, and the virtual
// time each call spends.
TEST(OverlappedSimTest, RequestLifeCallByCall) {
    auto r = qxtest::RunInChild([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& bus = qxsim::Notebook::Current().Bus();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        os::IoDevice* device = os::IoOpen();
        uint8_t b = 0;
        auto result = [](os::IoWaitResult w) {
            return w == os::IoWaitResult::kSucceeded ? "ok"
                   : w == os::IoWaitResult::kFailed  ? "failed"
                                                     : "timeout";
        };
        // A busy request waited for in two pieces completes in the second.
        m.SetTransferTime(700);
        os::IoRequest* req = os::IoIssueWrite(device, &b, 1);
        long long t0 = Now();
        const char* first = result(os::IoWait(req, 500));
        const char* second = result(os::IoWait(req, 500));
        bool found = os::IoCancel(req);
        qxtest::Print("busy: %s %s %lld cancel %d\n", first, second, Now() - t0, found);
        os::IoRelease(req);

        // Cancelled while pending: the forever wait returns at once, failed.
        m.SetTransferTime(0);
        fw.SetReadOutcome(TransferOutcome::Pending, 1);
        req = os::IoIssueRead(device, 1);
        t0 = Now();
        first = result(os::IoWait(req, 2000));
        found = os::IoCancel(req);
        second = result(os::IoWait(req, os::kIoWaitForever));
        bool again = os::IoCancel(req);
        qxtest::Print("pending: %s cancel %d %s %lld cancel %d\n", first, found, second, Now() - t0,
                      again);
        os::IoRelease(req);

        // Failed at once: nothing to cancel, no time spent.
        fw.SetWriteOutcome(TransferOutcome::FailNow, 1);
        req = os::IoIssueWrite(device, &b, 1);
        t0 = Now();
        first = result(os::IoWait(req, 1000));
        found = os::IoCancel(req);
        qxtest::Print("fail: %s cancel %d %lld\n", first, found, Now() - t0);
        os::IoRelease(req);

        // Only the open code is known to the driver.
        os::IoRequest* other = os::IoIssueControl(device, IOCTL_QXSPB_CLOSE);
        os::IoRequest* open = os::IoIssueControl(device, IOCTL_QXSPB_OPEN);
        qxtest::Print("control: %s %s\n", result(os::IoWait(other, 0)),
                      result(os::IoWait(open, 0)));
        os::IoRelease(other);
        os::IoRelease(open);
        os::IoClose(device);
        os::IoClose(nullptr);
        qxtest::Print("handles %d bus errors %llu\n",
                      qxsim::Notebook::Current().DeviceHandles().OpenHandles(),
                      static_cast<unsigned long long>(bus.BusErrorCount()));
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out,
              "busy: timeout ok 700 cancel 0\n"
              "pending: timeout cancel 1 failed 2000 cancel 0\n"
              "fail: failed cancel 0 0\n"
              "control: failed ok\n"
              "handles 0 bus errors 0\n");
}

// Misuse the notebook reports loudly instead of hanging the virtual clock or
// freeing a record the driver still owns.
TEST(OverlappedSimTest, WaitingForeverOnARequestThatNeverEndsIsReported) {
    auto r = qxtest::RunInChild([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        os::IoDevice* device = os::IoOpen();
        fw.SetWriteOutcome(TransferOutcome::Pending, 1);
        uint8_t b = 0;
        os::IoRequest* req = os::IoIssueWrite(device, &b, 1);
        os::IoWait(req, os::kIoWaitForever);
        qxtest::Print("returned\n");
    });
    EXPECT_NE(r.signal, 0);
    EXPECT_EQ(r.out, "");

    r = qxtest::RunInChild([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        os::IoDevice* device = os::IoOpen();
        fw.SetWriteOutcome(TransferOutcome::Pending, 1);
        uint8_t b = 0;
        os::IoRelease(os::IoIssueWrite(device, &b, 1));
        qxtest::Print("returned\n");
    });
    EXPECT_NE(r.signal, 0);
    EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace qx
