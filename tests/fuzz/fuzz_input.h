// What the harnesses share: a reader that hands out the fuzzer's bytes one at
// a time (zeros once they run out, so every input is a whole run), and a check
// that stops the run with a line the fuzzer keeps beside the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

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

}  // namespace qxfuzz
