// qxdecode's two readers on any text: hex (the default) and sigrok-cli's
// annotations (--sigrok). Either gives one of the three exit codes, a
// diagnosis for every failure, and messages free of raw control bytes.
//
// Input: one selector byte (bit 0: --sigrok; bit 1: with --address 2C), then
// the text.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tools/qxdecode/decode_text.h"
#include "tools/qxdecode/sigrok_text.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using qxfuzz::Check;
using qxfuzz::Printable;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool sigrok = (data[0] & 1) != 0;
    const int address = (data[0] & 2) != 0 ? 0x2C : qxdecode::kAnyAddress;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string out, err;
    const int rc = sigrok ? qxdecode::DecodeSigrok(text, &out, &err, address)
                          : qxdecode::DecodeText(text, &out, &err);
    Check(rc == qxdecode::kAllGood || rc == qxdecode::kBadFrame || rc == qxdecode::kBadInput,
          "an exit code outside 0-2", std::to_string(rc));
    Check(rc == qxdecode::kAllGood || !err.empty(), "a failure without a message", text);
    Check(Printable(err), "raw bytes in a message", err);
    Check(Printable(out), "raw bytes in the description", out);
    return 0;
}
