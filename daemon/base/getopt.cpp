#include "daemon/base/getopt.h"

#include <cstring>

namespace qx {

int NextOption(OptionScanner& s) {
    s.arg = nullptr;
    if (s.offset == 0) {
        if (s.index >= s.argc) return kOptionsEnd;
        const char* word = s.argv[s.index];
        if (word == nullptr || word[0] != '-' || word[1] == '\0') return kOptionsEnd;
        if (std::strcmp(word, "--") == 0) {
            ++s.index;
            return kOptionsEnd;
        }
        s.offset = 1;
    }
    const char* word = s.argv[s.index];
    const int c = static_cast<unsigned char>(word[s.offset++]);
    s.letter = c;
    const bool last_in_word = word[s.offset] == '\0';
    const char* spec = c == ':' ? nullptr : std::strchr(s.optstring, c);
    if (spec == nullptr) {
        if (last_in_word) {
            ++s.index;
            s.offset = 0;
        }
        return kOptionError;
    }
    if (spec[1] != ':') {
        if (last_in_word) {
            ++s.index;
            s.offset = 0;
        }
        return c;
    }
    // The argument is the rest of this word, or else the whole next word,
    // even when that word begins with '-'.
    if (!last_in_word) {
        s.arg = word + s.offset;
        ++s.index;
    } else if (s.index + 1 < s.argc) {
        s.arg = s.argv[s.index + 1];
        s.index += 2;
    } else {
        ++s.index;
        s.offset = 0;
        return kOptionError;
    }
    s.offset = 0;
    return c;
}

}  // namespace qx
