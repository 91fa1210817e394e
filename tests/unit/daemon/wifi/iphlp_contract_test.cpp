// The adapter list seam's one contract: what the daemon's search for its
// adapter by MAC relies on in GetAdaptersInfo's answers, the same on every
// half. Rows marked laid_out need the rig's own world.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "daemon/wifi/os_iphlp.h"
#include "tests/unit/daemon/wifi/iphlp_contract.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using qx::os::AdapterInfoRecord;
using qx::os::GetAdaptersInfo;

constexpr uint32_t kRecord = sizeof(AdapterInfoRecord);
constexpr uint32_t kLoopbackType = 24;

uint32_t Needed() {
    uint32_t size = 0;
    GetAdaptersInfo(nullptr, &size);
    return size;
}

// The list in a buffer of the size it asked for (records hold pointers: the
// buffer is of 8-byte words); empty when that failed.
std::vector<uint64_t> Fetch(uint32_t* rc) {
    uint32_t size = Needed();
    std::vector<uint64_t> buffer((size + 7) / 8);
    *rc = buffer.empty() ? 1 : GetAdaptersInfo(buffer.data(), &size);
    if (*rc != 0) buffer.clear();
    return buffer;
}

std::string Mac(const AdapterInfoRecord& a) {
    char text[16] = {};
    if (a.AddressLength == 6) {
        std::snprintf(text, sizeof text, "%02x%02x%02x%02x%02x%02x", a.Address[0], a.Address[1],
                      a.Address[2], a.Address[3], a.Address[4], a.Address[5]);
    }
    return text;
}

TEST(AdaptersInfoContractTest, EachHalfAnswersAsWindows) {
    IpHelperRig& rig = Rig();
    const std::vector<GatedRow> rows = {
        {"asked without a buffer: overflow, and room for a record at least", false,
         [] {
             uint32_t size = 0;
             const uint32_t rc = GetAdaptersInfo(nullptr, &size);
             return std::to_string(rc) + (size >= kRecord ? " room for records" : " short");
         },
         "111 room for records"},
        {"no buffer but a size: overflow all the same", false,
         [] {
             uint32_t size = 16 * kRecord;
             return std::to_string(GetAdaptersInfo(nullptr, &size));
         },
         "111"},
        {"a buffer one byte short: overflow, the same size handed back", false,
         [] {
             const uint32_t needed = Needed();
             std::vector<uint64_t> buffer(needed / 8 + 1);
             uint32_t size = needed - 1;
             const uint32_t rc = GetAdaptersInfo(buffer.data(), &size);
             return std::to_string(rc) + (size == needed ? " same size" : " another size");
         },
         "111 same size"},
        {"a buffer of the size asked for: a chain within it, each name terminated", false,
         [] {
             uint32_t rc = 0;
             std::vector<uint64_t> buffer = Fetch(&rc);
             if (rc != 0) return "failed " + std::to_string(rc);
             const auto* begin = reinterpret_cast<const uint8_t*>(buffer.data());
             const uint8_t* end = begin + buffer.size() * 8;
             int n = 0;
             for (auto* a = reinterpret_cast<const AdapterInfoRecord*>(begin); a != nullptr;
                  a = a->Next, ++n) {
                 const auto* at = reinterpret_cast<const uint8_t*>(a);
                 if (at < begin || at + kRecord > end) return std::string("outside the buffer");
                 if (std::memchr(a->AdapterName, 0, sizeof a->AdapterName) == nullptr ||
                     a->AddressLength > sizeof a->Address)
                     return std::string("a record out of shape");
             }
             return std::string(n > 0 ? "chain within" : "empty chain");
         },
         "chain within"},
        {"the loopback interface is not listed", false,
         [] {
             uint32_t rc = 0;
             std::vector<uint64_t> buffer = Fetch(&rc);
             if (rc != 0) return "failed " + std::to_string(rc);
             for (auto* a = reinterpret_cast<const AdapterInfoRecord*>(buffer.data()); a != nullptr;
                  a = a->Next) {
                 if (a->Type == kLoopbackType) return std::string("loopback listed");
             }
             return std::string("no loopback");
         },
         "no loopback"},
        {"the adapters in order, each with its address and name", true,
         [] {
             uint32_t rc = 0;
             std::vector<uint64_t> buffer = Fetch(&rc);
             std::string out = std::to_string(rc);
             for (auto* a = reinterpret_cast<const AdapterInfoRecord*>(buffer.data());
                  rc == 0 && a != nullptr; a = a->Next)
                 out += " " + Mac(*a) + " " + a->AdapterName;
             return out;
         },
         "0 001b210a0b0c {0E3C4A72-5B1D-4E2F-9A61-7C2B3D4E5F60}"
         " 3ca9f4517e20 {6B29FC40-CA47-4067-B31D-00DD010662DA}"},
        {"room for one record of two: overflow, the size of both", true,
         [] {
             std::vector<uint64_t> buffer(kRecord / 8);
             uint32_t size = kRecord;
             const uint32_t rc = GetAdaptersInfo(buffer.data(), &size);
             return std::to_string(rc) + " size " + std::to_string(size);
         },
         "111 size 1408"},
        {"no adapters: no data", true,
         [&rig] {
             rig.ListAdapters(false, false);
             uint32_t size = 0;
             return std::to_string(GetAdaptersInfo(nullptr, &size));
         },
         "232"},
    };
    // A machine whose only interface is loopback has nothing to list: every
    // row here needs one adapter at least.
    uint32_t size = 0;
    if (!rig.CanLayOut() && GetAdaptersInfo(nullptr, &size) == 232)
        GTEST_SKIP() << "this machine lists no adapter";
    ExpectEachRow(rig, rows, rig.CanLayOut());
}

}  // namespace
}  // namespace qxtest
