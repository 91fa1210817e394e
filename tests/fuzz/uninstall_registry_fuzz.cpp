// The uninstaller's registry walks on the registry model: a tree of uninstall
// entries built from the input (names up to and past the 255-unit limit,
// DisplayName values of odd sizes, unterminated, of other types, keys that
// will not open or not go), searched for the product and then deleted.
//
// Afterwards: every handle closed, only exact matches found, and the tree
// gone whenever nothing in it refused.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/registry_model.h"
#include "uninstall/uninstall_logic.h"

#include "tests/fuzz/fuzz_input.h"
#include "sim/notebook.h"

namespace {

using qxsim::ModelKey;
using qxsim::RegistryModel;

const std::u16string kRoot = u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const std::u16string kProduct = u"Veltrane";

using qxfuzz::Check;

struct Reader : qxfuzz::Reader {
    // Text units: mostly from a small alphabet so that names repeat and the
    // product's name turns up, sometimes any unit.
    char16_t Unit() {
        const uint8_t b = Byte();
        if (b < 200) return u"Veltran{}-0123456789ABCDEFabcdef "[b % 33];
        return static_cast<char16_t>(b | (Byte() << 8));
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    RegistryModel& registry = qxsim::Notebook::Current().Registry();
    registry.Reset();
    Reader in{{data, size}};
    std::vector<std::u16string> paths{kRoot};
    registry.Create(kRoot);
    bool refusing = false;  // a key that will not open or not go
    bool long_name = false;

    for (int op = 0; op < 64 && in.n > 0; ++op) {
        const uint8_t kind = in.Byte() % 4;
        const std::u16string& at = paths[in.Byte() % paths.size()];
        if (kind == 0 || kind == 1) {
            // A sub-key; names may exceed the 255 units an enumeration returns.
            size_t length = in.Byte();
            if (length >= 250) length += in.Byte();
            std::u16string name;
            for (size_t i = 0; i < length; ++i) {
                char16_t u = in.Unit();
                // Key names hold no separators and no zeros.
                if (u == u'\\' || u == 0) u = u'_';
                name.push_back(u);
            }
            if (name.empty()) name = u"k";
            if (name.size() > 255) long_name = true;
            // Five levels below the root at most, as the tree's recursion is
            // bounded by the registry's own depth.
            if (paths.size() < 256 && std::count(at.begin(), at.end(), u'\\') < 9) {
                paths.push_back(at + u"\\" + name);
                registry.Create(paths.back());
            }
        } else if (kind == 2) {
            // DisplayName: text, then perhaps its terminator, perhaps one odd byte.
            const uint8_t shape = in.Byte();
            std::u16string text = (shape & 1) ? kProduct : u"";
            const size_t extra = (shape & 2) ? in.Byte() * ((shape & 4) ? 3 : 1) : 0;
            for (size_t i = 0; i < extra; ++i) text.push_back(in.Unit());
            std::vector<uint8_t> bytes(text.size() * 2);
            if (!bytes.empty()) std::memcpy(bytes.data(), text.data(), bytes.size());
            if (shape & 8) bytes.insert(bytes.end(), {0, 0});
            if (shape & 16) bytes.push_back(in.Byte());
            const uint32_t type = (shape & 32) ? 2 /* REG_EXPAND_SZ */ : qx::uninstall::kRegSz;
            registry.Create(at)->values[u"DisplayName"] = ModelKey::Value{type, bytes};
        } else {
            const uint8_t flags = in.Byte();
            ModelKey* key = registry.Create(at);
            if (at != kRoot && (flags & 0x11) == 0x11) key->unopenable = refusing = true;
            if (at != kRoot && (flags & 0x22) == 0x22) key->undeletable = refusing = true;
        }
    }

    std::vector<qx::uninstall::ProductEntry> entries;
    const int32_t found = qx::uninstall::FindProductEntries(registry.Root(), kRoot.c_str(),
                                                            kProduct.c_str(), &entries);
    Check(found == 0, "the uninstall root did not open");
    Check(registry.OpenHandles() == 0, "a handle left open by the search");
    for (const auto& e : entries) {
        Check(e.display_name == kProduct, "an entry whose name is not the product's");
        Check(registry.Find(kRoot + u"\\" + e.key_name) != nullptr, "an entry that is no key");
    }

    // The msiexec line of every entry: fits or is refused with an empty text.
    for (const auto& e : entries) {
        char16_t line[96];
        const bool fits = qx::uninstall::FormatMsiexecCommand(e.key_name.c_str(), line, 96);
        Check(fits == (e.key_name.size() + 30 <= 96), "msiexec line fit misjudged");
        if (!fits) Check(line[0] == 0, "a refused msiexec line is not empty");
    }

    const int32_t deleted = qx::uninstall::DeleteRegistryTree(registry.Root(), kRoot.c_str());
    Check(registry.OpenHandles() == 0, "a handle left open by the delete");
    Check(registry.Violations().empty(), "a key handle misused");
    if (deleted == 0) Check(registry.Find(kRoot) == nullptr, "reported deleted, but still there");
    if (!refusing && !long_name) Check(deleted == 0, "a plain tree was not deleted");
    return 0;
}
