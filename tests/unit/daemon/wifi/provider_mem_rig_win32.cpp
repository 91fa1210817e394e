// The providers' memory contract's rig under Wine (os_provider_mem_win32.cpp):
// the C runtime's own heap. It has memory for every row, so the rows of a
// failed allocation do not run here.
#include <gtest/gtest.h>

#include "tests/unit/daemon/wifi/provider_mem_contract.h"

namespace qxtest {
namespace {

class Win32Rig : public ProviderMemRig {
  public:
    bool CanFail() const override { return false; }
    std::string Run(const std::function<std::string()>& body) override { return body(); }
    void FailNextAlloc() override {
        ADD_FAILURE() << "the C runtime's heap cannot be made to fail";
    }
};

}  // namespace

ProviderMemRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
