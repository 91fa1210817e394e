// Bytes written as hex in the tests' tables ("7E 81 5D"), and back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace qxtest {

using Bytes = std::vector<uint8_t>;

inline Bytes Hex(const std::string& text) {
    Bytes out;
    unsigned v;
    int n;
    const char* p = text.c_str();
    while (std::sscanf(p, " %2x%n", &v, &n) == 1) {
        out.push_back(static_cast<uint8_t>(v));
        p += n;
    }
    return out;
}

inline std::string ToHex(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

inline std::string ToHex(const Bytes& b) {
    return ToHex(b.data(), b.size());
}

}  // namespace qxtest
