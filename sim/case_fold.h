// Windows compares the names the notebook keeps (paths, registry keys and
// values, service names, device IDs, event sources) without regard to case,
// and the registry sorts them so. Every name of ours is ASCII, so only A-Z
// and a-z fold; they fold to upper case, as the registry's ordering does.
#pragma once

#include <algorithm>
#include <string>

namespace qxsim {

inline char16_t FoldCase(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

inline std::u16string FoldCase(std::u16string text) {
    for (auto& c : text) c = FoldCase(c);
    return text;
}

// Orders names case aside: a map's comparator, as the registry sorts.
struct CaseAsideLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](char16_t x, char16_t y) { return FoldCase(x) < FoldCase(y); });
    }
};

inline bool SameCaseAside(const std::u16string& a, const std::u16string& b) {
    return FoldCase(a) == FoldCase(b);
}

}  // namespace qxsim
