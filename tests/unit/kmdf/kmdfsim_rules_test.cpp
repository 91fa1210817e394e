// Each rule the simulation enforces like the framework and its verifier: one
// call that breaks it, one report; and where the framework runs a driver at
// DISPATCH_LEVEL, the simulation does too. A small driver of this test parks
// what it is given so the test can break the rules by hand.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "kmdf/inf/inf_properties.h"
#include "kmdf/kmdfsim.h"
#include "kmdf/stub/fx_stub.h"
#include "kmdf/usermode.h"

namespace {

namespace um = kmdfsim::um;

struct Presented {
    WDFREQUEST request;
    std::thread::id thread;
    KIRQL irql;
};

WDF_EXECUTION_LEVEL g_queueLevel = WdfExecutionLevelInheritFromParent;
std::vector<Presented> g_presented;  // the test reads it once the reads are done
std::mutex g_presentedMutex;
std::function<void()> g_inRead;  // runs inside the read callback
std::atomic<KIRQL> g_completionIrql{0xFF};
std::atomic<KIRQL> g_cancelIrql{0xFF};
std::atomic<NTSTATUS> g_sentStatus{STATUS_PENDING};

EVT_WDF_IO_QUEUE_IO_READ RuleRead;
EVT_WDF_REQUEST_CANCEL RuleCancel;
EVT_WDF_DRIVER_DEVICE_ADD RuleAdd;
EVT_WDF_REQUEST_COMPLETION_ROUTINE RuleCompletion;

VOID RuleRead(WDFQUEUE, WDFREQUEST Request, size_t) {
    std::function<void()> inRead;
    {
        // Taken before the test can see this request, so it may set the next one.
        std::lock_guard<std::mutex> lock(g_presentedMutex);
        inRead = g_inRead;
        g_presented.push_back({Request, std::this_thread::get_id(), KeGetCurrentIrql()});
    }
    if (inRead) inRead();
}

VOID RuleCancel(WDFREQUEST Request) {
    g_cancelIrql = KeGetCurrentIrql();
    WdfRequestComplete(Request, STATUS_CANCELLED);
}

VOID RuleCompletion(WDFREQUEST, WDFIOTARGET, PWDF_REQUEST_COMPLETION_PARAMS Params, WDFCONTEXT) {
    g_completionIrql = KeGetCurrentIrql();
    g_sentStatus = Params->IoStatus.Status;
}

NTSTATUS RuleAdd(WDFDRIVER, PWDFDEVICE_INIT DeviceInit) {
    WDFDEVICE device;
    NTSTATUS status = WdfDeviceCreate(&DeviceInit, WDF_NO_OBJECT_ATTRIBUTES, &device);
    if (!NT_SUCCESS(status)) return status;
    WDF_IO_QUEUE_CONFIG config;
    WDF_IO_QUEUE_CONFIG_INIT_DEFAULT_QUEUE(&config, WdfIoQueueDispatchSequential);
    config.PowerManaged = WdfFalse;
    config.EvtIoRead = RuleRead;
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ExecutionLevel = g_queueLevel;
    status = WdfIoQueueCreate(device, &config, &attributes, WDF_NO_HANDLE);
    if (!NT_SUCCESS(status)) return status;
    DECLARE_CONST_UNICODE_STRING(link, QXSPB_LINK_NAME_W);
    return WdfDeviceCreateSymbolicLink(device, &link);
}

NTSTATUS RuleEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    WDF_DRIVER_CONFIG config;
    WDF_DRIVER_CONFIG_INIT(&config, RuleAdd);
    return WdfDriverCreate(DriverObject, RegistryPath, WDF_NO_OBJECT_ATTRIBUTES, &config,
                           WDF_NO_HANDLE);
}

NTSTATUS RuleImage(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    return FxDriverEntryWorker(DriverObject, RegistryPath, RuleEntry);
}

void SetInRead(std::function<void()> f) {
    std::lock_guard<std::mutex> lock(g_presentedMutex);
    g_inRead = std::move(f);
}

int Reports(const std::string& part) {
    int n = 0;
    for (const auto& v : kmdfsim::Violations()) n += v.find(part) != std::string::npos ? 1 : 0;
    return n;
}

class RulesTest : public ::testing::Test {
  protected:
    void SetUp() override { Start(WdfExecutionLevelInheritFromParent); }

    void Start(WDF_EXECUTION_LEVEL queueLevel) {
        kmdfsim::Reset();
        g_queueLevel = queueLevel;
        g_presented.clear();
        SetInRead(nullptr);
        g_completionIrql = 0xFF;
        g_cancelIrql = 0xFF;
        g_sentStatus = STATUS_PENDING;
        ASSERT_EQ(kmdfsim::LoadDriver(RuleImage), STATUS_SUCCESS);
        ASSERT_EQ(kmdfsim::AddDevice(), STATUS_SUCCESS);
        handle_ = um::Open(QXSPB_DEVICE_PATH);
        ASSERT_NE(handle_, nullptr);
        spin_ = nullptr;
        ASSERT_EQ(WdfSpinLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &spin_), STATUS_SUCCESS);
    }

    void TearDown() override {
        SetInRead(nullptr);
        um::Close(handle_);
        kmdfsim::UnloadDriver();
        kmdfsim::Reset();
    }

    Presented WaitPresented(size_t n) {
        for (int i = 0; i < 2000; i++) {
            {
                std::lock_guard<std::mutex> lock(g_presentedMutex);
                if (g_presented.size() >= n) return g_presented[n - 1];
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "request " << n << " never presented";
        return Presented{nullptr, {}, 0xFF};
    }

    // An open target on the default controller and a formatted write to it.
    void PrepareSend(WDFIOTARGET* target, WDFREQUEST* request) {
        static uint8_t bytes[2] = {7, 8};
        ASSERT_EQ(WdfIoTargetCreate(kmdfsim::DeviceHandle(), WDF_NO_OBJECT_ATTRIBUTES, target),
                  STATUS_SUCCESS);
        DECLARE_CONST_UNICODE_STRING(name, L"\\Device\\RESOURCE_HUB\\0000000100000002");
        WDF_IO_TARGET_OPEN_PARAMS params;
        WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &name, GENERIC_READ | GENERIC_WRITE);
        ASSERT_EQ(WdfIoTargetOpen(*target, &params), STATUS_SUCCESS);
        WDFMEMORY memory;
        ASSERT_EQ(
            WdfMemoryCreatePreallocated(WDF_NO_OBJECT_ATTRIBUTES, bytes, sizeof(bytes), &memory),
            STATUS_SUCCESS);
        ASSERT_EQ(WdfRequestCreate(WDF_NO_OBJECT_ATTRIBUTES, *target, request), STATUS_SUCCESS);
        ASSERT_EQ(WdfIoTargetFormatRequestForWrite(*target, *request, memory, NULL, NULL),
                  STATUS_SUCCESS);
        WdfRequestSetCompletionRoutine(*request, RuleCompletion, WDF_NO_CONTEXT);
    }

    um::Handle* handle_ = nullptr;
    WDFSPINLOCK spin_ = nullptr;
};

// ---- IRQL ------------------------------------------------------------------------------

TEST_F(RulesTest, ASpinLockRaisesToDispatchLevelAndItsReleaseRestores) {
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    WdfSpinLockAcquire(spin_);
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    WdfSpinLockRelease(spin_);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

// Every method the driver calls that its header limits to PASSIVE_LEVEL, called
// once while a spin lock is held: one report naming it each.
TEST_F(RulesTest, PassiveLevelMethodsReportACallAtDispatchLevel) {
    WDFDEVICE device = kmdfsim::DeviceHandle();
    WDFWAITLOCK waitLock;
    ASSERT_EQ(WdfWaitLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &waitLock), STATUS_SUCCESS);
    WDFIOTARGET target;
    ASSERT_EQ(WdfIoTargetCreate(device, WDF_NO_OBJECT_ATTRIBUTES, &target), STATUS_SUCCESS);
    WDFKEY key;
    ASSERT_EQ(WdfDeviceOpenRegistryKey(device, PLUGPLAY_REGKEY_DEVICE, KEY_READ,
                                       WDF_NO_OBJECT_ATTRIBUTES, &key),
              STATUS_SUCCESS);
    DECLARE_CONST_UNICODE_STRING(name, L"\\Device\\RESOURCE_HUB\\0000000100000002");
    DECLARE_CONST_UNICODE_STRING(settings, L"Settings");
    DECLARE_CONST_UNICODE_STRING(value, L"ConnectInterrupt");
    DECLARE_CONST_UNICODE_STRING(link, L"\\DosDevices\\QXSPB2");
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, TRUE);

    struct Case {
        const char* api;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"WdfWaitLockAcquire called",
         [&] {
             WdfWaitLockAcquire(waitLock, NULL);
             WdfWaitLockRelease(waitLock);
         }},
        {"WdfIoTargetCreate",
         [&] {
             WDFIOTARGET t;
             WdfIoTargetCreate(device, WDF_NO_OBJECT_ATTRIBUTES, &t);
         }},
        {"WdfIoTargetOpen",
         [&] {
             WDF_IO_TARGET_OPEN_PARAMS params;
             WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &name,
                                                         GENERIC_READ | GENERIC_WRITE);
             WdfIoTargetOpen(target, &params);
         }},
        {"WdfIoTargetClose", [&] { WdfIoTargetClose(target); }},
        {"WdfDeviceOpenRegistryKey",
         [&] {
             WDFKEY k;
             WdfDeviceOpenRegistryKey(device, PLUGPLAY_REGKEY_DEVICE, KEY_READ,
                                      WDF_NO_OBJECT_ATTRIBUTES, &k);
         }},
        {"WdfRegistryOpenKey",
         [&] {
             WDFKEY k;
             WdfRegistryOpenKey(key, &settings, KEY_READ, WDF_NO_OBJECT_ATTRIBUTES, &k);
         }},
        {"WdfRegistryQueryULong",
         [&] {
             ULONG v;
             WdfRegistryQueryULong(key, &value, &v);
         }},
        {"WdfDeviceCreateSymbolicLink", [&] { WdfDeviceCreateSymbolicLink(device, &link); }},
        {"KeWaitForSingleObject",
         [&] { KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, NULL); }},
        {"WdfRequestSend (synchronous)",
         [&] {
             WDF_REQUEST_SEND_OPTIONS options;
             WDF_REQUEST_SEND_OPTIONS_INIT(&options, WDF_REQUEST_SEND_OPTION_SYNCHRONOUS);
             WdfRequestSend(NULL, target, &options);
         }},
        {"WdfRegistryClose", [&] { WdfRegistryClose(key); }},
    };
    for (const Case& c : cases) {
        kmdfsim::ClearDbgPrints();
        size_t before = kmdfsim::Violations().size();
        WdfSpinLockAcquire(spin_);
        c.call();
        WdfSpinLockRelease(spin_);
        std::vector<std::string> after = kmdfsim::Violations();
        ASSERT_GT(after.size(), before) << c.api << " was not reported";
        EXPECT_NE(after[before].find(std::string(c.api)), std::string::npos) << after[before];
        EXPECT_NE(after[before].find("IRQL 2"), std::string::npos) << after[before];
    }
}

TEST_F(RulesTest, PollingAWaitLockOrAnEventIsAllowedAtDispatchLevel) {
    WDFWAITLOCK waitLock;
    ASSERT_EQ(WdfWaitLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &waitLock), STATUS_SUCCESS);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    LONGLONG zero = 0;
    LARGE_INTEGER none;
    none.QuadPart = 0;
    WdfSpinLockAcquire(spin_);
    EXPECT_EQ(WdfWaitLockAcquire(waitLock, &zero), STATUS_SUCCESS);
    EXPECT_EQ(KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &none), STATUS_TIMEOUT);
    WdfSpinLockRelease(spin_);
    WdfWaitLockRelease(waitLock);
    WdfWaitLockAcquire(waitLock, NULL);
    WdfWaitLockAcquire(waitLock, NULL);  // wait locks do not nest
    EXPECT_EQ(Reports("WdfWaitLockAcquire of a wait lock this thread already holds"), 1);
    WdfWaitLockRelease(waitLock);
    EXPECT_EQ(kmdfsim::Violations().size(), 1u);
}

TEST_F(RulesTest, CompletionAndCancelRoutinesRunAtDispatchLevel) {
    WDFIOTARGET target;
    WDFREQUEST request;
    PrepareSend(&target, &request);
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Inline);
    ASSERT_TRUE(WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS));
    EXPECT_EQ(g_completionIrql.load(), DISPATCH_LEVEL);
    EXPECT_EQ(g_sentStatus.load(), STATUS_SUCCESS);

    SetInRead([] {
        WDFREQUEST r;
        {
            std::lock_guard<std::mutex> lock(g_presentedMutex);
            r = g_presented.back().request;
        }
        EXPECT_EQ(WdfRequestMarkCancelableEx(r, RuleCancel), STATUS_SUCCESS);
    });
    uint8_t b;
    um::Io* io = um::Read(handle_, &b, 1);
    WaitPresented(1);
    EXPECT_TRUE(um::Cancel(io));
    ASSERT_TRUE(um::Wait(io, 2000));
    EXPECT_EQ(g_cancelIrql.load(), DISPATCH_LEVEL);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
    um::Release(io);
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

// ---- Sequential queues ---------------------------------------------------------------------

// The framework presents the next request from inside WdfRequestComplete, in
// the completing thread and at its IRQL (here with a spin lock held).
TEST_F(RulesTest, TheNextRequestIsPresentedInsideTheCompletionAtItsIrql) {
    uint8_t a, b;
    um::Io* first = um::Read(handle_, &a, 1);
    WDFREQUEST parked = WaitPresented(1).request;
    um::Io* second = um::Read(handle_, &b, 1);
    WdfSpinLockAcquire(spin_);
    WdfRequestComplete(parked, STATUS_SUCCESS);
    WdfSpinLockRelease(spin_);
    Presented next = WaitPresented(2);
    EXPECT_EQ(next.thread, std::this_thread::get_id());
    EXPECT_EQ(next.irql, DISPATCH_LEVEL);
    WdfRequestComplete(next.request, STATUS_SUCCESS);
    um::Release(first);
    um::Release(second);
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

// The fault this is for: a callback that takes a wait lock, presented from a
// completion at DISPATCH_LEVEL.
TEST_F(RulesTest, AWaitLockInACallbackPresentedAtDispatchLevelIsReported) {
    WDFWAITLOCK waitLock;
    ASSERT_EQ(WdfWaitLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &waitLock), STATUS_SUCCESS);
    uint8_t a, b;
    um::Io* first = um::Read(handle_, &a, 1);
    WDFREQUEST parked = WaitPresented(1).request;
    SetInRead([waitLock] {
        WdfWaitLockAcquire(waitLock, NULL);
        WdfWaitLockRelease(waitLock);
    });
    um::Io* second = um::Read(handle_, &b, 1);
    WdfSpinLockAcquire(spin_);
    WdfRequestComplete(parked, STATUS_SUCCESS);
    WdfSpinLockRelease(spin_);
    WdfRequestComplete(WaitPresented(2).request, STATUS_SUCCESS);
    EXPECT_EQ(Reports("WdfWaitLockAcquire called at IRQL 2"), 1);
    um::Release(first);
    um::Release(second);
}

TEST_F(RulesTest, APassiveQueueDefersTheNextRequestToAPassiveThread) {
    TearDown();
    Start(WdfExecutionLevelPassive);
    uint8_t a, b;
    um::Io* first = um::Read(handle_, &a, 1);
    WDFREQUEST parked = WaitPresented(1).request;
    um::Io* second = um::Read(handle_, &b, 1);
    WdfSpinLockAcquire(spin_);
    WdfRequestComplete(parked, STATUS_SUCCESS);
    WdfSpinLockRelease(spin_);
    Presented next = WaitPresented(2);
    EXPECT_NE(next.thread, std::this_thread::get_id());
    EXPECT_EQ(next.irql, PASSIVE_LEVEL);
    WdfRequestComplete(next.request, STATUS_SUCCESS);
    um::Release(first);
    um::Release(second);
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

// However the next request arrives (on the caller's thread, or through the
// queue's worker), it waits while the driver holds the current one.
TEST_F(RulesTest, ASequentialQueueHoldsTheNextRequestWhileOneIsCurrent) {
    for (bool inline_dispatch : {false, true}) {
        kmdfsim::SetInlineDispatch(inline_dispatch);
        {
            std::lock_guard<std::mutex> lock(g_presentedMutex);
            g_presented.clear();
        }
        uint8_t a, b;
        um::Io* first = um::Read(handle_, &a, 1);
        WDFREQUEST parked = WaitPresented(1).request;
        um::Io* second = um::Read(handle_, &b, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        {
            std::lock_guard<std::mutex> lock(g_presentedMutex);
            EXPECT_EQ(g_presented.size(), 1u) << "inline " << inline_dispatch;
        }
        WdfRequestComplete(parked, STATUS_SUCCESS);
        WdfRequestComplete(WaitPresented(2).request, STATUS_SUCCESS);
        um::Release(first);
        um::Release(second);
    }
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

// ---- Requests -------------------------------------------------------------------------------

// Misuses of a request and of spin locks the verifier stops on: one break,
// one report each.
TEST_F(RulesTest, MisusesOfRequestsAndSpinLocksAreEachReported) {
    WDFSPINLOCK second;
    ASSERT_EQ(WdfSpinLockCreate(WDF_NO_OBJECT_ATTRIBUTES, &second), STATUS_SUCCESS);
    struct Case {
        const char* report;
        std::function<void(WDFREQUEST)> misuse;
    };
    const Case cases[] = {
        {"WdfSpinLockRelease of a spin lock this thread does not hold",
         [&](WDFREQUEST r) {
             WdfSpinLockRelease(spin_);
             WdfRequestComplete(r, STATUS_SUCCESS);
         }},
        {"already holds (deadlock)",
         [&](WDFREQUEST r) {
             WdfSpinLockAcquire(spin_);
             WdfSpinLockAcquire(spin_);
             WdfSpinLockRelease(spin_);
             WdfRequestComplete(r, STATUS_SUCCESS);
         }},
        {"request marked cancelable twice",
         [](WDFREQUEST r) {
             EXPECT_EQ(WdfRequestMarkCancelableEx(r, RuleCancel), STATUS_SUCCESS);
             WdfRequestMarkCancelableEx(r, RuleCancel);
             EXPECT_EQ(WdfRequestUnmarkCancelable(r), STATUS_SUCCESS);
             WdfRequestComplete(r, STATUS_SUCCESS);
         }},
        {"still marked cancelable",
         [](WDFREQUEST r) {
             ASSERT_EQ(WdfRequestMarkCancelableEx(r, RuleCancel), STATUS_SUCCESS);
             WdfRequestComplete(r, STATUS_SUCCESS);
         }},
        {"completing a request that is still sent to a target",
         [](WDFREQUEST r) {
             WDFIOTARGET target;
             ASSERT_EQ(
                 WdfIoTargetCreate(kmdfsim::DeviceHandle(), WDF_NO_OBJECT_ATTRIBUTES, &target),
                 STATUS_SUCCESS);
             DECLARE_CONST_UNICODE_STRING(name, L"\\Device\\RESOURCE_HUB\\0000000100000002");
             WDF_IO_TARGET_OPEN_PARAMS params;
             WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &name,
                                                         GENERIC_READ | GENERIC_WRITE);
             ASSERT_EQ(WdfIoTargetOpen(target, &params), STATUS_SUCCESS);
             WDFMEMORY memory;
             ASSERT_EQ(WdfRequestRetrieveOutputMemory(r, &memory), STATUS_SUCCESS);
             ASSERT_EQ(WdfIoTargetFormatRequestForRead(target, r, memory, NULL, NULL),
                       STATUS_SUCCESS);
             kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Hold);
             ASSERT_TRUE(WdfRequestSend(r, target, WDF_NO_SEND_OPTIONS));
             WdfRequestComplete(r, STATUS_SUCCESS);
         }},
        // Released out of order: the first release restores the IRQL from
        // before both, and the second lock is then released below
        // DISPATCH_LEVEL (on a thread of its own, which it leaves raised).
        {"WdfSpinLockRelease below DISPATCH_LEVEL",
         [&](WDFREQUEST r) {
             std::thread([&] {
                 WdfSpinLockAcquire(spin_);
                 WdfSpinLockAcquire(second);
                 WdfSpinLockRelease(spin_);
                 WdfSpinLockRelease(second);
             }).join();
             WdfRequestComplete(r, STATUS_SUCCESS);
         }},
    };
    for (const Case& c : cases) {
        uint8_t b;
        um::Io* io = um::Read(handle_, &b, 1);
        WDFREQUEST r;
        {
            // The newest request of the driver.
            WaitPresented(1);
            std::lock_guard<std::mutex> lock(g_presentedMutex);
            r = g_presented.back().request;
        }
        size_t before = kmdfsim::Violations().size();
        c.misuse(r);
        EXPECT_EQ(Reports(c.report), 1) << c.report;
        EXPECT_EQ(kmdfsim::Violations().size(), before + 1) << c.report;
        EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL) << c.report;
        um::Release(io);
        std::lock_guard<std::mutex> lock(g_presentedMutex);
        g_presented.clear();
    }
}

TEST_F(RulesTest, ASecondCompletionIsReportedHoweverManyRequestsCameBetween) {
    uint8_t b;
    um::Io* io = um::Read(handle_, &b, 1);
    WDFREQUEST stale = WaitPresented(1).request;
    WdfRequestComplete(stale, STATUS_SUCCESS);
    um::Release(io);
    SetInRead([] {
        WDFREQUEST r;
        {
            std::lock_guard<std::mutex> lock(g_presentedMutex);
            r = g_presented.back().request;
        }
        WdfRequestComplete(r, STATUS_SUCCESS);
    });
    for (int i = 0; i < 3000; i++) ASSERT_EQ(um::ReadSync(handle_, &b, 1), STATUS_SUCCESS);
    EXPECT_TRUE(kmdfsim::Violations().empty());
    WdfRequestComplete(stale, STATUS_SUCCESS);
    EXPECT_EQ(Reports("already completed"), 1);
}

TEST_F(RulesTest, CancellingASentRequestBeforeTheSendCompletesItCancelled) {
    WDFIOTARGET target;
    WDFREQUEST request;
    PrepareSend(&target, &request);
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Hold);
    EXPECT_FALSE(WdfRequestCancelSentRequest(request));  // nothing sent yet
    ASSERT_TRUE(WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS));
    EXPECT_EQ(g_sentStatus.load(), STATUS_CANCELLED);
    EXPECT_EQ(kmdfsim::Spb().Held(), 0);
    EXPECT_TRUE(kmdfsim::Spb().Transactions().empty());

    // Reusing the request clears the cancellation.
    WDF_REQUEST_REUSE_PARAMS reuse;
    WDF_REQUEST_REUSE_PARAMS_INIT(&reuse, WDF_REQUEST_REUSE_NO_FLAGS, STATUS_SUCCESS);
    ASSERT_EQ(WdfRequestReuse(request, &reuse), STATUS_SUCCESS);
    WDFMEMORY memory;
    static uint8_t byte = 1;
    ASSERT_EQ(WdfMemoryCreatePreallocated(WDF_NO_OBJECT_ATTRIBUTES, &byte, 1, &memory),
              STATUS_SUCCESS);
    ASSERT_EQ(WdfIoTargetFormatRequestForWrite(target, request, memory, NULL, NULL),
              STATUS_SUCCESS);
    WdfRequestSetCompletionRoutine(request, RuleCompletion, WDF_NO_CONTEXT);
    g_sentStatus = STATUS_PENDING;
    ASSERT_TRUE(WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS));
    EXPECT_EQ(kmdfsim::Spb().Held(), 1);
    EXPECT_EQ(kmdfsim::Spb().ReleaseHeld(), 1);
    EXPECT_EQ(g_sentStatus.load(), STATUS_SUCCESS);
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

TEST_F(RulesTest, AHeldCompletionKeepsTheRequestSentUntilItRuns) {
    WDFIOTARGET target;
    WDFREQUEST request;
    PrepareSend(&target, &request);
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Inline);
    kmdfsim::HoldCompletionRoutines(true);
    ASSERT_TRUE(WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS));
    EXPECT_EQ(kmdfsim::HeldCompletionRoutines(), 1);
    EXPECT_EQ(g_sentStatus.load(), STATUS_PENDING);
    std::atomic<bool> closed{false};
    std::thread closer([&] {
        WdfIoTargetClose(target);
        closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(closed.load()) << "the target closed under a completion still owed";
    kmdfsim::RunHeldCompletionRoutines();
    closer.join();
    EXPECT_EQ(g_sentStatus.load(), STATUS_SUCCESS);
    EXPECT_TRUE(kmdfsim::Violations().empty());
}

// A cancel that reached the bus controller for a send that never comes (the
// request completed at once, its completion still owed) is the request's own
// business: it must not outlive the request and cancel the first send of a
// new request that happens to be made at the same address.
TEST_F(RulesTest, AStaleCancelNeverReachesALaterRequest) {
    WDFIOTARGET target;
    WDFREQUEST request;
    PrepareSend(&target, &request);
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Inline);
    EXPECT_FALSE(WdfRequestCancelSentRequest(request));  // before the send: it completes cancelled
    kmdfsim::HoldCompletionRoutines(true);
    ASSERT_TRUE(WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS));
    ASSERT_EQ(kmdfsim::HeldCompletionRoutines(), 1);
    EXPECT_TRUE(WdfRequestCancelSentRequest(request));  // still sent: this cancel reaches the bus
    kmdfsim::RunHeldCompletionRoutines();
    kmdfsim::HoldCompletionRoutines(false);
    EXPECT_EQ(g_sentStatus.load(), STATUS_CANCELLED);
    const void* old_address = request;
    WdfObjectDelete(request);

    // New requests until one lands where the old one was (the heap hands
    // the same block back at once; a quarantining allocator may not).
    static uint8_t byte = 3;
    bool same_address = false;
    for (int i = 0; i < 50 && !same_address; ++i) {
        ASSERT_EQ(WdfRequestCreate(WDF_NO_OBJECT_ATTRIBUTES, target, &request), STATUS_SUCCESS);
        WDFMEMORY memory;
        ASSERT_EQ(WdfMemoryCreatePreallocated(WDF_NO_OBJECT_ATTRIBUTES, &byte, 1, &memory),
                  STATUS_SUCCESS);
        ASSERT_EQ(WdfIoTargetFormatRequestForWrite(target, request, memory, NULL, NULL),
                  STATUS_SUCCESS);
        WdfRequestSetCompletionRoutine(request, RuleCompletion, WDF_NO_CONTEXT);
        same_address = static_cast<const void*>(request) == old_address;
        g_sentStatus = STATUS_PENDING;
        ASSERT_TRUE(WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS));
        EXPECT_EQ(g_sentStatus.load(), STATUS_SUCCESS)
            << "send " << i << (same_address ? " at the old address" : "");
        WdfObjectDelete(request);
        WdfObjectDelete(memory);
    }
    EXPECT_TRUE(kmdfsim::Violations().empty());
    if (!same_address) GTEST_SKIP() << "no new request was made at the old address";
}

// ---- Exclusive devices and the INF
// ----------------------------------------------------------------

TEST_F(RulesTest, AnExclusiveDeviceRefusesASecondOpenUntilTheFirstIsClosed) {
    um::Close(handle_);
    kmdfsim::SetDeviceProperties({"", true});
    handle_ = um::Open(QXSPB_DEVICE_PATH);
    ASSERT_NE(handle_, nullptr);
    um::NtStatus status = 0;
    EXPECT_EQ(um::Open(QXSPB_DEVICE_PATH, &status), nullptr);
    EXPECT_EQ(status, STATUS_ACCESS_DENIED);
    um::Close(handle_);
    handle_ = um::Open(QXSPB_DEVICE_PATH, &status);
    EXPECT_NE(handle_, nullptr);
    EXPECT_EQ(status, STATUS_SUCCESS);
}

TEST_F(RulesTest, TheSecurityDescriptorDecidesWhoMayOpen) {
    struct Case {
        const char* sddl;
        const char* account;
        bool allowed;
    };
    const Case cases[] = {
        {"D:P(A;;GA;;;SY)(A;;GA;;;BA)", "SY", true},
        {"D:P(A;;GA;;;SY)(A;;GA;;;BA)", "BA", true},
        {"D:P(A;;GA;;;SY)(A;;GA;;;BA)", "BU", false},
        {"D:P(A;;GR;;;WD)", "SY", false},  // read only: no read-write open
        {"D:P(A;;GRGW;;;WD)", "BU", true},
        {"D:P(D;;GA;;;BU)(A;;GA;;;WD)", "BU", false},
        {"", "BU", true},
    };
    for (const Case& c : cases) {
        kmdfsim::SetDeviceProperties({c.sddl, false});
        um::NtStatus status = 0;
        um::Handle* h = um::Open(QXSPB_DEVICE_PATH, &status, c.account);
        EXPECT_EQ(h != nullptr, c.allowed) << c.sddl << " " << c.account;
        EXPECT_EQ(status, c.allowed ? STATUS_SUCCESS : STATUS_ACCESS_DENIED)
            << c.sddl << " " << c.account;
        um::Close(h);
    }
}

TEST(InfProperties, ReadsSecurityAndExclusiveFromTheHardwareAddReg) {
    struct Case {
        const char* text;
        bool ok;
        const char* security;
        bool exclusive;
    };
    const Case cases[] = {
        {"[D.NT.HW]\nAddReg = "
         "R\n[R]\nHKR,,Security,,\"D:P(A;;GA;;;SY)\"\nHKR,,Exclusive,0x10001,1\n",
         true, "D:P(A;;GA;;;SY)", true},
        {"[D.NT.HW]\nAddReg=R ; comment\n[R]\nHKR,,Exclusive,0x00010001,0\n", true, "", false},
        {"[D.NT.HW]\nAddReg = A, B\n[A]\nHKR,,Security,,\"D:(A;;GA;;;WD)\" ; "
         "x\n[B]\nHKR,,Exclusive,0x10001,1\n",
         true, "D:(A;;GA;;;WD)", true},
        {"[R]\nHKR,,Exclusive,0x10001,1\n", true, "", false},  // not named by a hardware section
        {"[D.NT.HW]\nAddReg = R\n[R]\nHKR,Settings,Exclusive,0x10001,1\n", true, "",
         false},  // another key
        {"[D.NT.HW]\nAddReg = R\n[R]\nHKR,,Exclusive,,1\n", false, "",
         false},  // a string, not a DWORD
        {"[D.NT.HW]\nAddReg = R\n[R]\nHKR,,Exclusive,0x10001,\n", false, "", false},
        {"[D.NT.HW]\nAddReg = Missing\n", false, "", false},
    };
    std::string path = testing::TempDir() + "kmdfsim_inf_case.inf";
    for (const Case& c : cases) {
        FILE* f = fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        fputs(c.text, f);
        fclose(f);
        kmdfsim::DeviceProperties p;
        std::string error;
        EXPECT_EQ(kmdfsim::DevicePropertiesFromInf(path, &p, &error), c.ok) << c.text << error;
        if (!c.ok) continue;
        EXPECT_EQ(p.security, c.security) << c.text;
        EXPECT_EQ(p.exclusive, c.exclusive) << c.text;
    }
    remove(path.c_str());
}

TEST(InfProperties, TheDriverInfMakesTheDeviceExclusiveForSystemAndAdministrators) {
    kmdfsim::DeviceProperties p;
    std::string error;
    ASSERT_TRUE(kmdfsim::DevicePropertiesFromInf(kmdfsim::VeltraneInfPath(), &p, &error)) << error;
    EXPECT_TRUE(p.exclusive);
    EXPECT_EQ(p.security, "D:P(A;;GA;;;SY)(A;;GA;;;BA)");
}

}  // namespace
