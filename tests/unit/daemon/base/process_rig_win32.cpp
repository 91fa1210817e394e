// The contract's rig under Wine (os_process_win32.cpp): each row in this test
// (one TEST to an executable) started again as a child, told its row through the environment,
// standard output to a pipe, the exit code from GetExitCodeProcess. What the test framework writes
// in the child before the row begins ends at a marker.
#include "common/win/win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/unit/daemon/base/process_contract.h"

namespace qxtest {
namespace {

constexpr char kMarker[] = "[the row begins]";
constexpr wchar_t kRowVariable[] = L"QX_PROCESS_CONTRACT_ROW";

class Win32Rig : public ProcessRig {
  public:
    Ended RunAlone(int row, const std::function<void()>&) override {
        Ended e;
        wchar_t exe[MAX_PATH];
        GetModuleFileNameW(nullptr, exe, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(exe) + L"\"";
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        HANDLE read = nullptr;
        HANDLE write = nullptr;
        if (!CreatePipe(&read, &write, &inherit, 0)) {
            ADD_FAILURE() << "CreatePipe: " << GetLastError();
            return e;
        }
        SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = write;
        si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION pi = {};
        SetEnvironmentVariableW(kRowVariable, std::to_wstring(row).c_str());
        const BOOL started = CreateProcessW(exe, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                            nullptr, &si, &pi);
        SetEnvironmentVariableW(kRowVariable, nullptr);
        CloseHandle(write);
        if (!started) {
            ADD_FAILURE() << "CreateProcessW: " << GetLastError();
            CloseHandle(read);
            return e;
        }
        std::string all;
        char buf[4096];
        DWORD n = 0;
        while (ReadFile(read, buf, sizeof buf, &n, nullptr) && n > 0) all.append(buf, n);
        CloseHandle(read);
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        const size_t at = all.find(kMarker);
        if (at == std::string::npos) ADD_FAILURE() << "the row never began: " << all;
        e.exit_code = code;
        e.out = at == std::string::npos ? all : all.substr(at + sizeof kMarker - 1);
        return e;
    }
};

}  // namespace

ProcessRig& Rig() {
    static Win32Rig rig;
    return rig;
}

int ChildRow() {
    wchar_t row[16];
    if (GetEnvironmentVariableW(kRowVariable, row, 16) == 0) return -1;
    std::fputs(kMarker, stdout);
    std::fflush(stdout);
    return _wtoi(row);
}

}  // namespace qxtest
