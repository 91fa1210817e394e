// The device: start-up against its resources and registry, the user-mode
// interface's routing, and the connection's life across handles and power.
#include <cstring>
#include <functional>
#include <optional>

#include "driver_fixture.h"

namespace qxtest {
namespace {

using kmdfsim::ConnectionResource;
using kmdfsim::InterruptResource;
using kmdfsim::MemoryResource;

constexpr UCHAR kSerial = CM_RESOURCE_CONNECTION_CLASS_SERIAL;
constexpr UCHAR kGpio = CM_RESOURCE_CONNECTION_CLASS_GPIO;
constexpr UCHAR kI2c = CM_RESOURCE_CONNECTION_TYPE_SERIAL_I2C;
constexpr UCHAR kSpi = CM_RESOURCE_CONNECTION_TYPE_SERIAL_SPI;
constexpr UCHAR kUart = CM_RESOURCE_CONNECTION_TYPE_SERIAL_UART;

bool Printed(const std::string& text) {
    for (const auto& p : kmdfsim::DbgPrints()) {
        if (p == text) return true;
    }
    return false;
}

TEST_F(DriverTest, PrintsTheDebugTextsOfEachStep) {
    um::Handle* h = StartAndOpen();
    uint8_t buf[2] = {1, 2};
    um::WriteSync(h, buf, 2);
    um::ReadSync(h, buf, 2);
    EXPECT_TRUE(Printed("!!!!!!!!!!!!!!!!!!DUVAD - STARTING!!!!!!!!!!!!!!!!!!!!!\n"));
    EXPECT_TRUE(Printed("DUVAD!!!!! IN DEVICE ADD!!!!!!!\n"));
    EXPECT_TRUE(Printed("DUVAD: in OnPrepareHardware()\n"));
    EXPECT_TRUE(Printed("DUVAD: in OnIoREAD()\n"));
    EXPECT_TRUE(Printed("DUVAD: in OnIoWRITE()\n"));
    EXPECT_TRUE(Printed("DUVAD: in OnIoDeviceControl()\n"));
}

struct ResourceCase {
    const char* name;
    std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> resources;
    NTSTATUS start;
    ULONG idLow, idHigh;
    const wchar_t* path;
};

TEST_F(DriverTest, StartsOnTheFirstSerialBusConnectionOnly) {
    const ResourceCase cases[] = {
        {"none", {}, STATUS_NOT_FOUND, 0, 0, nullptr},
        {"memory and interrupt only",
         {MemoryResource(0xFED00000, 0x1000), InterruptResource(9)},
         STATUS_NOT_FOUND,
         0,
         0,
         nullptr},
        {"GPIO connection",
         {ConnectionResource(kGpio, kI2c, 1, 0)},
         STATUS_NOT_FOUND,
         0,
         0,
         nullptr},
        {"UART", {ConnectionResource(kSerial, kUart, 1, 0)}, STATUS_NOT_FOUND, 0, 0, nullptr},
        {"I2C",
         {ConnectionResource(kSerial, kI2c, 5, 0)},
         STATUS_SUCCESS,
         5,
         0,
         L"\\Device\\RESOURCE_HUB\\0000000000000005"},
        {"SPI",
         {ConnectionResource(kSerial, kSpi, 7, 3)},
         STATUS_SUCCESS,
         7,
         3,
         L"\\Device\\RESOURCE_HUB\\0000000300000007"},
        {"two connections",
         {InterruptResource(9), ConnectionResource(kSerial, kI2c, 2, 1),
          ConnectionResource(kSerial, kSpi, 9, 9)},
         STATUS_SUCCESS,
         2,
         1,
         L"\\Device\\RESOURCE_HUB\\0000000100000002"},
        {"GPIO before SPI",
         {ConnectionResource(kGpio, 2, 4, 4), ConnectionResource(kSerial, kSpi, 0xA, 0xB)},
         STATUS_SUCCESS,
         0xA,
         0xB,
         L"\\Device\\RESOURCE_HUB\\0000000b0000000a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kmdfsim::UnloadDriver();
        kmdfsim::SetResources(c.resources);
        kmdfsim::Spb(c.idLow, c.idHigh);
        ASSERT_EQ(kmdfsim::LoadDriver(FxDriverEntry), STATUS_SUCCESS);
        EXPECT_EQ(kmdfsim::AddDevice(), c.start);
        EXPECT_EQ(kmdfsim::DevicePresent(), NT_SUCCESS(c.start));
        if (!NT_SUCCESS(c.start)) continue;
        um::Handle* h = OpenHandle();
        EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
        EXPECT_EQ(kmdfsim::LastOpenedTargetName(), std::wstring(c.path));
        EXPECT_EQ(kmdfsim::LastOpenedTargetAccess(),
                  static_cast<ACCESS_MASK>(GENERIC_READ | GENERIC_WRITE));
        CloseHandle(h);
    }
}

TEST_F(DriverTest, OpenFailsWhenNoControllerAnswersTheConnection) {
    kmdfsim::SetResources({ConnectionResource(kSerial, kI2c, 0x77, 0)});  // no controller behind it
    um::Handle* h = StartAndOpen(false);
    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_OPEN), STATUS_OBJECT_NAME_NOT_FOUND);
    uint8_t b = 0;
    EXPECT_FALSE(NT_SUCCESS(um::WriteSync(h, &b, 1)));
}

struct InterruptCase {
    const char* name;
    bool key;
    std::optional<ULONG> value;
    bool interruptResource;
    NTSTATUS signal;
};

TEST_F(DriverTest, ConnectsTheInterruptOnlyWhenTheRegistrySaysOne) {
    const InterruptCase cases[] = {
        {"no Settings key", false, std::nullopt, true, STATUS_NOT_FOUND},
        {"key without value", true, std::nullopt, true, STATUS_NOT_FOUND},
        {"value 0", true, 0u, true, STATUS_NOT_FOUND},
        {"value 2", true, 2u, true, STATUS_NOT_FOUND},
        {"value 0xFFFFFFFF", true, 0xFFFFFFFFu, true, STATUS_NOT_FOUND},
        {"value 1 without interrupt resource", true, 1u, false, STATUS_NOT_FOUND},
        {"value 1", true, 1u, true, STATUS_SUCCESS},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kmdfsim::UnloadDriver();
        kmdfsim::SetSettingsKey(c.key);
        kmdfsim::SetConnectInterrupt(c.value);
        std::vector<CM_PARTIAL_RESOURCE_DESCRIPTOR> res = {ConnectionResource(kSerial, kI2c, 2, 1)};
        if (c.interruptResource) res.push_back(InterruptResource(0x35));
        kmdfsim::SetResources(res);
        ASSERT_EQ(kmdfsim::LoadDriver(FxDriverEntry), STATUS_SUCCESS);
        um::Handle* h = StartAndOpen(false);
        EXPECT_EQ(kmdfsim::InterruptConnected(), NT_SUCCESS(c.signal));
        EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_SIGNAL_INTERRUPT), c.signal);
        CloseHandle(h);
    }
}

TEST_F(DriverTest, TwoInterruptResourcesConnectTheFirst) {
    kmdfsim::SetSettingsKey(true);
    kmdfsim::SetConnectInterrupt(1u);
    kmdfsim::SetResources({ConnectionResource(kSerial, kI2c, 2, 1), InterruptResource(0x20),
                           InterruptResource(0x21)});
    // The simulation refuses descriptors that are not the same entry of both lists.
    EXPECT_EQ(kmdfsim::AddDevice(), STATUS_SUCCESS);
    EXPECT_TRUE(kmdfsim::InterruptConnected());
    EXPECT_EQ(kmdfsim::InterruptVector(), 0x20u);
}

TEST_F(DriverTest, ZeroLengthTransfersSucceedWithoutBusTraffic) {
    um::Handle* h = StartAndOpen();
    kmdfsim::ClearDbgPrints();
    uint8_t b = 0;
    size_t info = 99;
    EXPECT_EQ(um::WriteSync(h, &b, 0, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(um::ReadSync(h, &b, 0, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
    EXPECT_TRUE(kmdfsim::Spb().Transactions().empty());
    EXPECT_TRUE(kmdfsim::DbgPrints().empty());
}

TEST_F(DriverTest, CloseWithoutOpenSucceeds) {
    um::Handle* h = StartAndOpen(false);
    size_t info = 99;
    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_CLOSE, nullptr, 0, nullptr, 0, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 0u);
}

TEST_F(DriverTest, UnknownControlCodesAreInvalidRequests) {
    um::Handle* h = StartAndOpen();
    const ULONG codes[] = {
        QXSPB_CTL(0x78A),
        QXSPB_CTL(0x77F),
        CTL_CODE(0x474, 0x780, METHOD_BUFFERED, FILE_ANY_ACCESS),
        CTL_CODE(QXSPB_DEVICE_TYPE, 0x780, METHOD_NEITHER, FILE_ANY_ACCESS),
        CTL_CODE(QXSPB_DEVICE_TYPE, 0x784, METHOD_BUFFERED, FILE_READ_ACCESS),
        0,
    };
    for (ULONG code : codes) {
        SCOPED_TRACE(code);
        uint8_t out[4] = {};
        size_t info = 99;
        EXPECT_EQ(um::ControlSync(h, code, nullptr, 0, out, sizeof(out), &info),
                  STATUS_INVALID_DEVICE_REQUEST);
        EXPECT_EQ(info, 0u);
    }
    EXPECT_TRUE(kmdfsim::Spb().Transactions().empty());
}

TEST_F(DriverTest, TransfersFailUntilTheConnectionIsOpened) {
    um::Handle* h = StartAndOpen(false);
    uint8_t buf[3] = {7, 8, 9};
    size_t info = 99;
    EXPECT_FALSE(NT_SUCCESS(um::WriteSync(h, buf, 3, &info)));
    EXPECT_EQ(info, 0u);
    EXPECT_FALSE(NT_SUCCESS(um::ReadSync(h, buf, 3, &info)));
    EXPECT_FALSE(NT_SUCCESS(um::ControlSync(h, IOCTL_QXSPB_LOCK)));
    EXPECT_TRUE(kmdfsim::Spb().Transactions().empty());

    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
    EXPECT_EQ(um::WriteSync(h, buf, 3, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, 3u);
}

TEST_F(DriverTest, WritesAndReadsAreSingleBusTransfersOfThoseBytes) {
    um::Handle* h = StartAndOpen();
    const std::vector<std::vector<uint8_t>> writes = {
        {0x55}, {0x7D, 0x02, 0x81, 0x7E}, std::vector<uint8_t>(255, 0xA5)};
    for (const auto& bytes : writes) {
        size_t info = 0;
        ASSERT_EQ(um::WriteSync(h, bytes.data(), static_cast<uint32_t>(bytes.size()), &info),
                  STATUS_SUCCESS);
        EXPECT_EQ(info, bytes.size());
        std::vector<uint8_t> back(bytes.size() + 2, 0xEE);
        ASSERT_EQ(um::ReadSync(h, back.data(), static_cast<uint32_t>(back.size()), &info),
                  STATUS_SUCCESS);
        EXPECT_EQ(info, back.size());
        EXPECT_EQ(
            std::vector<uint8_t>(back.begin(), back.begin() + static_cast<long>(bytes.size())),
            bytes);
        auto t = kmdfsim::Spb().Transactions();
        ASSERT_GE(t.size(), 2u);
        EXPECT_EQ(t[t.size() - 2].kind, static_cast<ULONG>('W'));
        EXPECT_EQ(t[t.size() - 2].written, bytes);
        EXPECT_EQ(t.back().kind, static_cast<ULONG>('R'));
        EXPECT_EQ(t.back().readLength, back.size());
    }
}

TEST_F(DriverTest, ClosingAnyHandleClosesTheConnectionForAll) {
    ShareTheDevice();
    um::Handle* first = StartAndOpen();
    um::Handle* second = OpenHandle();
    uint8_t b = 1;
    EXPECT_EQ(um::WriteSync(second, &b, 1), STATUS_SUCCESS);
    CloseHandle(second);
    EXPECT_FALSE(NT_SUCCESS(um::WriteSync(first, &b, 1)));
    EXPECT_EQ(um::ControlSync(first, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
    EXPECT_EQ(um::WriteSync(first, &b, 1), STATUS_SUCCESS);
}

// Properties from the INF: one handle at a time, for LocalSystem and administrators.
TEST_F(DriverTest, TheDeviceIsExclusiveAndOnlySystemAndAdministratorsMayOpenIt) {
    um::Handle* first = StartAndOpen();
    um::NtStatus status = 0;
    EXPECT_EQ(um::Open(QXSPB_DEVICE_PATH, &status), nullptr);
    EXPECT_EQ(status, STATUS_ACCESS_DENIED);
    uint8_t b = 1;
    EXPECT_EQ(um::WriteSync(first, &b, 1), STATUS_SUCCESS);  // the first handle is untouched
    CloseHandle(first);

    // A name inside the device's namespace is held to the same security only
    // because the INF sets FILE_DEVICE_SECURE_OPEN (the last row: without it).
    kmdfsim::DeviceProperties unsecured = infProperties_;
    unsecured.characteristics = 0;
    const struct {
        const char* path;
        const char* account;
        const kmdfsim::DeviceProperties* properties;
        um::NtStatus status;
    } callers[] = {
        {QXSPB_DEVICE_PATH, "SY", &infProperties_, STATUS_SUCCESS},
        {QXSPB_DEVICE_PATH, "BA", &infProperties_, STATUS_SUCCESS},
        {QXSPB_DEVICE_PATH, "BU", &infProperties_, STATUS_ACCESS_DENIED},
        {QXSPB_DEVICE_PATH "\\x", "BU", &infProperties_, STATUS_ACCESS_DENIED},
        {QXSPB_DEVICE_PATH "\\x", "BU", &unsecured, STATUS_SUCCESS},
    };
    for (const auto& c : callers) {
        kmdfsim::SetDeviceProperties(*c.properties);
        um::Handle* h = um::Open(c.path, &status, c.account);
        EXPECT_EQ(status, c.status) << c.path << " " << c.account;
        um::Close(h);
    }
}

// Transfers, and each part of a combined one, up to 4096 bytes reach the
// bus; longer ones fail before it.
TEST_F(DriverTest, TransfersLongerThanTheBusTakesAreRefused) {
    um::Handle* h = StartAndOpen();
    static uint8_t buf[QX_MAX_TRANSFER_BYTES + 1];
    const struct {
        const char* what;
        std::function<um::NtStatus()> io;
        um::NtStatus status;
    } cases[] = {
        {"write 4096", [&] { return um::WriteSync(h, buf, QX_MAX_TRANSFER_BYTES); },
         STATUS_SUCCESS},
        {"write 4097", [&] { return um::WriteSync(h, buf, QX_MAX_TRANSFER_BYTES + 1); },
         STATUS_INVALID_BUFFER_SIZE},
        {"read 4097", [&] { return um::ReadSync(h, buf, QX_MAX_TRANSFER_BYTES + 1); },
         STATUS_INVALID_BUFFER_SIZE},
        {"write-read with 4097 to write",
         [&] {
             return um::ControlSync(h, IOCTL_QXSPB_WRITE_READ, buf, QX_MAX_TRANSFER_BYTES + 1, buf,
                                    1);
         },
         STATUS_INVALID_BUFFER_SIZE},
        {"full duplex with 4097 to read",
         [&] {
             return um::ControlSync(h, IOCTL_QXSPB_FULL_DUPLEX, buf, 1, buf,
                                    QX_MAX_TRANSFER_BYTES + 1);
         },
         STATUS_INVALID_BUFFER_SIZE},
    };
    for (const auto& c : cases) {
        const size_t before = kmdfsim::Spb().Transactions().size();
        EXPECT_EQ(c.io(), c.status) << c.what;
        EXPECT_EQ(kmdfsim::Spb().Transactions().size(), before + (NT_SUCCESS(c.status) ? 1 : 0))
            << c.what;
    }
}

// User mode takes the interrupt and never acknowledges it: the routine lets
// go by itself, so that the D0 exit (which waits for it) completes.
TEST_F(DriverTest, AnUnacknowledgedInterruptCannotStallAD0Exit) {
    kmdfsim::SetSettingsKey(true);
    kmdfsim::SetConnectInterrupt(1u);
    um::Handle* h = StartAndOpen();
    um::Io* wait = um::DeviceControl(h, IOCTL_QXSPB_WAIT_ON_INTERRUPT, nullptr, 0, nullptr, 0);
    ASSERT_TRUE(kmdfsim::FireInterrupt());
    ASSERT_TRUE(um::Wait(wait, 2000));
    EXPECT_EQ(um::Status(wait), STATUS_SUCCESS);
    um::Release(wait);
    EXPECT_TRUE(kmdfsim::IsrRunning()) << "the routine holds the line for the acknowledgement";
    kmdfsim::Suspend();  // the simulation reports a routine that holds past its bound
    EXPECT_FALSE(kmdfsim::IsrRunning());
    ASSERT_EQ(kmdfsim::Resume(), STATUS_SUCCESS);
}

// A D0 exit nobody announced: requests wait for D0 (the queue is
// power-managed), and D0 entry opens again the connection that was open
// before, and only that one.
TEST_F(DriverTest, AcrossAD0ExitRequestsWaitAndTheOpenConnectionComesBack) {
    um::Handle* h = StartAndOpen();
    uint8_t b = 1;
    const int opens = kmdfsim::Spb().Opens();
    kmdfsim::Suspend();
    um::Io* held = um::Write(h, &b, 1);
    EXPECT_FALSE(um::Wait(held, 50)) << "a request reached the driver out of D0";
    ASSERT_EQ(kmdfsim::Resume(), STATUS_SUCCESS);
    ASSERT_TRUE(um::Wait(held, 2000));
    EXPECT_EQ(um::Status(held), STATUS_SUCCESS);
    um::Release(held);
    EXPECT_EQ(kmdfsim::Spb().Opens(), opens + 1);
    EXPECT_EQ(um::WriteSync(h, &b, 1), STATUS_SUCCESS);

    // Closed before the D0 exit: closed after it.
    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_CLOSE), STATUS_SUCCESS);
    kmdfsim::Suspend();
    ASSERT_EQ(kmdfsim::Resume(), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(um::WriteSync(h, &b, 1)));
    EXPECT_EQ(kmdfsim::Spb().Opens(), opens + 1);
    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
    EXPECT_EQ(um::WriteSync(h, &b, 1), STATUS_SUCCESS);
}

// Idle in S0: the device goes to D3 only while nobody holds the bus
// connection, and a request brings it back to D0 before the driver sees it.
TEST_F(DriverTest, TheDeviceIdlesInD3OnlyWhileNobodyHoldsTheBus) {
    ASSERT_EQ(kmdfsim::AddDevice(), STATUS_SUCCESS);
    EXPECT_EQ(kmdfsim::IdleTimeoutMs(), QX_IDLE_TIMEOUT_MS);
    um::Handle* h = OpenHandle();
    ASSERT_EQ(um::ControlSync(h, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
    EXPECT_EQ(kmdfsim::PowerReferences(), 1);
    EXPECT_FALSE(kmdfsim::ExpireIdleTimer(50)) << "the device idles while the bus is held";
    EXPECT_EQ(kmdfsim::PowerState(), kmdfsim::DevicePower::D0);

    CloseHandle(h);
    EXPECT_EQ(kmdfsim::PowerReferences(), 0);
    const int exits = kmdfsim::D0Exits();
    ASSERT_TRUE(kmdfsim::ExpireIdleTimer());
    EXPECT_EQ(kmdfsim::D0Exits(), exits + 1);

    uint8_t b = 1;
    um::Handle* again = OpenHandle();
    EXPECT_EQ(um::ControlSync(again, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
    EXPECT_EQ(kmdfsim::PowerState(), kmdfsim::DevicePower::D0);
    EXPECT_EQ(um::WriteSync(again, &b, 1), STATUS_SUCCESS);
}

TEST_F(DriverTest, DisableIsRefusedWhileAHandleIsOpenAndEnableStartsAfresh) {
    um::Handle* h = StartAndOpen();
    EXPECT_FALSE(kmdfsim::DisableDevice());
    CloseHandle(h);
    EXPECT_TRUE(kmdfsim::DisableDevice());
    EXPECT_FALSE(kmdfsim::DevicePresent());
    EXPECT_EQ(um::Open(QXSPB_DEVICE_PATH), nullptr);

    kmdfsim::ClearDbgPrints();
    ASSERT_EQ(kmdfsim::EnableDevice(), STATUS_SUCCESS);
    EXPECT_TRUE(Printed("DUVAD!!!!! IN DEVICE ADD!!!!!!!\n"));
    um::Handle* again = OpenHandle();
    EXPECT_EQ(um::ControlSync(again, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
}

struct PathCase {
    ULONG low, high;
    size_t bytes;
    NTSTATUS status;
    const wchar_t* path;
};

TEST(ResourceHubPath, FormatsSixteenLowercaseDigitsHighPartFirst) {
    const PathCase cases[] = {
        {2, 1, 152, STATUS_SUCCESS, L"\\Device\\RESOURCE_HUB\\0000000100000002"},
        {0, 0, 152, STATUS_SUCCESS, L"\\Device\\RESOURCE_HUB\\0000000000000000"},
        {0xFFFFFFFF, 0xFFFFFFFF, 152, STATUS_SUCCESS, L"\\Device\\RESOURCE_HUB\\ffffffffffffffff"},
        {0xDEADBEEF, 0x0000ABCD, 152, STATUS_SUCCESS, L"\\Device\\RESOURCE_HUB\\0000abcddeadbeef"},
        {2, 1, 20 * sizeof(WCHAR), STATUS_BUFFER_OVERFLOW, L""},
    };
    for (const auto& c : cases) {
        WCHAR path[152 / sizeof(WCHAR)];
        ASSERT_LE(c.bytes, sizeof(path));
        EXPECT_EQ(BuildResourceHubPath(c.low, c.high, path, c.bytes), c.status);
        EXPECT_EQ(std::wstring(path), std::wstring(c.path));
    }
}

}  // namespace
}  // namespace qxtest
