// The Win32 owners against the real calls (Windows build, run under Wine):
// each alias pairs the right close call with the right failure value, so the
// object is gone once its owner is.
#include "common/win/win32.h"

#include <gtest/gtest.h>

namespace qx::win {
namespace {

bool HandleIsOpen(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

TEST(Win32OwnersTest, EventHandleIsClosedWithItsOwner) {
    HANDLE raw = nullptr;
    {
        UniqueHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(event);
        raw = event.get();
        EXPECT_TRUE(HandleIsOpen(raw));
    }
    EXPECT_FALSE(HandleIsOpen(raw));
}

TEST(Win32OwnersTest, FileHandleOwnerTakesCreateFilesFailureValue) {
    UniqueFileHandle missing(::CreateFileW(L"C:\\no\\such\\folder\\file.bin", GENERIC_READ, 0,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.get(), INVALID_HANDLE_VALUE);

    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    ASSERT_NE(::GetTempPathW(MAX_PATH, folder), 0u);
    ASSERT_NE(::GetTempFileNameW(folder, L"qxo", 0, path), 0u);
    {
        UniqueFileHandle file(::CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        ASSERT_TRUE(file);
        EXPECT_NE(::GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
    }
    // Delete-on-close shows that the one handle was really closed.
    EXPECT_EQ(::GetFileAttributesW(path), INVALID_FILE_ATTRIBUTES);
}

TEST(Win32OwnersTest, RegistryKeyFilledThroughPutIsClosed) {
    HKEY raw = nullptr;
    {
        UniqueHkey key;
        ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()),
                  ERROR_SUCCESS);
        ASSERT_TRUE(key);
        raw = key.get();
        DWORD subkeys = 0;
        EXPECT_EQ(::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr),
                  ERROR_SUCCESS);
    }
    DWORD subkeys = 0;
    EXPECT_EQ(::RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
}

TEST(Win32OwnersTest, BothHandlesOfAChildProcessAreClosed) {
    wchar_t command[] = L"cmd.exe /c exit 3";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    {
        UniqueProcessInformation child;
        ASSERT_TRUE(::CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                                     nullptr, nullptr, &startup, child.put()));
        ASSERT_TRUE(child);
        process = child.get().hProcess;
        thread = child.get().hThread;
        EXPECT_EQ(::WaitForSingleObject(process, 10000), WAIT_OBJECT_0);
        DWORD code = 0;
        EXPECT_TRUE(::GetExitCodeProcess(process, &code));
        EXPECT_EQ(code, 3u);
    }
    EXPECT_FALSE(HandleIsOpen(process));
    EXPECT_FALSE(HandleIsOpen(thread));
}

TEST(Win32OwnersTest, DeviceListIsDestroyed) {
    HDEVINFO raw = nullptr;
    {
        UniqueDevInfo devices(::SetupDiGetClassDevsW(nullptr, L"ACPI\\VLT0949", nullptr,
                                                     DIGCF_PRESENT | DIGCF_ALLCLASSES));
        ASSERT_TRUE(devices);
        raw = devices.get();
    }
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    EXPECT_FALSE(::SetupDiEnumDeviceInfo(raw, 0, &device));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(Win32OwnersTest, LibraryIsFreed) {
    // A system library this process has not loaded yet, so that the owner's
    // load is the only reference and its free unloads it.
    const wchar_t* name = nullptr;
    for (const wchar_t* candidate : {L"msimg32.dll", L"hid.dll", L"cabinet.dll", L"mscms.dll"}) {
        if (::GetModuleHandleW(candidate) == nullptr) {
            name = candidate;
            break;
        }
    }
    if (name == nullptr) GTEST_SKIP() << "every candidate library is loaded already";
    {
        UniqueLibrary library(::LoadLibraryW(name));
        ASSERT_TRUE(library);
        EXPECT_EQ(::GetModuleHandleW(name), library.get());
    }
    EXPECT_EQ(::GetModuleHandleW(name), nullptr);
}

TEST(Win32OwnersTest, WideStringCastsKeepTheUnits) {
    const char16_t text[] = u"QXSPB";
    EXPECT_EQ(::lstrlenW(W(text)), 5);
    EXPECT_EQ(U16(W(text)), text);
}

}  // namespace
}  // namespace qx::win
