// The whole stack on the host: the daemon's set-up sequence and link reports
// through the transport, "\\.\QXSPB", QXVeltrane and the simulated SPB
// controller to the notebook's controller model.
#include <gtest/gtest.h>

#include <vector>

#include "daemon/controller/commands.h"
#include "daemon/transport/transport.h"
#include "kmdf/kmdfsim.h"
#include "kmdf/stack/stack.h"
#include "kmdf/usermode.h"
#include "sim/notebook.h"
#include "sim/controller_model.h"
#include "sim/firmware_model.h"
#include "tests/support/driver_stack.h"

namespace qxtest {
namespace {

using qxsim::ControllerModel;

class DriverStackTest : public ::testing::Test {
  protected:
    void SetUp() override {
        qxsim::Notebook::Current().Controller().Reset();
        ASSERT_EQ(kmdfsim::StartDriverStack(kmdfsim::BusDevice::Controller), STATUS_SUCCESS);
    }
    void TearDown() override {
        qx::TransportClose();
        StopDriverStackChecked();
    }
};

TEST_F(DriverStackTest, SetupControllerSucceedsThroughTheDriver) {
    ASSERT_EQ(qx::TransportOpen(), 0);
    uint8_t fwrev[3] = {9, 9, 9};
    EXPECT_EQ(qx::SetupController(qx::ControllerConfig{1, 3, 10, 50, 1, 515, 134349066}, fwrev), 0);
    auto& fw = qxsim::Notebook::Current().Firmware();
    EXPECT_EQ(fw.SetupCount(), 1);
    EXPECT_EQ(fw.WakeBytes(), 1);
    EXPECT_EQ(fw.SwitchTables(), 1);
    EXPECT_EQ(fwrev[0], 1);
    EXPECT_EQ(fwrev[1], 3);
    EXPECT_EQ(fwrev[2], 7);
    // The wake byte was the first bus transfer, a one-byte write.
    auto t = kmdfsim::Spb().Transactions();
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t[0].kind, static_cast<ULONG>('W'));
    EXPECT_EQ(t[0].written, std::vector<uint8_t>{0x00});
}

TEST_F(DriverStackTest, LinkReportsArriveDecoded) {
    ASSERT_EQ(qx::TransportOpen(), 0);
    struct Report {
        uint64_t timestamp;
        qx::LinkReportEntry entry;
    } reports[] = {
        {1700000000123ull, {1, 0, 0xC4, 0xBE, {0, 0}, 0x1234}},
        {1700000000373ull, {0, 0, 0x7D, 0x7E, {0, 0}, 0x0081}},  // bytes that need escaping
    };
    for (const auto& r : reports) {
        qx::FrameBuffer buf;
        int32_t len = qx::LinkReport(buf, r.timestamp, r.entry);
        ASSERT_GT(len, 0);
        qx::iostat_t io{7, 7};
        EXPECT_EQ(qx::TransportWrite(buf, static_cast<uint32_t>(len), &io), 0);
        EXPECT_EQ(io.wr_status, 0);
        EXPECT_EQ(io.rd_status, 7);
    }
    auto seen = qxsim::Notebook::Current().Firmware().LinkReports();
    ASSERT_EQ(seen.size(), 2u);
    for (size_t i = 0; i < 2; i++) {
        EXPECT_EQ(seen[i].timestamp, static_cast<uint32_t>(reports[i].timestamp));
        EXPECT_EQ(seen[i].rssi0, reports[i].entry.Rssi0);
        EXPECT_EQ(seen[i].rssi1, reports[i].entry.Rssi1);
        EXPECT_EQ(seen[i].traffic, reports[i].entry.Traffic);
    }
    EXPECT_EQ(seen[0].flags & 0x80, 0x80);
    EXPECT_EQ(seen[1].flags & 0x80, 0);
}

// The outcomes of an unopened, a failed and a pending transfer are the
// overlapped contract's (its KMDF half runs them through this stack); what is
// the bus's own is a NAK, which fails the write at once.
TEST_F(DriverStackTest, ANackedWriteFailsAtOnce) {
    uint8_t b = 0;
    qx::iostat_t io{5, 5};
    ASSERT_EQ(qx::TransportOpen(), 0);
    kmdfsim::Spb().NakNext();
    EXPECT_EQ(qx::TransportWrite(&b, 1, &io), -1);  // failed at once: nothing to cancel
    EXPECT_EQ(io.wr_status, -2);
    EXPECT_EQ(qx::TransportWrite(&b, 1, &io), 0);
    EXPECT_EQ(io.wr_status, 0);
}

TEST_F(DriverStackTest, OpenFailsWithoutTheDeviceAndAfterTheDriverRefusesIt) {
    ASSERT_TRUE(kmdfsim::DisableDevice());
    EXPECT_EQ(qx::TransportOpen(), -1);
    ASSERT_EQ(kmdfsim::EnableDevice(), STATUS_SUCCESS);
    // A second open code on an open connection is refused by the target;
    // the transport itself closes first, so reopening works.
    EXPECT_EQ(qx::TransportOpen(), 0);
    EXPECT_EQ(qx::TransportOpen(), 0);
    qx::TransportClose();
    qx::TransportClose();
}

}  // namespace
}  // namespace qxtest

namespace qxtest {
namespace {

// The transport's waits through the driver: a read the bus never finishes is
// cancelled after its wait and still counts as issued; a failed open leaves
// the transport closed, holding nothing.
TEST_F(DriverStackTest, PendingReadIsCancelledAndAFailedReopenLeavesItClosed) {
    ASSERT_EQ(qx::TransportOpen(), 0);
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Hold);
    uint8_t buf[2] = {0xA5, 0xA5};
    qx::iostat_t io{5, 5};
    EXPECT_EQ(qx::TransportRead(buf, 2, &io), 0);
    EXPECT_EQ(io.rd_status, -1);
    EXPECT_EQ(io.wr_status, 5);
    EXPECT_EQ(buf[0], 0xA5);
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Inline);

    // Our open handle vetoes removal. Another program holding the exclusive
    // device makes our reopen fail: the transport keeps no handle then, so
    // once the other closes, nothing of ours holds the device up.
    EXPECT_FALSE(kmdfsim::DisableDevice());
    qx::TransportClose();
    kmdfsim::um::Handle* other = kmdfsim::um::Open(QXSPB_DEVICE_PATH);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(qx::TransportOpen(), -1);
    EXPECT_EQ(qx::TransportWrite(buf, 1, &io), -1);
    EXPECT_EQ(io.wr_status, 5);
    kmdfsim::um::Close(other);
    EXPECT_TRUE(kmdfsim::DisableDevice());
    EXPECT_EQ(qx::TransportOpen(), -1);
    ASSERT_EQ(kmdfsim::EnableDevice(), STATUS_SUCCESS);
    EXPECT_EQ(qx::TransportOpen(), 0);
    EXPECT_EQ(qx::TransportWrite(buf, 1, &io), 0);
    EXPECT_EQ(io.wr_status, 0);
}

}  // namespace
}  // namespace qxtest
