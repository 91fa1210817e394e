// Power as the framework runs it and holds a driver to it: a power-managed
// queue delivers only in D0 and powers an idle device up, the idle time-out
// waits for the last idle reference and request, and each power rule broken
// once is reported once. A small driver of this test: one power-managed
// sequential queue that parks its reads, S0 idle settings, and a passive
// interrupt whose service routine runs as long as the test says.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "kmdf/kmdfsim.h"
#include "kmdf/stub/fx_stub.h"
#include "kmdf/usermode.h"

namespace {

namespace um = kmdfsim::um;
using kmdfsim::DevicePower;

std::atomic<WDFREQUEST> g_parked{nullptr};
std::atomic<int> g_reads{0};
std::atomic<int> g_isrMs{0};
std::function<void(WDFREQUEST)> g_inRead;
std::function<void(WDFREQUEST)> g_onStop;  // set before Start: the queue gets an EvtIoStop
WDFDEVICE g_device = nullptr;
WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS g_idle;

VOID PowerRead(WDFQUEUE, WDFREQUEST Request, size_t) {
    g_reads++;
    if (g_inRead) g_inRead(Request);
    g_parked = Request;
}

VOID PowerStop(WDFQUEUE, WDFREQUEST Request, ULONG) {
    g_onStop(Request);
}

BOOLEAN SlowIsr(WDFINTERRUPT, ULONG) {
    std::this_thread::sleep_for(std::chrono::milliseconds(g_isrMs.load()));
    return TRUE;
}

NTSTATUS PowerPrepare(WDFDEVICE Device, WDFCMRESLIST Raw, WDFCMRESLIST Translated) {
    for (ULONG i = 0; i < WdfCmResourceListGetCount(Translated); i++) {
        if (WdfCmResourceListGetDescriptor(Translated, i)->Type != CmResourceTypeInterrupt)
            continue;
        WDF_INTERRUPT_CONFIG config;
        WDF_INTERRUPT_CONFIG_INIT(&config, SlowIsr, NULL);
        config.PassiveHandling = TRUE;
        config.InterruptRaw = WdfCmResourceListGetDescriptor(Raw, i);
        config.InterruptTranslated = WdfCmResourceListGetDescriptor(Translated, i);
        WDFINTERRUPT interrupt;
        return WdfInterruptCreate(Device, &config, WDF_NO_OBJECT_ATTRIBUTES, &interrupt);
    }
    return STATUS_SUCCESS;
}

NTSTATUS PowerAdd(WDFDRIVER, PWDFDEVICE_INIT DeviceInit) {
    WDF_PNPPOWER_EVENT_CALLBACKS pnp;
    WDF_PNPPOWER_EVENT_CALLBACKS_INIT(&pnp);
    pnp.EvtDevicePrepareHardware = PowerPrepare;
    WdfDeviceInitSetPnpPowerEventCallbacks(DeviceInit, &pnp);
    NTSTATUS status = WdfDeviceCreate(&DeviceInit, WDF_NO_OBJECT_ATTRIBUTES, &g_device);
    if (!NT_SUCCESS(status)) return status;
    status = WdfDeviceAssignS0IdleSettings(g_device, &g_idle);
    if (!NT_SUCCESS(status)) return status;
    WDF_IO_QUEUE_CONFIG config;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&config, WdfIoQueueDispatchSequential);
    config.EvtIoRead = PowerRead;  // power-managed: the default of a power policy owner
    if (g_onStop) config.EvtIoStop = PowerStop;
    status = WdfIoQueueCreate(g_device, &config, WDF_NO_OBJECT_ATTRIBUTES, WDF_NO_HANDLE);
    if (!NT_SUCCESS(status)) return status;
    DECLARE_CONST_UNICODE_STRING(link, QXSPB_LINK_NAME_W);
    return WdfDeviceCreateSymbolicLink(g_device, &link);
}

NTSTATUS PowerEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, PowerAdd);
    return WdfDriverCreate(DriverObject, RegistryPath, WDF_NO_OBJECT_ATTRIBUTES, &config,
                           WDF_NO_HANDLE);
}

NTSTATUS PowerImage(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    return FxDriverEntryWorker(DriverObject, RegistryPath, PowerEntry);
}

int Reports(const std::string& part) {
    int n = 0;
    for (const auto& v : kmdfsim::Violations()) n += v.find(part) != std::string::npos ? 1 : 0;
    return n;
}

WDFREQUEST WaitParked() {
    for (int i = 0; i < 2000 && g_parked.load() == nullptr; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return g_parked.exchange(nullptr);
}

class PowerTest : public ::testing::Test {
  public:
    void SetUp() override {
        kmdfsim::Reset();
        kmdfsim::SetTransitionBound(100);
        g_parked = nullptr;
        g_reads = 0;
        g_isrMs = 0;
        g_inRead = nullptr;
        g_onStop = nullptr;
        WDF_DEVICE_POWER_POLICY_IDLE_SETTINGS_INIT(&g_idle, IdleCannotWakeFromS0);
        g_idle.IdleTimeout = 60000;  // expired by hand
    }
    void Start() {
        ASSERT_EQ(kmdfsim::LoadDriver(PowerImage), STATUS_SUCCESS);
        ASSERT_EQ(kmdfsim::AddDevice(), STATUS_SUCCESS);
        handle_ = um::Open(QXSPB_DEVICE_PATH);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override {
        g_inRead = nullptr;
        if (handle_ != nullptr) um::Close(handle_);
        handle_ = nullptr;
        kmdfsim::Reset();
    }
    um::Handle* handle_ = nullptr;
};

TEST_F(PowerTest, AnIdleDeviceIsPoweredUpForARequestAndASleepingOneHoldsIt) {
    Start();
    EXPECT_EQ(kmdfsim::IdleTimeoutMs(), 60000u);
    ASSERT_TRUE(kmdfsim::ExpireIdleTimer());
    EXPECT_EQ(kmdfsim::D0Exits(), 1);

    // Idle in D3: a request brings the device back before it is presented.
    uint8_t b;
    um::Io* io = um::Read(handle_, &b, 1);
    WDFREQUEST r = WaitParked();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(kmdfsim::PowerState(), DevicePower::D0);
    EXPECT_FALSE(kmdfsim::IdleTimerRunning())
        << "the time-out runs while a request is in the driver";
    WdfRequestComplete(r, STATUS_SUCCESS);
    um::Release(io);
    EXPECT_TRUE(kmdfsim::IdleTimerRunning());

    // An idle reference keeps the device in D0; its release starts the time-out.
    EXPECT_EQ(WdfDeviceStopIdle(g_device, FALSE), STATUS_SUCCESS);
    EXPECT_FALSE(kmdfsim::ExpireIdleTimer(20));
    WdfDeviceResumeIdle(g_device);
    EXPECT_TRUE(kmdfsim::IdleTimerRunning());

    // Asleep: the request waits for the wake, and the driver never sees it in D3.
    kmdfsim::Suspend();
    EXPECT_EQ(kmdfsim::PowerState(), DevicePower::SleepD3);
    io = um::Read(handle_, &b, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(g_reads.load(), 1);
    ASSERT_EQ(kmdfsim::Resume(), STATUS_SUCCESS);
    r = WaitParked();
    ASSERT_NE(r, nullptr);
    WdfRequestComplete(r, STATUS_SUCCESS);
    um::Release(io);
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

// A D0 exit that comes while the read's callback runs stops the read once
// the callback returns, and leaves D0 only after that EvtIoStop has
// returned, even though the read completes inside it: the framework calls
// EvtIoStop from the transition itself, so a driver may still touch what its
// D0 exit tears down.
TEST_F(PowerTest, AD0ExitWaitsForAnEvtIoStopThatCompletesTheRequest) {
    std::atomic<bool> inRead{false}, suspending{false}, stopReturned{false};
    g_inRead = [&](WDFREQUEST) {
        inRead = true;
        while (!suspending) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    g_onStop = [&](WDFREQUEST r) {
        WdfRequestComplete(r, STATUS_CANCELLED);
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
        stopReturned = true;
    };
    Start();
    uint8_t b;
    um::Io* io = um::Read(handle_, &b, 1);
    while (!inRead) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::thread sleep([&] {
        suspending = true;
        kmdfsim::Suspend();
        EXPECT_TRUE(stopReturned) << "the device left D0 while EvtIoStop was running";
    });
    sleep.join();
    um::Release(io);
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

// Each power rule broken once: one report each.
TEST_F(PowerTest, PowerRulesAreEachReported) {
    struct Case {
        const char* report;
        std::function<void()> setup;  // before the device starts
        std::function<void(PowerTest&)> misuse;
    };
    const Case cases[] = {
        {"WdfDeviceResumeIdle without a WdfDeviceStopIdle", nullptr,
         [](PowerTest&) { WdfDeviceResumeIdle(g_device); }},
        {"waiting for D0 inside a request of a power-managed queue", nullptr,
         [](PowerTest& t) {
             g_inRead = [](WDFREQUEST) {
                 WdfDeviceStopIdle(g_device, TRUE);
                 WdfDeviceResumeIdle(g_device);
             };
             uint8_t b;
             um::Io* io = um::Read(t.handle_, &b, 1);
             WdfRequestComplete(WaitParked(), STATUS_SUCCESS);
             um::Release(io);
         }},
        {"idle settings not initialised", [] { g_idle.Size = 0; }, nullptr},
        // Without EvtIoStop the D0 exit waits for the parked read.
        {"not completed within the bound of a D0 exit", nullptr,
         [](PowerTest& t) {
             uint8_t b;
             um::Io* io = um::Read(t.handle_, &b, 1);
             WDFREQUEST r = WaitParked();
             std::thread sleep([] { kmdfsim::Suspend(); });
             std::this_thread::sleep_for(std::chrono::milliseconds(300));
             WdfRequestComplete(r, STATUS_SUCCESS);
             sleep.join();
             um::Release(io);
         }},
        {"interrupt service routine kept running past the bound", nullptr,
         [](PowerTest&) {
             g_isrMs = 300;
             ASSERT_TRUE(kmdfsim::FireInterrupt());
             for (int i = 0; i < 200 && !kmdfsim::IsrRunning(); i++) {
                 std::this_thread::sleep_for(std::chrono::milliseconds(1));
             }
             kmdfsim::Suspend();
         }},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        if (c.setup) c.setup();
        if (c.misuse) {
            Start();
            c.misuse(*this);
        } else {
            ASSERT_EQ(kmdfsim::LoadDriver(PowerImage), STATUS_SUCCESS);
            EXPECT_EQ(kmdfsim::AddDevice(), STATUS_INFO_LENGTH_MISMATCH) << c.report;
        }
        EXPECT_EQ(Reports(c.report), 1) << c.report;
        EXPECT_EQ(kmdfsim::Violations().size(), 1u) << c.report;
    }
}

}  // namespace
