#include "kmdf/inf/inf_properties.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

namespace kmdfsim {

namespace {

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A line without its comment; a ';' inside double quotes is text.
std::string StripComment(const std::string& line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); i++) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == ';' && !quoted) return line.substr(0, i);
    }
    return line;
}

// Comma-separated fields; quotes group (and are removed), "" inside quotes is one quote.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); i++) {
        char c = line[i];
        if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                fields.back() += '"';
                i++;
            } else {
                quoted = !quoted;
            }
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    for (auto& f : fields) f = Trim(f);
    return fields;
}

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

const char* VeltraneInfPath() {
    return QX_VELTRANE_INF_PATH;
}

bool DevicePropertiesFromInf(const std::string& path, DeviceProperties* properties,
                             std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot read " + path;
        return false;
    }
    std::map<std::string, std::vector<std::string>> sections;  // lower-case name -> lines
    std::string section;
    for (std::string line; std::getline(in, line);) {
        line = Trim(StripComment(line));
        if (line.empty()) continue;
        if (line.front() == '[' && line.back() == ']') {
            section = Lower(Trim(line.substr(1, line.size() - 2)));
            sections[section];
        } else if (!section.empty()) {
            sections[section].push_back(line);
        }
    }

    // The AddReg sections named by the hardware sections.
    std::vector<std::string> addRegs;
    for (const auto& s : sections) {
        if (!EndsWith(s.first, ".nt.hw")) continue;
        for (const auto& line : s.second) {
            size_t eq = line.find('=');
            if (eq == std::string::npos || Lower(Trim(line.substr(0, eq))) != "addreg") continue;
            for (const auto& name : Fields(line.substr(eq + 1))) addRegs.push_back(Lower(name));
        }
    }

    DeviceProperties result;
    for (const auto& name : addRegs) {
        auto it = sections.find(name);
        if (it == sections.end()) {
            *error = "AddReg section [" + name + "] is missing";
            return false;
        }
        for (const auto& line : it->second) {
            std::vector<std::string> f = Fields(line);
            // root, subkey, value name, flags, data
            if (f.size() < 3 || Lower(f[0]) != "hkr" || !f[1].empty()) continue;
            std::string value = Lower(f[2]);
            std::string flags = f.size() > 3 ? Lower(f[3]) : std::string();
            std::string data = f.size() > 4 ? f[4] : std::string();
            if (value == "security") {
                if (!flags.empty() && flags != "0" && flags != "0x0" && flags != "0x00000000") {
                    *error = "Security is not a plain string value: " + line;
                    return false;
                }
                result.security = data;
            } else if (value == "exclusive") {
                if (flags != "0x10001" && flags != "0x00010001") {
                    *error = "Exclusive is not a DWORD value: " + line;
                    return false;
                }
                char* end = nullptr;
                unsigned long n = strtoul(data.c_str(), &end, 0);
                if (data.empty() || *end != '\0') {
                    *error = "Exclusive has no number: " + line;
                    return false;
                }
                result.exclusive = n != 0;
            }
        }
    }
    *properties = result;
    return true;
}

}  // namespace kmdfsim
