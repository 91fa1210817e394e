// The UTF-16 text of the seams, as the tests handle it. Our names and paths
// are ASCII, so narrowing each unit is enough to compare and print them; on
// Windows wchar_t is the same 16-bit unit as char16_t, so the two pointers
// name the same text.
#pragma once

#include <string>

namespace qxtest {

inline std::string Narrow(const char16_t* s) {
    std::string out;
    for (; *s != 0; ++s) out += static_cast<char>(*s);
    return out;
}

#ifdef _WIN32
inline const wchar_t* W(const char16_t* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
inline const wchar_t* W(const std::u16string& s) {
    return W(s.c_str());
}
#endif

}  // namespace qxtest
