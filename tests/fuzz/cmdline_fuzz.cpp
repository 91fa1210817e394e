// The daemon's command line: the option scanner, the settings it fills and
// the two number conversions, which must agree with the C library's atoi and
// strtoul (base 0) as documented, whichever C library the build uses.
//
// Input: the arguments after argv[0], separated by zero bytes.
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "daemon/base/numbers.h"
#include "daemon/core/settings.h"

namespace {

void Check(bool ok, const char* what, const std::string& text) {
    if (ok) return;
    std::fprintf(stderr, "%s for \"%s\"\n", what, text.c_str());
    std::abort();
}

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// atoi as documented: strtol's reading, saturated to 32 bits.
int32_t ReferenceDecimal(const char* text) {
    errno = 0;
    const long long v = std::strtoll(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// strtoul with base 0 on a 32-bit unsigned long: the magnitude saturates at
// 0xFFFFFFFF, a minus sign negates modulo 2^32.
uint32_t ReferenceUnsigned(const char* p) {
    while (IsSpace(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // strtoull would take a second sign or white space; the C library's
    // strtoul does not after the first sign.
    if (*p == '+' || *p == '-' || IsSpace(*p)) return 0;
    errno = 0;
    const unsigned long long v = std::strtoull(p, nullptr, 0);
    if (errno == ERANGE || v > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    const uint32_t r = static_cast<uint32_t>(v);
    return negative ? 0u - r : r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Split into arguments; each its own heap block, so that reading past
    // one's end is a report rather than a read of the next.
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size && words.size() <= 64; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back().push_back(static_cast<char>(data[i]));
    }
    std::vector<char*> blocks;
    blocks.push_back(strdup("quellix"));
    for (const std::string& w : words) blocks.push_back(strdup(w.c_str()));
    std::vector<char*> argv = blocks;
    argv.push_back(nullptr);

    for (size_t i = 1; i < blocks.size(); ++i) {
        Check(qx::ParseDecimal(blocks[i]) == ReferenceDecimal(blocks[i]),
              "ParseDecimal differs from atoi", blocks[i]);
        Check(qx::ParseUnsignedAuto(blocks[i]) == ReferenceUnsigned(blocks[i]),
              "ParseUnsignedAuto differs from strtoul", blocks[i]);
    }

    qx::DaemonSettingsT settings;
    settings.InterfaceName = static_cast<char*>(std::calloc(qx::kInterfaceNameSize, 1));
    const qx::ParseOutcome outcome =
        qx::ParseDaemonOptions(static_cast<int>(blocks.size()), argv.data(), settings);
    Check(outcome == qx::ParseOutcome::kRun || outcome == qx::ParseOutcome::kUsage, "outcome", "");
    // The text options keep their limit, terminator included.
    Check(std::strlen(settings.InterfaceName) < qx::kTextOptionLimit, "-i overran its limit", "");
    Check(strnlen(settings.DriverInterface, sizeof settings.DriverInterface) < qx::kTextOptionLimit,
          "-d overran its limit", "");
    // A period the worker would sleep on for ever never gets through.
    if (outcome == qx::ParseOutcome::kRun)
        Check(settings.UpdateRateMs >= 0, "negative -r accepted", "");
    // The program name of any argv[0].
    for (char* b : blocks) {
        const char* name = qx::ProgramNameOf(b);
        Check(name >= b && name <= b + std::strlen(b), "program name outside argv[0]", b);
    }
    std::free(settings.InterfaceName);
    for (char* b : blocks) std::free(b);
    return 0;
}
