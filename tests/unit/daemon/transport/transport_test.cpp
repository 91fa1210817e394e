// The transport on the virtual notebook ends every transfer the way the
// Windows transport does against the driver: statuses, return values and the
// virtual time each call takes.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "daemon/transport/transport.h"
#include "sim/notebook.h"
#include "sim/controller_model.h"
#include "sim/bus_recorder.h"
#include "sim/firmware_model.h"
#include "sim/device_install_model.h"
#include "sim/device_handles.h"
#include "sim/fault_plan.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"

namespace qx {
namespace {

using qxsim::ControllerModel;
using qxsim::Kernel;
using qxsim::TransferOutcome;

// One write and one read after `knobs`; prints "ret status ms" of each.
std::string Transfer(bool open, const std::function<void(ControllerModel&)>& knobs,
                     bool with_iostat = true) {
    auto r = qxtest::RunOnFreshNotebook([&] {
        auto& m = qxsim::Notebook::Current().Controller();
        m.Reset();
        if (open) TransportOpen();
        knobs(m);
        iostat_t st = {7, 7};
        iostat_t* p = with_iostat ? &st : nullptr;
        uint8_t buf[8] = {0x03, 0x02, 0x7D, 0xBC, 0x7E};
        auto t0 = qxsim::Notebook::Current().Kernel().Now();
        int w = TransportWrite(buf, 5, p);
        auto t1 = qxsim::Notebook::Current().Kernel().Now();
        int rd = TransportRead(buf, 5, p);
        auto t2 = qxsim::Notebook::Current().Kernel().Now();
        qxtest::Print("write %d %d %lld, read %d %d %lld\n", w, st.wr_status,
                      static_cast<long long>(t1 - t0), rd, st.rd_status,
                      static_cast<long long>(t2 - t1));
        TransportClose();  // as the end of a process would: the next scenario starts closed
    });
    EXPECT_EQ(r.exit_code, 0);
    return r.out;
}

// The notebook's own ways to end a transfer; those every half of the
// overlapped-I/O seam has are its contract (overlapped_contract_test.cpp).
TEST(TransportSimTest, OutcomesOfOneWriteAndOneRead) {
    struct Case {
        const char* name;
        bool open;
        std::function<void(ControllerModel&)> knobs;
        const char* result;
    } cases[] = {
        {"bus time", true, [](ControllerModel& m) { m.SetTransferTime(300); },
         "write 0 0 300, read 0 0 300\n"},
        // A write still busy at 1000 ms is cancelled; a read of the same length is not yet.
        {"slow bus", true, [](ControllerModel& m) { m.SetTransferTime(1500); },
         "write -1 -1 1000, read 0 0 1500\n"},
        // Completed just as the wait expired: the cancel finds nothing.
        {"done as the wait expires", true,
         [](ControllerModel&) {
             qxsim::Notebook::Current().Faults().FailCall(qxsim::FaultKind::kTransportWriteLate, 1);
             qxsim::Notebook::Current().Faults().FailCall(qxsim::FaultKind::kTransportReadLate, 1);
         },
         "write -1 -2 1000, read -1 -2 2000\n"},
        // Disabling the node cuts off the open handle.
        {"node disabled", true,
         [](ControllerModel&) { qxsim::Notebook::Current().DeviceInstall().DisableController(); },
         "write -1 -2 0, read -1 -2 0\n"},
        {"node re-enabled, not reopened", true,
         [](ControllerModel&) {
             qxsim::Notebook::Current().DeviceInstall().DisableController();
             qxsim::Notebook::Current().DeviceInstall().EnableController();
         },
         "write -1 -2 0, read -1 -2 0\n"},
        {"node re-enabled and reopened", true,
         [](ControllerModel&) {
             qxsim::Notebook::Current().DeviceInstall().DisableController();
             qxsim::Notebook::Current().DeviceInstall().EnableController();
             TransportClose();
             TransportOpen();
         },
         "write 0 0 0, read 0 0 0\n"},
        {"open while disabled", true,
         [](ControllerModel&) {
             qxsim::Notebook::Current().DeviceInstall().DisableController();
             TransportOpen();
             qxsim::Notebook::Current().DeviceInstall().EnableController();
         },
         "write -1 7 0, read -1 7 0\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(Transfer(c.open, c.knobs), c.result) << c.name;
}

TEST(TransportSimTest, WithoutIostatOnlyTheReturnValueTells) {
    EXPECT_EQ(
        Transfer(
            true,
            [](ControllerModel&) {
                qxsim::Notebook::Current().Firmware().SetWriteOutcome(TransferOutcome::Pending);
                qxsim::Notebook::Current().Firmware().SetReadOutcome(TransferOutcome::FailNow);
            },
            false),
        "write -1 7 1000, read -1 7 0\n");
}

TEST(TransportSimTest, OpenResults) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& m = qxsim::Notebook::Current().Controller();
        m.Reset();
        int a = TransportOpen();
        int b = TransportOpen();  // opening again replaces the handle
        TransportClose();
        TransportClose();
        m.SetDevicePresent(false);
        int c = TransportOpen();
        m.SetDevicePresent(true);
        m.SetRefuseOpen(true);
        int d = TransportOpen();
        qxtest::Print("%d %d %d %d\n", a, b, c, d);
        TransportClose();
    });
    EXPECT_EQ(r.out, "0 0 -1 -1\n");
}

// The worker and the shutdown path must never be on the transport together;
// the model notices when they are.
TEST(TransportSimTest, BusActivityCheckCatchesOverlap) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& k = qxsim::Notebook::Current().Kernel();
        auto& m = qxsim::Notebook::Current().Controller();
        auto& bus = qxsim::Notebook::Current().Bus();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        TransportOpen();
        fw.SetWriteOutcome(TransferOutcome::Pending, 1);
        auto worker = k.Spawn("worker", [] {
            uint8_t b = 0;
            TransportWrite(&b, 1, nullptr);
            return 0u;
        });
        k.Sleep(500);
        TransportClose();
        k.Wait(*worker, qxsim::kInfinite);
        // In turn is fine.
        TransportOpen();
        uint8_t b = 0;
        TransportWrite(&b, 1, nullptr);
        for (const auto& e : bus.BusErrors()) qxtest::Print("%s\n", e.c_str());
        TransportClose();
    });
    EXPECT_EQ(r.out, "0.500 main TransportClose while worker is on the transport\n");
}

// A request the bus never lets go of is left to the driver: never released
// while pending (the notebook would say so), every transfer refused until
// it completes, across a reopen; once the bus lets go it is freed, and
// transfers go through again. Its bytes never reach the controller.
TEST(TransportSimTest, ARequestTheBusKeepsIsLeftToItUntilItCompletes) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& k = qxsim::Notebook::Current().Kernel();
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        TransportOpen();
        uint8_t b = 0x00;
        iostat_t st = {7, 7};
        auto step = [&](const char* what, int rc) {
            qxtest::Print("%s %d %d stuck %d wakes %d at %lld\n", what, rc, st.wr_status,
                          TransportStuck(), fw.WakeBytes(), static_cast<long long>(k.Now()));
        };
        m.SetIgnoreCancel(true);
        step("held", TransportWrite(&b, 1, &st));
        TransportClose();
        TransportOpen();
        step("refused", TransportWrite(&b, 1, &st));
        m.SetIgnoreCancel(false);
        step("let go", TransportWrite(&b, 1, &st));
        TransportClose();
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out,
              "held -1 -1 stuck 1 wakes 0 at 2000\n"
              "refused -1 -1 stuck 1 wakes 0 at 2000\n"
              "let go 0 0 stuck 0 wakes 1 at 2000\n");
}

// Scenarios change the controller from timer actions of the virtual clock.
TEST(TransportSimTest, FaultsScheduledInVirtualTime) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& k = qxsim::Notebook::Current().Kernel();
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        TransportOpen();
        k.At(100, [&fw] { fw.SetWriteOutcome(TransferOutcome::FailNow); });
        k.At(350, [] { qxsim::Notebook::Current().DeviceInstall().DisableController(); });
        uint8_t b = 0;
        for (int i = 0; i < 4; ++i) {
            iostat_t st = {7, 7};
            int w = TransportWrite(&b, 1, &st);
            qxtest::Print("%lld %d %d\n", static_cast<long long>(k.Now()), w, st.wr_status);
            if (i == 1) fw.SetWriteOutcome(TransferOutcome::Complete);
            k.Sleep(150);
        }
        TransportClose();
    });
    EXPECT_EQ(r.out, "0 0 0\n150 -1 -2\n300 0 0\n450 -1 -2\n");
}

}  // namespace
}  // namespace qx

namespace qx {
namespace {

// The device is exclusive: whoever opened it first keeps it, the other open
// fails with ERROR_ACCESS_DENIED, and the holder's transfers go on.
TEST(TransportSimTest, TheDeviceIsExclusive) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& handles = qxsim::Notebook::Current().DeviceHandles();
        qxsim::Notebook::Current().Controller().Reset();
        handles.Reset();
        uint8_t buf[2] = {0xFF, 0x7E};
        qxtest::Print("open %d\n", TransportOpen());
        qxtest::Print("other %u\n", handles.OpenByAnotherProgram());
        qxtest::Print("write %d\n", TransportWrite(buf, 2, nullptr));
        qxtest::Print("reopen %d handles %d\n", TransportOpen(), handles.OpenHandles());
        TransportClose();
        qxtest::Print("closed %d\n", handles.OpenHandles());
        qxtest::Print("other %u\n", handles.OpenByAnotherProgram());
        qxtest::Print("open %d write %d\n", TransportOpen(), TransportWrite(buf, 2, nullptr));
        handles.CloseAnotherProgram();
        qxtest::Print("open %d\n", TransportOpen());
        TransportClose();
    });
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out,
              "open 0\nother 5\nwrite 0\nreopen 0 handles 1\nclosed 0\nother 0\nopen -1 write "
              "-1\nopen 0\n");
}

}  // namespace
}  // namespace qx
