// qxsim's scenario parser on any text: it either refuses with a message that
// names the line and shows no raw control or non-ASCII bytes, or yields
// events whose times are finite and whose arguments are what the actions
// take (MAC addresses in hex digits only).
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/qxsim/scenario.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using qxfuzz::Check;
using qxfuzz::Printable;

// Six groups of one or two hex digits.
bool HexMac(const std::string& text) {
    int groups = 1, digits = 0;
    for (char c : text) {
        if (c == ':') {
            if (digits == 0) return false;
            ++groups;
            digits = 0;
        } else if (!std::isxdigit(static_cast<unsigned char>(c)) || ++digits > 2) {
            return false;
        }
    }
    return groups == 6 && digits > 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int64_t ms = -1;
    if (qxsim::ParseVirtualTime(text, &ms)) Check(ms >= 0, "a negative time", text);

    qxsim::Scenario scenario;
    std::string error;
    if (!qxsim::ParseScenario(text, &scenario, &error)) {
        Check(error.rfind("line ", 0) == 0, "an error that names no line", error);
        Check(Printable(error), "raw bytes in the error", error);
        return 0;
    }
    for (const auto& e : scenario.events) {
        // A thousand million seconds, in milliseconds, is the most a time may say.
        Check(e.at_ms >= 0 && e.at_ms <= int64_t{1000000000} * 60000, "time out of range",
              std::to_string(e.at_ms));
        if (e.action == "roam" || (e.action == "linkback" && !e.args.empty()))
            Check(HexMac(e.args[0]), "a MAC address that is not hex", e.args[0]);
    }
    return 0;
}
