// Bus transfers: combined transfers and their byte counts, locks, bus
// errors, and cancellation of a transfer on the bus.
#include <cstring>

#include "driver_fixture.h"

namespace qxtest {
namespace {

struct SequenceCase {
    const char* name;
    ULONG code;
    uint32_t w, r;
    size_t shortTo;  // 0: the bus transfers everything
    NTSTATUS status;
    size_t information;
};

TEST_F(DriverTest, CombinedTransfersReportTheReadBytesOnly) {
    um::Handle* h = StartAndOpen();
    const SequenceCase cases[] = {
        {"W3 R5 all 8 bytes", IOCTL_QXSPB_WRITE_READ, 3, 5, 0, STATUS_SUCCESS, 5},
        {"W3 R5 bus reports 6", IOCTL_QXSPB_WRITE_READ, 3, 5, 6, STATUS_SUCCESS, 3},
        {"W3 R5 bus reports exactly W", IOCTL_QXSPB_WRITE_READ, 3, 5, 3, STATUS_SUCCESS, 0},
        {"W3 R5 bus reports fewer than W", IOCTL_QXSPB_WRITE_READ, 3, 5, 2, STATUS_SUCCESS, 0},
        {"W1 R1", IOCTL_QXSPB_WRITE_READ, 1, 1, 0, STATUS_SUCCESS, 1},
        {"full duplex W4 R4", IOCTL_QXSPB_FULL_DUPLEX, 4, 4, 0, STATUS_SUCCESS, 4},
        {"full duplex W2 R6 short to 1", IOCTL_QXSPB_FULL_DUPLEX, 2, 6, 1, STATUS_SUCCESS, 0},
        {"no write bytes", IOCTL_QXSPB_WRITE_READ, 0, 4, 0, STATUS_BUFFER_TOO_SMALL, 0},
        {"no read bytes", IOCTL_QXSPB_FULL_DUPLEX, 4, 0, 0, STATUS_BUFFER_TOO_SMALL, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.shortTo != 0) kmdfsim::Spb().ShortNext(c.shortTo);
        uint8_t in[8] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
        uint8_t out[8];
        memset(out, 0xEE, sizeof(out));
        size_t info = 99;
        EXPECT_EQ(
            um::ControlSync(h, c.code, c.w ? in : nullptr, c.w, c.r ? out : nullptr, c.r, &info),
            c.status);
        EXPECT_EQ(info, c.information);
    }
}

TEST_F(DriverTest, WriteReadSendsOneSequenceOfTheClientBytes) {
    um::Handle* h = StartAndOpen();
    const uint8_t in[3] = {0xC1, 0xC2, 0xC3};
    uint8_t out[5] = {};
    size_t info = 0;
    ASSERT_EQ(um::ControlSync(h, IOCTL_QXSPB_WRITE_READ, in, 3, out, 5, &info), STATUS_SUCCESS);
    auto t = kmdfsim::Spb().Transactions();
    ASSERT_EQ(t.size(), 1u);
    EXPECT_EQ(t[0].kind, static_cast<ULONG>(IOCTL_SPB_EXECUTE_SEQUENCE));
    EXPECT_EQ(t[0].written, std::vector<uint8_t>(in, in + 3));
    EXPECT_EQ(t[0].readLength, 5u);
    EXPECT_EQ(t[0].information, 8u);
    // The echo device returns the written bytes, zero after them.
    const uint8_t expected[5] = {0xC1, 0xC2, 0xC3, 0, 0};
    EXPECT_EQ(0, memcmp(out, expected, 5));
}

TEST_F(DriverTest, LocksReachTheControllerAndReportItsAnswer) {
    um::Handle* h = StartAndOpen();
    struct Step {
        ULONG code;
        NTSTATUS status;
        bool controller, connection;
    } steps[] = {
        {IOCTL_QXSPB_LOCK, STATUS_SUCCESS, true, false},
        {IOCTL_QXSPB_LOCK, STATUS_INVALID_DEVICE_REQUEST, true, false},
        {IOCTL_QXSPB_LOCK_CONNECTION, STATUS_SUCCESS, true, true},
        {IOCTL_QXSPB_UNLOCK, STATUS_SUCCESS, false, true},
        {IOCTL_QXSPB_UNLOCK_CONNECTION, STATUS_SUCCESS, false, false},
        {IOCTL_QXSPB_UNLOCK_CONNECTION, STATUS_INVALID_DEVICE_REQUEST, false, false},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.code);
        size_t info = 99;
        EXPECT_EQ(um::ControlSync(h, s.code, nullptr, 0, nullptr, 0, &info), s.status);
        EXPECT_EQ(info, 0u);
        EXPECT_EQ(kmdfsim::Spb().ControllerLocked(), s.controller);
        EXPECT_EQ(kmdfsim::Spb().ConnectionLocked(), s.connection);
    }
}

TEST_F(DriverTest, BusErrorsCompleteWithTheBusStatusAndCount) {
    um::Handle* h = StartAndOpen();
    uint8_t buf[6] = {1, 2, 3, 4, 5, 6};
    size_t info = 99;

    kmdfsim::Spb().NakNext();
    EXPECT_EQ(um::WriteSync(h, buf, 6, &info), STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(info, 0u);

    kmdfsim::Spb().FailNext(STATUS_IO_DEVICE_ERROR);
    EXPECT_EQ(um::ReadSync(h, buf, 6, &info), STATUS_IO_DEVICE_ERROR);
    EXPECT_EQ(info, 0u);

    kmdfsim::Spb().ShortNext(4);
    EXPECT_EQ(um::WriteSync(h, buf, 6, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 4u);

    // BusRequest is reusable after every kind of ending.
    EXPECT_EQ(um::WriteSync(h, buf, 6, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 6u);
}

TEST_F(DriverTest, ARefusedSendCompletesWithItsStatus) {
    um::Handle* h = StartAndOpen();
    uint8_t b = 1;
    kmdfsim::RefuseSends(STATUS_INSUFFICIENT_RESOURCES);
    size_t info = 99;
    EXPECT_EQ(um::WriteSync(h, &b, 1, &info), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(um::WriteSync(h, &b, 1), STATUS_SUCCESS);
}

// A target may refuse a send and leave the request's status at success; the
// client request must still fail rather than hang or report success.
TEST_F(DriverTest, ARefusedSendThatReportsSuccessFailsTheRequest) {
    um::Handle* h = StartAndOpen();
    uint8_t b = 1;
    kmdfsim::RefuseSends(STATUS_SUCCESS);
    um::Io* io = um::Write(h, &b, 1);
    ASSERT_TRUE(um::Wait(io, 2000)) << "the client request hangs";
    EXPECT_FALSE(NT_SUCCESS(um::Status(io)));
    EXPECT_EQ(um::Information(io), 0u);
    um::Release(io);
    EXPECT_EQ(um::WriteSync(h, &b, 1), STATUS_SUCCESS);
}

TEST_F(DriverTest, AReadCancelledOnTheBusCompletesCancelledAndTheNextWriteSucceeds) {
    um::Handle* h = StartAndOpen();
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Hold);
    uint8_t buf[4];
    um::Io* read = um::Read(h, buf, 4);
    ASSERT_TRUE(kmdfsim::Spb().WaitHeld(1, 2000));
    EXPECT_FALSE(um::Done(read));
    EXPECT_TRUE(um::Cancel(read));
    ASSERT_TRUE(um::Wait(read, 2000));
    EXPECT_EQ(um::Status(read), STATUS_CANCELLED);
    EXPECT_EQ(um::Information(read), 0u);
    um::Release(read);

    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Async);
    size_t info = 0;
    EXPECT_EQ(um::WriteSync(h, buf, 4, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 4u);
}

TEST_F(DriverTest, RequestsQueueBehindTheOneOnTheBus) {
    um::Handle* h = StartAndOpen();
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Hold);
    uint8_t a = 1, b = 2;
    um::Io* first = um::Write(h, &a, 1);
    um::Io* second = um::Write(h, &b, 1);
    ASSERT_TRUE(kmdfsim::Spb().WaitHeld(1, 2000));
    EXPECT_EQ(kmdfsim::Spb().Held(), 1);  // the sequential queue holds the second back
    EXPECT_EQ(kmdfsim::Spb().ReleaseHeld(), 1);
    ASSERT_TRUE(um::Wait(first, 2000));
    ASSERT_TRUE(kmdfsim::Spb().WaitHeld(1, 2000));
    EXPECT_EQ(kmdfsim::Spb().ReleaseHeld(), 1);
    ASSERT_TRUE(um::Wait(second, 2000));
    EXPECT_EQ(um::Status(first), STATUS_SUCCESS);
    EXPECT_EQ(um::Status(second), STATUS_SUCCESS);
    um::Release(first);
    um::Release(second);
}

TEST_F(DriverTest, AQueuedRequestCancelledBeforeItReachesTheDriverIsCancelled) {
    um::Handle* h = StartAndOpen();
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Hold);
    uint8_t a = 1, b = 2;
    um::Io* first = um::Write(h, &a, 1);
    ASSERT_TRUE(kmdfsim::Spb().WaitHeld(1, 2000));
    um::Io* second = um::Write(h, &b, 1);
    EXPECT_TRUE(um::Cancel(second));
    ASSERT_TRUE(um::Wait(second, 2000));
    EXPECT_EQ(um::Status(second), STATUS_CANCELLED);
    kmdfsim::Spb().ReleaseHeld();
    ASSERT_TRUE(um::Wait(first, 2000));
    EXPECT_EQ(um::Status(first), STATUS_SUCCESS);
    um::Release(first);
    um::Release(second);
}

TEST_F(DriverTest, OnlyCombinedTransfersCreateAnObjectPerOperation) {
    um::Handle* h = StartAndOpen();
    uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    size_t before = kmdfsim::DriverObjectsCreated();
    for (int i = 0; i < 50; i++) {
        ASSERT_EQ(um::WriteSync(h, buf, 8), STATUS_SUCCESS);
        ASSERT_EQ(um::ReadSync(h, buf, 8), STATUS_SUCCESS);
        ASSERT_EQ(um::ControlSync(h, IOCTL_QXSPB_LOCK_CONNECTION), STATUS_SUCCESS);
        ASSERT_EQ(um::ControlSync(h, IOCTL_QXSPB_UNLOCK_CONNECTION), STATUS_SUCCESS);
    }
    EXPECT_EQ(kmdfsim::DriverObjectsCreated(), before);
    for (int i = 0; i < 50; i++) {
        ASSERT_EQ(um::ControlSync(h, IOCTL_QXSPB_WRITE_READ, buf, 4, buf, 4), STATUS_SUCCESS);
    }
    EXPECT_EQ(kmdfsim::DriverObjectsCreated(), before + 50);  // the transfer-list memory only
}

}  // namespace
}  // namespace qxtest
