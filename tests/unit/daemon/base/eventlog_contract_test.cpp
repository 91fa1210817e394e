// The event log seam's one contract: what the daemon's logging relies on, the
// same on every half that can show it.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "daemon/base/os_eventlog.h"
#include "tests/unit/daemon/base/eventlog_contract.h"

namespace qxtest {
namespace {

using namespace qx::os;

// UTF-16 as ASCII, anything else as \uXXXX and a newline as \n.
std::string Show(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) {
        char esc[8];
        if (c == u'\n') {
            out += "\\n";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
            out += esc;
        }
    }
    return out;
}

// Every event reported so far: source, type, category, id and its strings.
std::string Logged(EventLogRig& rig) {
    std::string out;
    for (const auto& e : rig.Events()) {
        if (!out.empty()) out += " | ";
        out += Show(e.source) + " " + std::to_string(e.type) + " " + std::to_string(e.category) +
               " " + std::to_string(e.event_id);
        for (const auto& s : e.strings) out += " [" + Show(s) + "]";
    }
    return out.empty() ? "nothing" : out;
}

// Registers the daemon's source, reports each text and deregisters.
std::string ReportAll(EventLogRig& rig, std::initializer_list<const char*> texts) {
    const EventSource source = EventLogRegister(u"Quellix");
    if (source == nullptr) return "no source";
    for (const char* t : texts) EventLogReportInfo(source, t);
    EventLogDeregister(source);
    return Logged(rig);
}

TEST(EventLogContractTest, EachHalfAnswersAsWindows) {
    EventLogRig& rig = Rig();
    struct Case {
        const char* name;
        Needs needs;
        std::function<std::string()> body;
        const char* want;
    } cases[] = {
        {"a source registers, reports and deregisters", Needs::kNothing,
         [] {
             const EventSource source = EventLogRegister(u"Quellix");
             if (source != nullptr) EventLogReportInfo(source, "QUELLIX: up.\n");
             EventLogDeregister(source);
             return source != nullptr ? "handle" : "null";
         },
         "handle"},
        {"information events of the source, category 1, id 2, the text their one string, in order",
         Needs::kReadableLog,
         [&rig] {
             return ReportAll(rig, {"QUELLIX: up.\n", "second"});
         },
         "Quellix 4 1 2 [QUELLIX: up.\\n] | Quellix 4 1 2 [second]"},
        {"the text comes from the ANSI code page, Windows-1252", Needs::kReadableLog,
         [&rig] { return ReportAll(rig, {"Caf\xe9 \x80 \x93ok\x94 \xff"}); },
         "Quellix 4 1 2 [Caf\\u00e9 \\u20ac \\u201cok\\u201d \\u00ff]"},
        {"an empty text is still an event", Needs::kReadableLog,
         [&rig] { return ReportAll(rig, {""}); }, "Quellix 4 1 2 []"},
        {"a second registration reports on after the first is deregistered", Needs::kReadableLog,
         [&rig] {
             const EventSource first = EventLogRegister(u"Quellix");
             const EventSource second = EventLogRegister(u"Quellix");
             EventLogDeregister(first);
             EventLogReportInfo(second, "still");
             EventLogDeregister(second);
             return Logged(rig);
         },
         "Quellix 4 1 2 [still]"},
        {"the Security log's name is refused", Needs::kSecurityRefused,
         [] {
             const EventSource source = EventLogRegister(u"security");
             EventLogDeregister(source);
             return source != nullptr ? "handle" : "null";
         },
         "null"},
    };
    for (const auto& c : cases) {
        if (!rig.Can(c.needs)) continue;
        EXPECT_EQ(rig.Run(c.body), c.want) << c.name;
    }
}

}  // namespace
}  // namespace qxtest
