// The contract's rig under Wine (os_program_win32.cpp): the prefix's own
// cmd.exe, which ends with the code "/c exit N" names.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include "tests/unit/uninstall/program_contract.h"

namespace qxtest {
namespace {

class Win32Rig : public ProgramRig {
  public:
    std::string Run(const std::function<std::string()>& body) override { return body(); }
    std::u16string ExitingProgram() override {
        wchar_t dir[MAX_PATH];
        const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
        std::u16string path(reinterpret_cast<const char16_t*>(dir), n);
        return path + u"\\cmd.exe";
    }
};

}  // namespace

ProgramRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
