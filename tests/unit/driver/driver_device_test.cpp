// The device: start-up against its resources and registry, the user-mode
// interface's routing, and the connection's life across handles and power.
#include <cstring>
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
    EXPECT_EQ(um::Open("\\\\.\\QXSPB", &status), nullptr);
    EXPECT_EQ(status, STATUS_ACCESS_DENIED);
    uint8_t b = 1;
    EXPECT_EQ(um::WriteSync(first, &b, 1), STATUS_SUCCESS);  // the first handle is untouched
    CloseHandle(first);

    const struct {
        const char* account;
        um::NtStatus status;
    } callers[] = {{"SY", STATUS_SUCCESS}, {"BA", STATUS_SUCCESS}, {"BU", STATUS_ACCESS_DENIED}};
    for (const auto& c : callers) {
        um::Handle* h = um::Open("\\\\.\\QXSPB", &status, c.account);
        EXPECT_EQ(status, c.status) << c.account;
        um::Close(h);
    }
}

TEST_F(DriverTest, OutOfD0TheBusIsNotReadyAndMustBeReopenedAfterwards) {
    um::Handle* h = StartAndOpen();
    uint8_t b = 1;
    kmdfsim::Suspend();
    size_t info = 99;
    EXPECT_EQ(um::WriteSync(h, &b, 1, &info), QX_STATUS_BUS_NOT_READY);
    EXPECT_EQ(info, 0u);
    EXPECT_EQ(um::ReadSync(h, &b, 1), QX_STATUS_BUS_NOT_READY);
    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_WRITE_READ, &b, 1, &b, 1), QX_STATUS_BUS_NOT_READY);
    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_OPEN), QX_STATUS_BUS_NOT_READY);
    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_CLOSE), STATUS_SUCCESS);

    ASSERT_EQ(kmdfsim::Resume(), STATUS_SUCCESS);
    EXPECT_FALSE(NT_SUCCESS(um::WriteSync(h, &b, 1)));  // a fresh, unopened target
    EXPECT_EQ(um::ControlSync(h, IOCTL_QXSPB_OPEN), STATUS_SUCCESS);
    EXPECT_EQ(um::WriteSync(h, &b, 1), STATUS_SUCCESS);
}

TEST_F(DriverTest, DisableIsRefusedWhileAHandleIsOpenAndEnableStartsAfresh) {
    um::Handle* h = StartAndOpen();
    EXPECT_FALSE(kmdfsim::DisableDevice());
    CloseHandle(h);
    EXPECT_TRUE(kmdfsim::DisableDevice());
    EXPECT_FALSE(kmdfsim::DevicePresent());
    EXPECT_EQ(um::Open("\\\\.\\QXSPB"), nullptr);

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
