// The simulation must stop a driver where the framework's verifier would: a
// second completion, a completion that leaves the cancel routine a dead
// request. A small driver of this test breaks those rules on purpose.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "kmdf/kmdfsim.h"
#include "kmdf/usermode.h"
#include "tests/unit/kmdf/read_driver.h"

namespace {

namespace um = kmdfsim::um;

enum class Mode { CompleteTwice, ParkCancelable, ParkPlain, Count };
Mode g_mode = Mode::Count;
std::atomic<WDFREQUEST> g_parked{nullptr};
std::atomic<int> g_reads{0};
std::atomic<int> g_cleanups{0};
std::atomic<NTSTATUS> g_sentStatus{STATUS_PENDING};

EVT_WDF_IO_QUEUE_IO_READ TinyRead;
EVT_WDF_REQUEST_CANCEL TinyCancel;
EVT_WDF_OBJECT_CONTEXT_CLEANUP TinyCleanup;
EVT_WDF_REQUEST_COMPLETION_ROUTINE TinyCompletion;

VOID TinyCancel(WDFREQUEST Request) {
    WdfRequestComplete(Request, STATUS_CANCELLED);
}
VOID TinyCleanup(WDFOBJECT) {
    g_cleanups++;
}
VOID TinyCompletion(WDFREQUEST, WDFIOTARGET, PWDF_REQUEST_COMPLETION_PARAMS Params, WDFCONTEXT) {
    g_sentStatus = Params->IoStatus.Status;
}

VOID TinyRead(WDFQUEUE, WDFREQUEST Request, size_t) {
    g_reads++;
    switch (g_mode) {
        case Mode::CompleteTwice:
            WdfRequestComplete(Request, STATUS_SUCCESS);
            WdfRequestComplete(Request, STATUS_SUCCESS);
            break;
        case Mode::ParkCancelable:
            EXPECT_EQ(WdfRequestMarkCancelableEx(Request, TinyCancel), STATUS_SUCCESS);
            g_parked = Request;
            break;
        case Mode::ParkPlain:
            g_parked = Request;
            break;
        case Mode::Count:
            WdfRequestCompleteWithInformation(Request, STATUS_SUCCESS, 0);
            break;
    }
}

bool Reported(const std::string& part) {
    for (const auto& v : kmdfsim::Violations()) {
        if (v.find(part) != std::string::npos) return true;
    }
    return false;
}

class SimulationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kmdfsim::Reset();
        g_parked = nullptr;
        g_reads = 0;
        g_cleanups = 0;
        ASSERT_EQ(kmdfsim::LoadDriver(kmdftest::ReadDriverImage<TinyRead>), STATUS_SUCCESS);
        ASSERT_EQ(kmdfsim::AddDevice(), STATUS_SUCCESS);
        handle_ = um::Open(QXSPB_DEVICE_PATH);
        ASSERT_NE(handle_, nullptr);
    }
    void TearDown() override {
        um::Close(handle_);
        kmdfsim::UnloadDriver();
        EXPECT_EQ(kmdfsim::LiveObjects(), 0u);
        kmdfsim::Reset();
    }
    um::Handle* handle_ = nullptr;
};

TEST_F(SimulationTest, ASecondCompletionIsReported) {
    g_mode = Mode::CompleteTwice;
    uint8_t b;
    EXPECT_EQ(um::ReadSync(handle_, &b, 1), STATUS_SUCCESS);
    EXPECT_TRUE(Reported("already completed"));
}

TEST_F(SimulationTest, CompletingBeforeTheOwedCancelRoutineIsReported) {
    g_mode = Mode::ParkCancelable;
    kmdfsim::HoldCancelRoutines(true);
    uint8_t b;
    um::Io* io = um::Read(handle_, &b, 1);
    ASSERT_NE(g_parked.load(), nullptr);
    EXPECT_TRUE(um::Cancel(io));
    // Cancellation has begun but the routine was not called yet: unmarking fails.
    EXPECT_EQ(WdfRequestUnmarkCancelable(g_parked), STATUS_CANCELLED);
    EXPECT_FALSE(Reported("owed"));
    WdfRequestComplete(g_parked, STATUS_SUCCESS);
    EXPECT_TRUE(Reported("owed"));
    kmdfsim::RunHeldCancelRoutines();  // not called on the completed request
    um::Release(io);
}

TEST_F(SimulationTest, MarkingARequestCancelledMeanwhileFails) {
    g_mode = Mode::ParkPlain;
    uint8_t b;
    um::Io* io = um::Read(handle_, &b, 1);
    ASSERT_NE(g_parked.load(), nullptr);
    EXPECT_TRUE(um::Cancel(io));
    EXPECT_FALSE(um::Done(io));  // the driver owns it and it is not cancelable
    EXPECT_EQ(WdfRequestMarkCancelableEx(g_parked, TinyCancel), STATUS_CANCELLED);
    WdfRequestComplete(g_parked, STATUS_CANCELLED);
    EXPECT_EQ(um::Status(io), STATUS_CANCELLED);
    EXPECT_TRUE(kmdfsim::Violations().empty());
    um::Release(io);
}

TEST_F(SimulationTest, ZeroLengthReadsNeverReachTheDriver) {
    g_mode = Mode::Count;
    uint8_t b;
    EXPECT_EQ(um::ReadSync(handle_, &b, 0), STATUS_SUCCESS);
    EXPECT_EQ(g_reads.load(), 0);
    EXPECT_EQ(um::ReadSync(handle_, &b, 1), STATUS_SUCCESS);
    EXPECT_EQ(g_reads.load(), 1);
}

TEST_F(SimulationTest, DeletingAnOpenTargetCancelsWhatWasSentAndChildrenGoWithParents) {
    WDFDEVICE device = kmdfsim::DeviceHandle();
    WDFIOTARGET target;
    ASSERT_EQ(WdfIoTargetCreate(device, WDF_NO_OBJECT_ATTRIBUTES, &target), STATUS_SUCCESS);

    const wchar_t* badNames[] = {
        L"\\Device\\RESOURCE_HUB\\000000010000002",    // 15 digits
        L"\\Device\\RESOURCE_HUB\\00000001000000020",  // 17 digits
        L"\\Device\\RESOURCE_HUB\\00000001000000g2", L"\\Device\\RESOURCE\\0000000100000002",
        L"\\Device\\RESOURCE_HUB\\0000000000000009"};  // no controller there
    for (const wchar_t* name : badNames) {
        UNICODE_STRING u;
        RtlInitUnicodeString(&u, name);
        WDF_IO_TARGET_OPEN_PARAMS params;
        WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &u, GENERIC_READ | GENERIC_WRITE);
        EXPECT_EQ(WdfIoTargetOpen(target, &params), STATUS_OBJECT_NAME_NOT_FOUND);
    }
    UNICODE_STRING u;
    RtlInitUnicodeString(&u, L"\\Device\\RESOURCE_HUB\\0000000100000002");
    WDF_IO_TARGET_OPEN_PARAMS params;
    WDF_IO_TARGET_OPEN_PARAMS_INIT_OPEN_BY_NAME(&params, &u, GENERIC_READ | GENERIC_WRITE);
    ASSERT_EQ(WdfIoTargetOpen(target, &params), STATUS_SUCCESS);

    static uint8_t bytes[4] = {1, 2, 3, 4};
    WDF_OBJECT_ATTRIBUTES attributes;
    WDF_OBJECT_ATTRIBUTES_INIT(&attributes);
    attributes.ParentObject = device;
    attributes.EvtCleanupCallback = TinyCleanup;
    WDFMEMORY memory;
    ASSERT_EQ(WdfMemoryCreatePreallocated(&attributes, bytes, sizeof(bytes), &memory),
              STATUS_SUCCESS);
    WDFREQUEST request;
    ASSERT_EQ(WdfRequestCreate(&attributes, target, &request), STATUS_SUCCESS);
    ASSERT_EQ(WdfIoTargetFormatRequestForWrite(target, request, memory, NULL, NULL),
              STATUS_SUCCESS);
    WdfRequestSetCompletionRoutine(request, TinyCompletion, WDF_NO_CONTEXT);
    kmdfsim::Spb().SetMode(kmdfsim::SpbMode::Hold);
    g_sentStatus = STATUS_PENDING;
    ASSERT_TRUE(WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS));
    EXPECT_EQ(g_sentStatus.load(), STATUS_PENDING);

    WdfObjectDelete(target);
    EXPECT_EQ(g_sentStatus.load(), STATUS_CANCELLED);
    EXPECT_FALSE(WdfRequestSend(request, target, WDF_NO_SEND_OPTIONS));  // the target is gone
    EXPECT_TRUE(Reported("invalid or deleted handle"));

    size_t before = kmdfsim::LiveObjects();
    kmdfsim::UnloadDriver();  // the device takes the memory and the request with it
    EXPECT_EQ(g_cleanups.load(), 2);
    EXPECT_LT(kmdfsim::LiveObjects(), before);
}

}  // namespace
