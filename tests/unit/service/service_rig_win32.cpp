// The contract's rig under Wine (os_service_win32.cpp): the stand-in daemon
// is this test's own executable started again with an argument that makes it
// a child before the test framework begins: it writes its process id into a
// mark file (so that the rig sees it ran, and can ask for its exit code while
// the seam's handle keeps the process), then ends with the code it was given
// or sleeps until it is ended. Rows run with the system folder as the current
// directory, as a service's is, so that the program's bare name finds nothing.
#include "common/win/win32.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/unit/service/service_contract.h"

namespace qxtest {
namespace {

constexpr wchar_t kChildArgument[] = L" --qx-service-child ";

// The child's whole life, from a static initializer: it never reaches main.
bool RunAsChild() {
    const wchar_t* line = GetCommandLineW();
    const wchar_t* at = std::wcsstr(line, kChildArgument);
    if (at == nullptr) return false;
    wchar_t* rest = nullptr;
    const long code = std::wcstol(at + std::wcslen(kChildArgument), &rest, 10);
    while (*rest == L' ' || *rest == L'"') ++rest;
    std::wstring mark(rest);
    while (!mark.empty() && mark.back() == L'"') mark.pop_back();
    // Written aside and renamed, so that a mark that is there is whole.
    const std::wstring aside = mark + L".part";
    HANDLE file = CreateFileW(aside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    const DWORD pid = GetCurrentProcessId();
    DWORD written = 0;
    WriteFile(file, &pid, sizeof pid, &written, nullptr);
    CloseHandle(file);
    MoveFileExW(aside.c_str(), mark.c_str(), MOVEFILE_REPLACE_EXISTING);
    if (code >= 0) ExitProcess(static_cast<UINT>(code));
    for (;;) Sleep(INFINITE);
}

[[maybe_unused]] const bool g_is_child = RunAsChild();

std::wstring OwnPath() {
    wchar_t path[MAX_PATH];
    const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, n);
}

std::u16string U16(const std::wstring& s) {
    return std::u16string(s.begin(), s.end());
}

class Win32Rig : public ServiceRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        wchar_t before[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, before);
        wchar_t system[MAX_PATH];
        GetSystemDirectoryW(system, MAX_PATH);
        SetCurrentDirectoryW(system);
        std::string out = body();
        SetCurrentDirectoryW(before);
        for (const auto& mark : marks_) {
            DeleteFileW(mark.c_str());
            DeleteFileW((mark + L".part").c_str());
        }
        marks_.clear();
        return out;
    }
    std::u16string Program() override { return U16(OwnPath()); }
    std::u16string ProgramName() override {
        const std::wstring path = OwnPath();
        return U16(path.substr(path.rfind(L'\\') + 1));
    }
    std::u16string CommandLine(int exit_code) override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        marks_.push_back(std::wstring(temp) + L"qx-service-child-" +
                         std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++count_) +
                         L".mark");
        return U16(L"\"" + OwnPath() + L"\"" + kChildArgument + std::to_wstring(exit_code) +
                   L" \"" + marks_.back() + L"\"");
    }
    bool Ran(uint32_t ms) override {
        for (uint32_t waited = 0;; waited += 20) {
            if (GetFileAttributesW(marks_.back().c_str()) != INVALID_FILE_ATTRIBUTES) return true;
            if (waited >= ms) return false;
            Sleep(20);
        }
    }
    uint32_t ExitCode() override {
        HANDLE file = CreateFileW(marks_.back().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
        DWORD pid = 0;
        DWORD read = 0;
        if (file != INVALID_HANDLE_VALUE) {
            ReadFile(file, &pid, sizeof pid, &read, nullptr);
            CloseHandle(file);
        }
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        DWORD code = 0xDEAD;
        if (process == nullptr || !GetExitCodeProcess(process, &code)) {
            ADD_FAILURE() << "no exit code for process " << pid << ": " << GetLastError();
        }
        if (process != nullptr) CloseHandle(process);
        return code;
    }

    // Wine's GetModuleFileNameW cuts a path that does not fit as Windows XP
    // did, without the terminator; Windows since Vista terminates it. The
    // service never reads a cut path (the capacity coming back is its failure).
    bool LeavesOut(const char* row) override { return std::strcmp(row, kCutPathRow) == 0; }

  private:
    std::vector<std::wstring> marks_;
    int count_ = 0;
};

}  // namespace

ServiceRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
