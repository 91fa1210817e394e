// The bind as the simulation's loader holds an image to it: a malformed bind
// record is refused, the table reaches no method with globals that are not
// the bound driver's, an entry it does not implement stops the machine, and
// an image's unload unbinds.
#include <gtest/gtest.h>

#include <string>

#include "kmdf/kmdfsim.h"
#include "tests/unit/kmdf/read_driver.h"

// Calls through the table as the header's wrappers do, with globals of the
// test's choosing.
#pragma GCC diagnostic ignored "-Wcast-function-type"

namespace {

VOID NoRead(WDFQUEUE, WDFREQUEST Request, size_t) {
    WdfRequestComplete(Request, STATUS_SUCCESS);
}

int Reports(const std::string& part) {
    int n = 0;
    for (const auto& v : kmdfsim::Violations()) n += v.find(part) != std::string::npos ? 1 : 0;
    return n;
}

// An image that binds with a record of its own making, then unbinds again.
WCHAR g_component[] = L"KmdfLibrary";
WCHAR g_otherComponent[] = L"KmdfLib";
void (*g_spoil)(WDF_BIND_INFO&) = nullptr;
WDFFUNC* g_table = nullptr;
PWDF_DRIVER_GLOBALS g_globals = nullptr;

NTSTATUS HandMadeBind(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    WDF_BIND_INFO info = {sizeof(WDF_BIND_INFO),      g_component,        {1, 15, 0},
                          WdfFunctionTableNumEntries, (WDFFUNC*)&g_table, NULL};
    g_spoil(info);
    NTSTATUS status = WdfVersionBind(DriverObject, RegistryPath, &info, &g_globals);
    if (NT_SUCCESS(status)) WdfVersionUnbind(RegistryPath, &info, g_globals);
    return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
}

NTSTATUS FailingEntry(PDRIVER_OBJECT, PUNICODE_STRING) {
    return STATUS_INSUFFICIENT_RESOURCES;
}
NTSTATUS FailingImage(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    return FxDriverEntryWorker(DriverObject, RegistryPath, FailingEntry);
}
NTSTATUS ImageThatNeverBinds(PDRIVER_OBJECT, PUNICODE_STRING) {
    return STATUS_SUCCESS;
}

class BindTest : public ::testing::Test {
  protected:
    void SetUp() override { kmdfsim::Reset(); }
    void TearDown() override { kmdfsim::Reset(); }
};

TEST_F(BindTest, RefusesABindRecordOfAnotherShape) {
    struct Case {
        const char* what;
        void (*spoil)(WDF_BIND_INFO&);
        NTSTATUS status;
    };
    const Case cases[] = {
        {"record size of 1.13", [](WDF_BIND_INFO& i) { i.Size = 40; }, STATUS_INVALID_PARAMETER},
        {"another component", [](WDF_BIND_INFO& i) { i.Component = g_otherComponent; },
         STATUS_INVALID_PARAMETER},
        {"no table variable", [](WDF_BIND_INFO& i) { i.FuncTable = NULL; },
         STATUS_INVALID_PARAMETER},
        {"built for 1.13", [](WDF_BIND_INFO& i) { i.Version.Minor = 13; },
         STATUS_REVISION_MISMATCH},
        {"a table one entry short", [](WDF_BIND_INFO& i) { i.FuncCount = 443; },
         STATUS_REVISION_MISMATCH},
        {"the well-made record", [](WDF_BIND_INFO&) {}, STATUS_UNSUCCESSFUL},
    };
    for (const Case& c : cases) {
        kmdfsim::Reset();
        g_spoil = c.spoil;
        g_table = nullptr;
        EXPECT_EQ(kmdfsim::LoadDriver(HandMadeBind), c.status) << c.what;
        EXPECT_EQ(Reports("WdfVersionBind"), c.status == STATUS_UNSUCCESSFUL ? 0 : 1) << c.what;
        EXPECT_EQ(g_table != nullptr, c.status == STATUS_UNSUCCESSFUL) << c.what;
    }
}

TEST_F(BindTest, ReachesNoMethodWithoutTheBoundGlobals) {
    ASSERT_EQ(kmdfsim::LoadDriver(kmdftest::ReadDriverImage<NoRead>), STATUS_SUCCESS);
    WDF_DRIVER_GLOBALS stranger = {};
    WDFSPINLOCK lock;
    ((PFN_WDFSPINLOCKCREATE)WdfFunctions[WdfSpinLockCreateTableIndex])(&stranger, NULL, &lock);
    EXPECT_EQ(Reports("WdfSpinLockCreate called with driver globals the framework did not hand"),
              1);
    EXPECT_TRUE(kmdfsim::Violations().size() == 1);

    // The unload unbinds: the globals of the old bind reach nothing either.
    PWDF_DRIVER_GLOBALS old = WdfDriverGlobals;
    kmdfsim::UnloadDriver();
    EXPECT_EQ(kmdfsim::Violations().size(), 1u) << "the unload did not unbind";
    ((PFN_WDFSPINLOCKCREATE)WdfFunctions[WdfSpinLockCreateTableIndex])(old, NULL, &lock);
    EXPECT_EQ(Reports("WdfSpinLockCreate called while no driver is bound"), 1);
}

TEST_F(BindTest, AnEntryPointThatFailsUnbindsAndOneThatNeverBindsIsReported) {
    EXPECT_EQ(kmdfsim::LoadDriver(FailingImage), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(kmdfsim::Violations().empty());
    EXPECT_EQ(kmdfsim::LoadDriver(kmdftest::ReadDriverImage<NoRead>), STATUS_SUCCESS)
        << "the failed image left its bind behind";
    kmdfsim::Reset();
    EXPECT_EQ(kmdfsim::LoadDriver(ImageThatNeverBinds), STATUS_SUCCESS);
    EXPECT_EQ(Reports("without binding to the framework"), 1);
}

using BindDeathTest = BindTest;

TEST_F(BindDeathTest, AnUnimplementedEntryStopsTheMachineNamingItsIndex) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_EQ(kmdfsim::LoadDriver(kmdftest::ReadDriverImage<NoRead>), STATUS_SUCCESS);
    // Entry 0 (WdfChildListCreate) is no method of this framework.
    EXPECT_DEATH(((NTSTATUS(*)(PWDF_DRIVER_GLOBALS))WdfFunctions[0])(WdfDriverGlobals),
                 "entry 0 of the function table");
}

}  // namespace
