// The registry seam's one contract: what the uninstaller's walk of the
// registry relies on, the same on every half.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/unit/uninstall/registry_contract.h"
#include "tests/support/contract_rows.h"
#include "tests/support/text16.h"
#include "uninstall/os_registry.h"

namespace qxtest {
namespace {

using namespace qx::os;

std::u16string Below(const std::u16string& path) {
    return std::u16string(kRegistryBase) + u"\\" + path;
}

// Opens a key below the base: its result, and the key in *key.
int32_t OpenBelow(const std::u16string& path, RegKey* key) {
    return RegistryOpen(RegistryLocalMachine(), Below(path).c_str(), key);
}

// Every sub-key's name at `chars`, then the result past the last.
std::string EnumAll(const std::u16string& path, uint32_t chars) {
    RegKey key;
    if (OpenBelow(path, &key) != kRegOk) return "open failed";
    std::string out;
    char16_t name[64] = {};
    for (uint32_t i = 0;; ++i) {
        const int32_t rc = RegistryEnumKey(key.get(), i, name, chars);
        if (rc != kRegOk) return out + std::to_string(rc);
        out += Narrow(name) + " ";
    }
}

// A query of Tree's value "Name" (the text "abc": 8 bytes with its zero).
std::string Query(const char16_t* name, bool with_buffer, uint32_t buffer_bytes) {
    RegKey key;
    if (OpenBelow(u"Tree", &key) != kRegOk) return "open failed";
    char16_t data[16] = {};
    uint32_t type = 0;
    uint32_t bytes = buffer_bytes;
    const int32_t rc =
        RegistryQueryValue(key.get(), name, &type, with_buffer ? data : nullptr, &bytes);
    std::string out = std::to_string(rc);
    if (rc == kRegOk || rc == kRegMoreData) out += " type " + std::to_string(type);
    if (rc == kRegOk || rc == kRegMoreData) out += " bytes " + std::to_string(bytes);
    if (rc == kRegOk && with_buffer) out += " " + Narrow(data);
    return out;
}

std::string Delete(const std::u16string& path) {
    return std::to_string(RegistryDeleteKey(RegistryLocalMachine(), Below(path).c_str()));
}

TEST(RegistryContractTest, EachHalfAnswersAsWindows) {
    RegistryRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"a missing key",
         [] {
             RegKey k;
             return std::to_string(OpenBelow(u"Missing", &k));
         },
         "2"},
        {"names case aside",
         [&rig] {
             rig.CreateKey(u"Tree\\Alpha");
             RegKey k;
             return std::to_string(OpenBelow(u"TREE\\alpha", &k));
         },
         "0"},
        {"sub-keys in order, case aside, then no more",
         [&rig] {
             for (const char16_t* n : {u"Tree\\Beta", u"Tree\\alpha", u"Tree\\Gamma"})
                 rig.CreateKey(n);
             return EnumAll(u"Tree", 64);
         },
         "alpha Beta Gamma 259"},
        {"a name that just fits",
         [&rig] {
             rig.CreateKey(u"Tree\\Abcd");
             return EnumAll(u"Tree", 5);
         },
         "Abcd 259"},
        {"a name one unit too long",
         [&rig] {
             rig.CreateKey(u"Tree\\Abcd");
             return EnumAll(u"Tree", 4);
         },
         "234"},
        {"a value",
         [&rig] {
             rig.SetString(u"Tree", u"Name", u"abc");
             return Query(u"Name", true, 32);
         },
         "0 type 1 bytes 8 abc"},
        {"a value's name case aside",
         [&rig] {
             rig.SetString(u"Tree", u"Name", u"abc");
             return Query(u"NAME", true, 32);
         },
         "0 type 1 bytes 8 abc"},
        {"a value too long for the buffer",
         [&rig] {
             rig.SetString(u"Tree", u"Name", u"abc");
             return Query(u"Name", true, 6);
         },
         "234 type 1 bytes 8"},
        {"only the size asked for",
         [&rig] {
             rig.SetString(u"Tree", u"Name", u"abc");
             return Query(u"Name", false, 0);
         },
         "0 type 1 bytes 8"},
        {"a missing value",
         [&rig] {
             rig.SetString(u"Tree", u"Name", u"abc");
             return Query(u"Other", true, 32);
         },
         "2"},
        {"a key with sub-keys stays, its leaf goes, then itself",
         [&rig] {
             rig.CreateKey(u"Tree\\Leaf");
             std::string out;  // in order: the operands of + are not sequenced
             for (const char16_t* path : {u"Tree", u"Tree\\Leaf", u"Tree", u"Tree"})
                 out += Delete(path) + " ";
             return out;
         },
         "5 0 0 2 "},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
