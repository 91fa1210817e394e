#include "kmdf/inf/inf_properties.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "common/bounded_file.h"
#include "common/utf8.h"

namespace kmdfsim {

namespace {

// Far beyond any driver INF; a bound on what a wrong path makes us read.
constexpr size_t kMaxInfBytes = 16 << 20;
// The longest field Windows takes, before and after string substitution,
// counting its terminating zero.
constexpr size_t kMaxFieldChars = 4096;

// AddReg flags (the low bit and the high word are the value's type).
constexpr uint32_t kTypeMask = 0xFFFF0001;
constexpr uint32_t kTypeSz = 0x00000000;
constexpr uint32_t kTypeDword = 0x00010001;
constexpr uint32_t kNoClobber = 0x00000002;
// The only characteristics an INF may give a device.
constexpr uint32_t kInfCharacteristics = 0x1 | 0x2 | 0x4 | 0x8 | 0x100;

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && IsBlank(s[b])) ++b;
    while (e > b && IsBlank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string At(int line) {
    return "line " + std::to_string(line) + ": ";
}

// The text of an INF: UTF-16 LE after its byte-order mark (as the WDK's
// tools write it), or ANSI; the two encodings Windows reads an INF in.
bool DecodeInf(const std::string& bytes, std::string* text, std::string* error) {
    auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i])); };
    const auto starts = [&](std::initializer_list<uint32_t> mark) {
        size_t i = 0;
        for (uint32_t b : mark) {
            if (i >= bytes.size() || byte(i++) != b) return false;
        }
        return true;
    };
    if (starts({0xFF, 0xFE})) {
        if (bytes.size() % 2 != 0) {
            *error = "UTF-16 text of an odd number of bytes";
            return false;
        }
        std::u16string units;
        for (size_t i = 2; i < bytes.size(); i += 2) units += char16_t(byte(i) | byte(i + 1) << 8);
        for (size_t i = 0; i < units.size(); ++i) {
            const char16_t c = units[i];
            const bool high = c >= 0xD800 && c < 0xDC00;
            const bool paired =
                high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000;
            if ((c >= 0xD800 && c < 0xE000 && !paired) || c == 0) {
                *error = std::string(c == 0 ? "a zero character" : "half a UTF-16 surrogate pair") +
                         " at byte " + std::to_string(2 + 2 * i);
                return false;
            }
            if (paired) ++i;
        }
        *text = qx::Utf8FromUtf16(units);
        return true;
    }
    if (starts({0xFE, 0xFF})) {
        *error = "UTF-16 big-endian text; Windows reads an INF as UTF-16 LE or ANSI";
        return false;
    }
    if (starts({0xEF, 0xBB, 0xBF})) {
        *error = "UTF-8 text with a byte-order mark; Windows reads an INF as UTF-16 LE or ANSI";
        return false;
    }
    const size_t zero = bytes.find('\0');
    if (zero != std::string::npos) {
        *error = "a zero byte at byte " + std::to_string(zero) +
                 " (UTF-16 without its byte-order mark?)";
        return false;
    }
    *text = bytes;
    return true;
}

// One line as the entries see it: comment gone, continued lines joined, and
// the number of the line it began on.
struct Line {
    int number;
    std::string text;
};

struct Inf {
    // Lower-case name -> the lines of every section of that name (Windows
    // merges sections of one name).
    std::map<std::string, std::vector<Line>> sections;
};

// A physical line without its comment: ';' outside quotes, and outside the
// brackets of a section name. False when a quote is left open.
bool StripComment(const std::string& line, std::string* out) {
    const size_t first = line.find_first_not_of(" \t");
    bool bracket = first != std::string::npos && line[first] == '[';
    bool quoted = false;
    size_t i = 0;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        if (bracket) {
            if (c == ']') bracket = false;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            break;
        }
    }
    *out = line.substr(0, i);
    return !quoted;
}

bool ReadSections(const std::string& text, Inf* inf, std::string* error) {
    std::string current;  // no section yet: Windows reads nothing before the first
    std::string logical;
    int begun = 0;
    bool continued = false;
    auto take = [&]() {
        const std::string t = Trim(logical);
        if (t.empty()) return true;
        if (t[0] == '[') {
            const size_t close = t.find(']');
            if (close == std::string::npos) {
                *error = At(begun) + "a section name without its closing ]: " + t;
                return false;
            }
            if (!Trim(t.substr(close + 1)).empty()) {
                *error = At(begun) + "text after the section name: " + t;
                return false;
            }
            current = Lower(t.substr(1, close - 1));
            inf->sections[current];
        } else if (!current.empty()) {
            inf->sections[current].push_back(Line{begun, t});
        }
        return true;
    };
    int number = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        // A return, a line feed or both end a line.
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::string raw = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos] == '\r') ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;
        ++number;

        std::string part;
        if (!StripComment(raw, &part)) {
            *error = At(number) + "a quoted string is not closed: " + Trim(raw);
            return false;
        }
        while (!part.empty() && IsBlank(part.back())) part.pop_back();
        if (!continued) {
            logical.clear();
            begun = number;
        }
        // A backslash at the end (before the comment) continues the entry on
        // the next line; one inside quotes is text.
        continued = !part.empty() && part.back() == '\\';
        if (continued) part.pop_back();
        logical += part;
        if (!continued && !take()) return false;
    }
    return !continued || take();
}

using Strings = std::map<std::string, std::string>;  // lower-case key -> value

// The fields of an entry: split at commas outside quotes (when `commas`),
// quotes removed ("" inside them is one quote), blanks around each field
// dropped unless quoted, and, given `strings`, every %strkey% replaced (%% is
// a percent sign; a number is a folder id, resolved at install, kept as it is).
bool SplitFields(const std::string& text, const Strings* strings, bool commas,
                 std::vector<std::string>* fields, std::string* error) {
    fields->clear();
    std::string f;
    size_t kept = 0;  // f up to here was quoted or substituted: blanks stay
    bool quoted = false;
    auto finish = [&]() {
        size_t end = f.size();
        while (end > kept && IsBlank(f[end - 1])) --end;
        f.resize(end);
        if (f.size() >= kMaxFieldChars) {
            *error = "a field longer than " + std::to_string(kMaxFieldChars - 1) + " characters";
            return false;
        }
        fields->push_back(f);
        f.clear();
        kept = 0;
        return true;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                f += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            kept = f.size();
        } else if (c == '%' && strings != nullptr) {
            if (i + 1 < text.size() && text[i + 1] == '%') {
                f += '%';
                ++i;
                continue;
            }
            const size_t close = text.find('%', i + 1);
            if (close == std::string::npos) {
                *error = "a lone % (%% stands for a percent sign): " + text;
                return false;
            }
            const std::string key = text.substr(i + 1, close - i - 1);
            const bool folder_id = std::all_of(
                key.begin(), key.end(), [](unsigned char d) { return std::isdigit(d) != 0; });
            if (folder_id) {
                f += "%" + key + "%";
            } else {
                const auto it = strings->find(Lower(key));
                if (it == strings->end()) {
                    *error = "%" + key + "% is not defined in the Strings section";
                    return false;
                }
                f += it->second;
            }
            kept = f.size();
            i = close;
        } else if (c == ',' && !quoted && commas) {
            if (!finish()) return false;
        } else if (quoted || !IsBlank(c) || !f.empty()) {
            f += c;
            if (quoted) kept = f.size();
        }
    }
    return finish();
}

// "key = value": false when the line has no '=' outside quotes.
bool SplitEntry(const std::string& line, std::string* key, std::string* value) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == '=' && !quoted) {
            *key = Lower(Trim(line.substr(0, i)));
            *value = line.substr(i + 1);
            return true;
        }
    }
    return false;
}

// The Strings section Windows takes on an en-US machine (0x0409): that
// language and sublanguage, else the language's neutral one, else any of the
// language, else the undecorated one.
const std::vector<Line>* PickStrings(const Inf& inf) {
    constexpr unsigned kEnUs = 0x0409, kLanguage = 0x3FF;
    const std::vector<Line>* neutral = nullptr;
    const std::vector<Line>* same_language = nullptr;
    for (const auto& [name, lines] : inf.sections) {
        const std::string prefix = "strings.";
        if (name.compare(0, prefix.size(), prefix) != 0 || name.size() == prefix.size()) continue;
        char* end = nullptr;
        const unsigned long id = std::strtoul(name.c_str() + prefix.size(), &end, 16);
        if (*end != '\0' || !std::isxdigit(static_cast<unsigned char>(name[prefix.size()]))) {
            continue;
        }
        if (id == kEnUs) return &lines;
        if (id == (kEnUs & kLanguage) && neutral == nullptr) neutral = &lines;
        if ((id & kLanguage) == (kEnUs & kLanguage) && same_language == nullptr) {
            same_language = &lines;
        }
    }
    if (neutral != nullptr) return neutral;
    if (same_language != nullptr) return same_language;
    const auto plain = inf.sections.find("strings");
    return plain == inf.sections.end() ? nullptr : &plain->second;
}

bool ReadStrings(const Inf& inf, Strings* strings, std::string* error) {
    const std::vector<Line>* lines = PickStrings(inf);
    if (lines == nullptr) return true;
    for (const Line& line : *lines) {
        std::string key, value;
        std::vector<std::string> fields;
        if (!SplitEntry(line.text, &key, &value)) {
            *error = At(line.number) + "a string without '=': " + line.text;
            return false;
        }
        // The value is taken whole, commas included; it is not substituted again.
        if (!SplitFields(value, nullptr, false, &fields, error)) {
            *error = At(line.number) + *error;
            return false;
        }
        (*strings)[Lower(key)] = fields[0];
    }
    return true;
}

// A number as the INF writes it: 0x and hex digits, or decimal digits.
bool ParseNumber(const std::string& text, uint32_t* value) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    if (digits.empty()) return false;
    uint64_t v = 0;
    for (char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) return false;
        v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        if (v > 0xFFFFFFFFu) return false;
    }
    *value = static_cast<uint32_t>(v);
    return true;
}

const char* const kPlatforms[] = {".ntamd64", ".ntarm64", ".ntarm", ".ntia64", ".ntx86", ".nt"};

// The install section a hardware section belongs to, without its platform.
std::string InstallRoot(const std::string& hardware_section) {
    std::string base = hardware_section.substr(0, hardware_section.size() - 3);
    for (const char* p : kPlatforms) {
        if (EndsWith(base, p)) return base.substr(0, base.size() - strlen(p));
    }
    return base;
}

// The hardware section Windows on x64 processes for the install section
// `root`: that of the install section it takes (.ntamd64, else .nt, else
// undecorated; .HW sections of another decoration are not read). Without any
// install section, the hardware section decorated in the same order.
std::string HardwareSectionOf(const Inf& inf, const std::string& root) {
    for (const char* d : {".ntamd64", ".nt", ""}) {
        if (inf.sections.count(root + d) != 0) return root + d + ".hw";
    }
    for (const char* d : {".ntamd64", ".nt", ""}) {
        if (inf.sections.count(root + d + ".hw") != 0) return root + d + ".hw";
    }
    return "";
}

// What an add-registry section sets on the device (HKR, no subkey).
struct DeviceValues {
    InfDeviceProperties properties;
    bool security = false, exclusive = false, characteristics = false;  // set by some entry
};

bool ReadAddReg(const Inf& inf, const Strings& strings, const std::string& name,
                DeviceValues* values, std::string* error) {
    const auto section = inf.sections.find(name);
    if (section == inf.sections.end()) {
        *error = "AddReg section [" + name + "] is missing";
        return false;
    }
    for (const Line& line : section->second) {
        std::vector<std::string> f;
        auto fail = [&](const std::string& why) {
            *error = At(line.number) + why + ": " + line.text;
            return false;
        };
        if (!SplitFields(line.text, &strings, true, &f, error)) return fail(*error);
        // reg-root, subkey, value name, flags, value...
        const std::string root = Lower(f[0]);
        if (root != "hkr" && root != "hklm" && root != "hkcu" && root != "hkcr" && root != "hku") {
            return fail("not a registry root");
        }
        if (root != "hkr" || f.size() < 3 || !f[1].empty()) continue;  // not a device property
        const std::string value = Lower(f[2]);
        bool* seen = value == "security"                ? &values->security
                     : value == "exclusive"             ? &values->exclusive
                     : value == "devicecharacteristics" ? &values->characteristics
                                                        : nullptr;
        if (seen == nullptr) continue;
        uint32_t flags = 0;
        if (f.size() > 3 && !f[3].empty() && !ParseNumber(f[3], &flags)) {
            return fail("flags that are no number");
        }
        if ((flags & ~kTypeMask & ~kNoClobber) != 0) {
            return fail(f[2] + " with flags other than its type and no-clobber");
        }
        const uint32_t type = flags & kTypeMask;
        if (f.size() > 5) return fail(f[2] + " with more than one value");
        const std::string data = f.size() > 4 ? f[4] : std::string();
        // No-clobber keeps what an earlier entry of this install set.
        const bool keep = (flags & kNoClobber) != 0 && *seen;
        if (value == "security") {
            if (type != kTypeSz) return fail("Security is not a plain string value");
            if (data.empty()) return fail("Security has no security descriptor");
            if (!keep) values->properties.device.security = data;
        } else {
            uint32_t n = 0;
            if (type != kTypeDword) return fail(f[2] + " is not a DWORD value");
            if (!ParseNumber(data, &n)) return fail(f[2] + " has no number");
            if (value == "exclusive") {
                if (!keep) values->properties.device.exclusive = n == 1;
            } else {
                if ((n & ~kInfCharacteristics) != 0) {
                    return fail(
                        "DeviceCharacteristics an INF cannot give (only 0x1, 0x2, 0x4, "
                        "0x8 and 0x100)");
                }
                if (!keep) values->properties.device_characteristics = n;
            }
        }
        *seen = true;
    }
    return true;
}

bool ReadHardwareSection(const Inf& inf, const Strings& strings, const std::string& name,
                         DeviceValues* values, std::string* error) {
    for (const Line& line : inf.sections.at(name)) {
        std::string key, value;
        std::vector<std::string> names;
        if (!SplitEntry(line.text, &key, &value)) {
            *error = At(line.number) + "not a directive in [" + name + "]: " + line.text;
            return false;
        }
        if (key != "addreg") {
            *error = At(line.number) + "[" + name + "] has the directive " + key +
                     ", which this reader does not follow: " + line.text;
            return false;
        }
        if (!SplitFields(value, &strings, true, &names, error)) {
            *error = At(line.number) + *error;
            return false;
        }
        for (const auto& n : names) {
            if (!n.empty() && !ReadAddReg(inf, strings, Lower(n), values, error)) return false;
        }
    }
    return true;
}

}  // namespace

const char* VeltraneInfPath() {
    return QX_VELTRANE_INF_PATH;
}

bool DevicePropertiesFromInfBytes(const std::string& bytes, InfDeviceProperties* properties,
                                  std::string* error) {
    std::string text;
    Inf inf;
    Strings strings;
    if (!DecodeInf(bytes, &text, error) || !ReadSections(text, &inf, error) ||
        !ReadStrings(inf, &strings, error)) {
        return false;
    }
    std::set<std::string> roots;
    for (const auto& section : inf.sections) {
        if (EndsWith(section.first, ".hw")) roots.insert(InstallRoot(section.first));
    }
    DeviceValues values;
    for (const auto& root : roots) {
        const std::string hardware = HardwareSectionOf(inf, root);
        if (inf.sections.count(hardware) == 0) continue;  // the install Windows takes has none
        if (!ReadHardwareSection(inf, strings, hardware, &values, error)) return false;
    }
    *properties = values.properties;
    return true;
}

bool DevicePropertiesFromInf(const std::string& path, InfDeviceProperties* properties,
                             std::string* error) {
    std::string bytes;
    switch (qx::ReadBoundedFile(path, kMaxInfBytes, &bytes)) {
        case qx::FileRead::kOk:
            break;
        case qx::FileRead::kDirectory:
            *error = path + " is a directory, not an INF";
            return false;
        case qx::FileRead::kCannotOpen:
            *error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        case qx::FileRead::kCannotRead:
            *error = "cannot read " + path;
            return false;
        case qx::FileRead::kTooLarge:
            *error = path + " is larger than any INF";
            return false;
    }
    if (!DevicePropertiesFromInfBytes(bytes, properties, error)) {
        *error = path + ": " + *error;
        return false;
    }
    return true;
}

bool DevicePropertiesFromInf(const std::string& path, DeviceProperties* properties,
                             std::string* error) {
    InfDeviceProperties all;
    if (!DevicePropertiesFromInf(path, &all, error)) return false;
    *properties = all.device;
    properties->characteristics = all.device_characteristics;
    return true;
}

}  // namespace kmdfsim
