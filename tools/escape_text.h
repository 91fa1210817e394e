// Text from a file or a command line, made safe to echo in a message: control
// bytes, DEL and bytes outside ASCII appear as \xNN, so that a stray escape
// sequence or half a UTF-8 character cannot disturb the terminal or hide
// what was wrong.
#pragma once

#include <cstdio>
#include <string>

namespace qxtools {

inline std::string Escaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

}  // namespace qxtools
