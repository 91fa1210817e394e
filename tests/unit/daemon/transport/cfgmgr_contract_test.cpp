// What each half of the Configuration Manager seam answers: locating the
// controller's node, listing the instances under its enumerator, and
// disabling and enabling it. Every half must give the same lines; a half
// that cannot refuse some way skips that row.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "daemon/transport/os_cfgmgr.h"
#include "tests/unit/daemon/transport/cfgmgr_contract.h"
#include "tests/support/text16.h"

namespace qxtest {
namespace {

using R = Refusal;

enum class Op {
    kLocate,         // CM_Locate_DevNode(id)
    kList,           // CM_Get_Device_ID_List(id, units), enumerator and present filters
    kDisableEnable,  // locate the node, disable it, enable it unless the disable failed
    kBadDevinst,     // disable and enable handle 0 and one the node never had
    kStaleDevinst,   // locate, then the node goes away: disable and enable its handle
};

constexpr char16_t kNode[] = u"ACPI\\VLT0949\\1";

std::string Locate(const char16_t* id) {
    uint32_t devinst = 7;
    uint32_t cr = qx::os::CmLocateDevNode(&devinst, id);
    return "locate " + std::to_string(cr) + (devinst != 0 ? " handle" : " 0");
}

std::string List(const char16_t* filter, uint32_t units) {
    char16_t buf[512];
    for (auto& c : buf) c = u'#';
    uint32_t cr = qx::os::CmGetDeviceIdList(
        filter, buf, units,
        qx::os::kCmGetIdListFilterEnumerator | qx::os::kCmGetIdListFilterPresent);
    std::string out = "list " + std::to_string(cr);
    if (cr != qx::os::kCrSuccess) return out;
    // The IDs, each zero-terminated, then one more zero, all within units.
    out += " [";
    uint32_t at = 0;
    while (at < units && buf[at] != 0) {
        if (at > 0) out += "|";
        out += Narrow(buf + at);
        while (at < units && buf[at] != 0) ++at;
        ++at;
    }
    return out + (at < units && buf[at] == 0 ? "]" : "] unterminated");
}

TEST(CfgMgrContractTest, LocateListDisableEnable) {
    struct Case {
        const char* name;
        const char16_t* node;  // the controller's instance ID, or null: no node
        Op op;
        const char16_t* id;  // what is located or listed
        uint32_t units;
        R refusal;
        const char* out;
    } cases[] = {
        {"located", kNode, Op::kLocate, kNode, 0, R::kNone, "locate 0 handle"},
        {"ids ignore case", kNode, Op::kLocate, u"acpi\\vlt0949\\1", 0, R::kNone,
         "locate 0 handle"},
        {"no node", nullptr, Op::kLocate, kNode, 0, R::kNone, "locate 13 0"},
        {"another instance", kNode, Op::kLocate, u"ACPI\\VLT0949\\2", 0, R::kNone, "locate 13 0"},
        {"renamed node", u"ACPI\\VLT0949\\A7", Op::kLocate, kNode, 0, R::kNone, "locate 13 0"},
        {"listed", kNode, Op::kList, u"ACPI\\VLT0949", 64, R::kNone, "list 0 [ACPI\\VLT0949\\1]"},
        {"listed renamed", u"ACPI\\VLT0949\\A7", Op::kList, u"ACPI\\VLT0949", 64, R::kNone,
         "list 0 [ACPI\\VLT0949\\A7]"},
        {"nothing to list", nullptr, Op::kList, u"ACPI\\VLT0949", 64, R::kNone, "list 0 []"},
        {"another device", kNode, Op::kList, u"ACPI\\VLT09490", 64, R::kNone, "list 0 []"},
        // 14 characters, their zero and the list's zero.
        {"list just fits", kNode, Op::kList, u"ACPI\\VLT0949", 16, R::kNone,
         "list 0 [ACPI\\VLT0949\\1]"},
        {"list too long", kNode, Op::kList, u"ACPI\\VLT0949", 15, R::kNone, "list 26"},
        {"disabled and enabled", kNode, Op::kDisableEnable, nullptr, 0, R::kNone,
         "disable 0 down, enable 0 up"},
        {"disable vetoed", kNode, Op::kDisableEnable, nullptr, 0, R::kDisableVetoed,
         "disable 23 up"},
        {"disable failed", kNode, Op::kDisableEnable, nullptr, 0, R::kDisableFailed,
         "disable 19 up"},
        {"enable failed", kNode, Op::kDisableEnable, nullptr, 0, R::kEnableFailed,
         "disable 0 down, enable 19 down"},
        {"handles the node never had", kNode, Op::kBadDevinst, nullptr, 0, R::kNone,
         "disable 5 5, enable 5 5, up"},
        {"the node went away", kNode, Op::kStaleDevinst, nullptr, 0, R::kNone,
         "disable 5, enable 5"},
    };
    CfgMgrRig& rig = Rig();
    for (const auto& c : cases) {
        if (!rig.Can(c.refusal)) continue;
        std::string out = rig.Run([&]() -> std::string {
            if (c.node != kNode) rig.SetNode(c.node);
            if (c.op == Op::kLocate) return Locate(c.id);
            if (c.op == Op::kList) return List(c.id, c.units);
            uint32_t devinst = 0;
            uint32_t cr = qx::os::CmLocateDevNode(&devinst, kNode);
            if (cr != qx::os::kCrSuccess) return "locate " + std::to_string(cr);
            auto state = [&] { return rig.Disabled() ? " down" : " up"; };
            if (c.op == Op::kBadDevinst) {
                const uint32_t never = devinst + 1;
                std::string line = "disable " + std::to_string(qx::os::CmDisableDevNode(0)) + " " +
                                   std::to_string(qx::os::CmDisableDevNode(never));
                line += ", enable " + std::to_string(qx::os::CmEnableDevNode(0)) + " " +
                        std::to_string(qx::os::CmEnableDevNode(never));
                return line + "," + state();
            }
            if (c.op == Op::kStaleDevinst) {
                rig.SetNode(nullptr);
                return "disable " + std::to_string(qx::os::CmDisableDevNode(devinst)) +
                       ", enable " + std::to_string(qx::os::CmEnableDevNode(devinst));
            }
            rig.Refuse(c.refusal);
            cr = qx::os::CmDisableDevNode(devinst);
            std::string line = "disable " + std::to_string(cr) + state();
            if (cr != qx::os::kCrSuccess) return line;
            cr = qx::os::CmEnableDevNode(devinst);
            return line + ", enable " + std::to_string(cr) + state();
        });
        EXPECT_EQ(out, c.out) << c.name;
    }
}

}  // namespace
}  // namespace qxtest
