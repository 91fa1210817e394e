// The WLAN client seam's one contract: what the WLAN monitor relies on in
// the WLAN service's answers (handles, the interface list and its GUIDs'
// text, notifications), the same on every half.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "daemon/wifi/os_wlan.h"
#include "tests/unit/daemon/wifi/wlan_contract.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using namespace qx::os;

constexpr uint32_t kVersion = 2;  // Windows Vista's client
constexpr char kOurs[] = "{6B29FC40-CA47-4067-B31D-00DD010662DA}";
constexpr char kOther[] = "{1F2E3D4C-5B6A-4798-8675-64534231201F}";

std::string Text(const uint8_t guid[16]) {
    char16_t text[39] = {};
    if (FormatGuid(guid, text, 39) != 39) return "unformatted";
    std::string out;
    for (const char16_t* t = text; *t != 0; ++t) out += static_cast<char>(*t);
    return out;
}

// What the notification function saw.
struct Seen {
    int calls = 0;
    std::string line;
} g_seen;
int g_context = 0;

void OnNotice(const WlanNotice* n, void* context) {
    ++g_seen.calls;
    g_seen.line = std::to_string(n->Source) + "/" + std::to_string(n->Code) + " " +
                  Text(n->InterfaceGuid) + (context == &g_context ? " context" : " no context");
}

// Opens a client, registers it for sources (0: not at all), fires one
// notification, and closes the client before or after the firing.
std::string Notified(WlanRig& rig, uint32_t sources, uint32_t source, uint32_t code,
                     bool close_first) {
    g_seen = Seen{};
    WlanHandle h = nullptr;
    if (WlanOpen(kVersion, &h) != 0) return "open failed";
    if (WlanRegister(h, sources, true, OnNotice, &g_context) != 0) {
        WlanClose(h);
        return "register failed";
    }
    if (close_first) WlanClose(h);
    rig.Fire(source, code, true);
    if (!close_first) WlanClose(h);
    return std::to_string(g_seen.calls) + " " + g_seen.line;
}

std::string Listed() {
    WlanHandle h = nullptr;
    if (WlanOpen(kVersion, &h) != 0) return "open failed";
    WlanInterfaceList* list = nullptr;
    uint32_t rc = WlanEnumInterfaces(h, &list);
    std::string out = std::to_string(rc);
    if (rc == 0) {
        out += " count " + std::to_string(WlanInterfaceCount(list));
        for (uint32_t i = 0; i < WlanInterfaceCount(list); ++i) {
            uint8_t guid[16];
            WlanInterfaceGuid(list, i, guid);
            out += " " + Text(guid);
        }
        WlanFreeList(list);
    }
    WlanClose(h);
    return out;
}

// The result of a call on a handle that was opened and closed again.
std::string OnClosedHandle(const std::function<uint32_t(WlanHandle)>& call) {
    WlanHandle h = nullptr;
    if (WlanOpen(kVersion, &h) != 0) return "open failed";
    WlanClose(h);
    return std::to_string(call(h));
}

TEST(WlanContractTest, EachHalfAnswersAsWindows) {
    WlanRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"a client opened and closed; closed, its handle is not found",
         [] {
             WlanHandle h = nullptr;
             const uint32_t open = WlanOpen(kVersion, &h);
             const uint32_t close = WlanClose(h);
             return std::to_string(open) + " " + std::to_string(close) + " " +
                    std::to_string(WlanClose(h));
         },
         "0 0 6"},
        {"the interfaces in the service's order, as StringFromGUID2 writes them",
         [] { return Listed(); }, std::string("0 count 2 ") + kOther + " " + kOurs},
        {"no interface: an empty list, still the caller's to free",
         [&rig] {
             rig.ListInterfaces(0);
             return Listed();
         },
         "0 count 0"},
        {"a closed handle lists nothing",
         [] {
             return OnClosedHandle([](WlanHandle h) {
                 WlanInterfaceList* list = nullptr;
                 const uint32_t rc = WlanEnumInterfaces(h, &list);
                 if (rc == 0) WlanFreeList(list);
                 return rc;
             });
         },
         "6"},
        {"a closed handle registers nothing",
         [] {
             return OnClosedHandle([](WlanHandle h) {
                 return WlanRegister(h, kWlanSourceAcm, true, OnNotice, nullptr);
             });
         },
         "6"},
        {"a registered source's notification: its source, code, interface and context",
         [&rig] {
             return Notified(rig, kWlanSourceAcm | kWlanSourceMsm, kWlanSourceAcm, 21, false);
         },
         std::string("1 8/21 ") + kOurs + " context"},
        {"another source's notification is not delivered",
         [&rig] { return Notified(rig, kWlanSourceAcm, kWlanSourceMsm, 8, false); }, "0 "},
        {"nothing is delivered once the client is closed",
         [&rig] { return Notified(rig, kWlanSourceAcm, kWlanSourceAcm, 21, true); }, "0 "},
        {"a GUID's text takes 39 units with its zero; 38 are too few",
         [] {
             const uint8_t guid[16] = {0x40, 0xfc, 0x29, 0x6b, 0x47, 0xca, 0x67, 0x40,
                                       0xb3, 0x1d, 0x00, 0xdd, 0x01, 0x06, 0x62, 0xda};
             char16_t text[39];
             const int32_t whole = FormatGuid(guid, text, 39);
             std::memset(text, 0, sizeof text);
             return std::to_string(whole) + " " + std::to_string(FormatGuid(guid, text, 38));
         },
         "39 0"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
