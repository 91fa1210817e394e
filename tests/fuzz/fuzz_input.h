// What the harnesses share: a reader that hands out the fuzzer's bytes one at
// a time (zeros once they run out, so every input is a whole run), and a check
// that stops the run with a line the fuzzer keeps beside the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace qxfuzz {

struct Reader {
    const uint8_t* p;
    size_t n;
    uint8_t Byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
};

inline void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

inline void Check(bool ok, const char* what, const std::string& detail) {
    if (ok) return;
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

// Messages for people: nothing but printable ASCII and line ends.
inline bool Printable(const std::string& text) {
    for (unsigned char c : text) {
        if (c != '\n' && (c < 0x20 || c >= 0x7F)) return false;
    }
    return true;
}

}  // namespace qxfuzz
