// The providers' memory seam's one contract: what the provider objects and
// the records of qx_wifi_getCSI rely on, the same on every half.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "daemon/wifi/os_provider_mem.h"
#include "tests/unit/daemon/wifi/provider_mem_contract.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using qx::os::ProviderAlloc;
using qx::os::ProviderFree;

constexpr size_t kBlock = 4096;

TEST(ProviderMemContractTest, EachHalfAnswersAsWindows) {
    ProviderMemRig& rig = Rig();
    // Gated: the row needs a half whose heap can be made to run out.
    const std::vector<GatedRow> rows = {
        {"a block comes zero-filled, even where a written one was given back", false,
         [] {
             void* first = ProviderAlloc(kBlock);
             if (first == nullptr) return std::string("no block");
             std::memset(first, 0xAB, kBlock);
             ProviderFree(first);
             auto* block = static_cast<uint8_t*>(ProviderAlloc(kBlock));
             if (block == nullptr) return std::string("no block");
             size_t dirty = 0;
             for (size_t i = 0; i < kBlock; ++i) dirty += block[i] != 0;
             ProviderFree(block);
             return "dirty bytes " + std::to_string(dirty);
         },
         "dirty bytes 0"},
        {"null given back is nothing", false,
         [] {
             ProviderFree(nullptr);
             return std::string("done");
         },
         "done"},
        {"no memory: null, and the next one is had again", true,
         [&rig] {
             rig.FailNextAlloc();
             void* failed = ProviderAlloc(kBlock);
             void* next = ProviderAlloc(kBlock);
             std::string out = std::string(failed == nullptr ? "null" : "a block") +
                               (next != nullptr ? ", then a block" : ", then null");
             ProviderFree(failed);
             ProviderFree(next);
             return out;
         },
         "null, then a block"},
    };
    ExpectEachRow(rig, rows, rig.CanFail());
}

}  // namespace
}  // namespace qxtest
