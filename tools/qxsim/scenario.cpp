#include "tools/qxsim/scenario.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <sstream>

#include "common/bounded_file.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/bus_recorder.h"
#include "sim/firmware_model.h"
#include "sim/device_install_model.h"
#include "sim/fault_plan.h"
#include "sim/link_model.h"
#include "sim/power_model.h"
#include "sim/wlan_model.h"
#include "sim/vkernel.h"
#include "tools/escape_text.h"

namespace qxsim {

namespace {

bool ParseInt(const std::string& text, long lo, long hi, long* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Six groups of one or two hex digits, separated by ':'. Hex digits only:
// scanf's %x would also take a sign, so "-1:-1:..." became ff:ff:...
bool ParseMac(const std::string& text, Mac* out) {
    Mac mac{};
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && (at >= text.size() || text[at++] != ':')) return false;
        int value = 0, digits = 0;
        for (; at < text.size() && digits < 2 && HexDigit(text[at]) >= 0; ++at, ++digits) {
            value = value * 16 + HexDigit(text[at]);
        }
        if (digits == 0) return false;
        mac[i] = static_cast<uint8_t>(value);
    }
    if (at != text.size()) return false;
    *out = mac;
    return true;
}

struct ActionSpec {
    const char* name;
    int min_args;
    int max_args;
};

const ActionSpec kActions[] = {
    {"note", 0, 64},          {"rssi", 2, 2},         {"traffic", 2, 2},
    {"roam", 1, 1},           {"linkloss", 0, 0},     {"linkback", 0, 1},
    {"suspend", 0, 0},        {"resume", 0, 0},       {"resume-user", 0, 0},
    {"standby", 0, 0},        {"standby-exit", 0, 0}, {"node-start", 1, 1},
    {"d0-loss", 1, 1},        {"controller", 1, 1},   {"provider", 1, 1},
    {"ctrl-c", 0, 0},         {"ctrl-break", 0, 0},   {"shutdown", 0, 0},
    {"close", 0, 0},          {"logoff", 0, 0},       {"shutdown-console", 0, 0},
    {"logoff-console", 0, 0}, {"session-kept", 0, 0},
};

// Checks one event's arguments; returns an error text or "".
std::string CheckArgs(const ScenarioEvent& e) {
    long v;
    Mac mac;
    if (e.action == "rssi") {
        for (auto& a : e.args) {
            if (!ParseInt(a, -128, 0, &v)) return "rssi wants two dBm values from -128 to 0";
        }
    } else if (e.action == "traffic") {
        for (auto& a : e.args) {
            if (!ParseInt(a, 0, 1000000000, &v)) return "traffic wants two byte rates per second";
        }
    } else if (e.action == "roam" || (e.action == "linkback" && !e.args.empty())) {
        if (!ParseMac(e.args[0], &mac)) return "not a MAC address: " + qxtools::Escaped(e.args[0]);
    } else if (e.action == "controller") {
        const std::string& a = e.args[0];
        if (a != "hang" && a != "silent" && a != "answer" && a != "refuse-open" &&
            a != "accept-open" && a != "ignore-cancel" && a != "honour-cancel") {
            return "controller wants hang, silent, answer, refuse-open, accept-open, "
                   "ignore-cancel or honour-cancel";
        }
    } else if (e.action == "node-start" || e.action == "d0-loss") {
        int64_t ms = 0;
        if (!ParseVirtualTime(e.args[0], &ms) || ms > 600000)
            return e.action + " wants a time of at most 10m, such as 2500ms";
    } else if (e.action == "provider") {
        if (e.args[0] != "lost" && e.args[0] != "back") return "provider wants lost or back";
    }
    return "";
}

// A hung controller fails every write until its node is power-cycled.
void HangUntilNodeReset(int disables_before) {
    auto& fw = qxsim::Notebook::Current().Firmware();
    if (qxsim::Notebook::Current().DeviceInstall().ControllerDisables() != disables_before) {
        fw.SetWriteOutcome(TransferOutcome::Complete, 0);
        return;
    }
    auto& k = qxsim::Notebook::Current().Kernel();
    k.At(k.Now() + 100, [disables_before] { HangUntilNodeReset(disables_before); });
}

std::function<void(const std::string&)> g_reporter;

// Roams and link-backs against the reports: counted, not stored, so that a
// scenario of any length plays in bounded memory. The restarts of steering
// after a sleep (resumes, standby exits) the same way.
std::mutex g_link_events_m;
LinkGapTracker g_link_gaps;
LinkGapTracker g_restart_gaps;
LinkGapTracker g_d0_gaps;  // from each return of the device to D0

// The standby figures: totals of the spans that ended, and the counters at
// the start of the one under way.
struct StandbyMeter {
    StandbyFigures done;
    bool in_standby = false;
    int64_t since = 0;
    StandbyFigures at_start;  // the counters' values when it began
} g_standby;

StandbyFigures Counters() {
    auto& nb = qxsim::Notebook::Current();
    StandbyFigures c;
    c.ms = nb.Kernel().Now();
    c.bus_transfers = nb.Bus().TransfersIssued();
    for (FaultKind kind : {FaultKind::kWlanOpen, FaultKind::kWlanEnum, FaultKind::kWlanQuery,
                           FaultKind::kWlanRegister, FaultKind::kProviderOpen,
                           FaultKind::kProviderList, FaultKind::kProviderCsi})
        c.link_queries += nb.Faults().Calls(kind);
    c.wake_ups = nb.Kernel().WakeUps();
    return c;
}

// The figures of the span under way.
StandbyFigures SpanSoFar(const StandbyMeter& m) {
    StandbyFigures now = Counters(), span;
    span.ms = now.ms - m.since;
    span.bus_transfers = now.bus_transfers - m.at_start.bus_transfers;
    span.link_queries = now.link_queries - m.at_start.link_queries;
    span.wake_ups = now.wake_ups - m.at_start.wake_ups;
    return span;
}

void Add(StandbyFigures* total, const StandbyFigures& span) {
    total->ms += span.ms;
    total->bus_transfers += span.bus_transfers;
    total->link_queries += span.link_queries;
    total->wake_ups += span.wake_ups;
}

void EnterStandby() {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    if (g_standby.in_standby) return;
    g_standby.in_standby = true;
    g_standby.at_start = Counters();
    g_standby.since = g_standby.at_start.ms;
    ++g_standby.done.standbys;
}

void LeaveStandby() {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    if (!g_standby.in_standby) return;
    Add(&g_standby.done, SpanSoFar(g_standby));
    g_standby.in_standby = false;
}

void NoteRestart(const std::string& what) {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    g_restart_gaps.Event(LinkEvent{qxsim::Notebook::Current().Kernel().Now(), what});
}

void NoteLinkEvent(const std::string& what) {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    g_link_gaps.Event(LinkEvent{qxsim::Notebook::Current().Kernel().Now(), what});
}

// The WLAN service tells its clients about the steered interface's link.
void NotifyWlan(uint32_t code) {
    Guid guid;
    if (ParseGuidText(qxsim::Notebook::Current().Link().AdapterName().c_str(), &guid)) {
        qxsim::Notebook::Current().Wlan().Notify(kWlanSourceAcm, code, guid);
    }
}
constexpr uint32_t kAcmConnectionComplete = 10;
constexpr uint32_t kAcmDisconnected = 21;

void Apply(const ScenarioEvent& e) {
    if (g_reporter) {
        std::string what = e.action;
        for (auto& a : e.args) what += " " + a;
        g_reporter(what);
    }
    auto& link = qxsim::Notebook::Current().Link();
    auto& power = qxsim::Notebook::Current().Power();
    auto& ctl = qxsim::Notebook::Current().Controller();
    auto& fw = qxsim::Notebook::Current().Firmware();
    auto& console = qxsim::Notebook::Current().Console();
    long a = 0, b = 0;
    Mac mac{};
    if (e.action == "rssi") {
        ParseInt(e.args[0], -128, 0, &a);
        ParseInt(e.args[1], -128, 0, &b);
        link.Change([a, b](LinkState& s) {
            s.rssi[0] = static_cast<int32_t>(a);
            s.rssi[1] = static_cast<int32_t>(b);
            s.rssi_average[0] = static_cast<int32_t>(a);
            s.rssi_average[1] = static_cast<int32_t>(b);
        });
    } else if (e.action == "traffic") {
        ParseInt(e.args[0], 0, 1000000000, &a);
        ParseInt(e.args[1], 0, 1000000000, &b);
        link.Change([a, b](LinkState& s) {
            s.rx_bytes_per_s = static_cast<uint64_t>(a);
            s.tx_bytes_per_s = static_cast<uint64_t>(b);
            // About 1400 bytes a packet, and at least a trickle of management frames.
            s.rx_packets_per_s = static_cast<uint64_t>(a) / 1400 + 5;
            s.tx_packets_per_s = static_cast<uint64_t>(b) / 1400 + 5;
        });
    } else if (e.action == "roam") {
        ParseMac(e.args[0], &mac);
        link.RoamAt(qxsim::Notebook::Current().Kernel().Now(), mac);
        NoteLinkEvent("roam");
    } else if (e.action == "linkloss") {
        link.LinkLossAt(qxsim::Notebook::Current().Kernel().Now());
        NotifyWlan(kAcmDisconnected);
    } else if (e.action == "linkback") {
        mac = link.Current().bssid;
        if (!e.args.empty()) ParseMac(e.args[0], &mac);
        link.LinkBackAt(qxsim::Notebook::Current().Kernel().Now(), mac);
        NotifyWlan(kAcmConnectionComplete);
        NoteLinkEvent("link back");
    } else if (e.action == "suspend") {
        power.Broadcast(4);
    } else if (e.action == "resume") {
        power.Broadcast(18);
        NoteRestart("resume");
    } else if (e.action == "resume-user") {
        // A resume the user triggered brings both broadcasts.
        power.Broadcast(7);
        power.Broadcast(18);
        NoteRestart("resume");
    } else if (e.action == "standby") {
        EnterStandby();
        power.SetDisplayState(0);
    } else if (e.action == "standby-exit") {
        LeaveStandby();
        power.SetDisplayState(1);
        NoteRestart("standby exit");
    } else if (e.action == "node-start") {
        int64_t ms = 0;
        ParseVirtualTime(e.args[0], &ms);
        qxsim::Notebook::Current().DeviceInstall().SetControllerStartTime(
            static_cast<uint32_t>(ms));
    } else if (e.action == "d0-loss") {
        int64_t ms = 0;
        ParseVirtualTime(e.args[0], &ms);
        ctl.LoseD0For(static_cast<uint32_t>(ms));
        auto& k = qxsim::Notebook::Current().Kernel();
        k.At(k.Now() + ms, [] {
            std::lock_guard<std::mutex> lk(g_link_events_m);
            g_d0_gaps.Event(LinkEvent{qxsim::Notebook::Current().Kernel().Now(), "D0 return"});
        });
    } else if (e.action == "controller") {
        const std::string& what = e.args[0];
        if (what == "hang") {
            fw.SetWriteOutcome(TransferOutcome::FailNow, -1);
            HangUntilNodeReset(qxsim::Notebook::Current().DeviceInstall().ControllerDisables());
        } else if (what == "silent") {
            fw.SetSilent(true);
        } else if (what == "answer") {
            fw.SetSilent(false);
            fw.SetWriteOutcome(TransferOutcome::Complete, 0);
        } else if (what == "refuse-open") {
            ctl.SetRefuseOpen(true);
        } else if (what == "accept-open") {
            ctl.SetRefuseOpen(false);
        } else if (what == "ignore-cancel") {
            ctl.SetIgnoreCancel(true);
        } else if (what == "honour-cancel") {
            ctl.SetIgnoreCancel(false);
        }
    } else if (e.action == "provider") {
        link.SetProviderAvailable(e.args[0] == "back");
    } else if (e.action == "ctrl-c") {
        console.RaiseCtrlEvent(0);
    } else if (e.action == "ctrl-break") {
        console.RaiseCtrlEvent(1);
    } else if (e.action == "close") {
        console.RaiseCtrlEvent(2);
    } else if (e.action == "shutdown" || e.action == "logoff") {
        // Windows tells a process with windows through them, not its console.
        power.EndSession(true, e.action == "logoff");
    } else if (e.action == "session-kept") {
        power.EndSession(false);  // another program vetoed: the session goes on
    } else if (e.action == "shutdown-console") {
        console.RaiseCtrlEvent(kCtrlShutdownEvent);
    } else if (e.action == "logoff-console") {
        console.RaiseCtrlEvent(kCtrlLogoffEvent);
    }
}

}  // namespace

bool ParseVirtualTime(const std::string& text, int64_t* ms) {
    if (text.empty()) return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    // Written so that NaN fails too: its conversion to an integer is undefined.
    if (end == text.c_str() || !(v >= 0 && v <= 1e9)) return false;
    std::string unit(end);
    double scale;
    if (unit.empty() || unit == "s") {
        scale = 1000;
    } else if (unit == "ms") {
        scale = 1;
    } else if (unit == "m") {
        scale = 60000;
    } else {
        return false;
    }
    *ms = static_cast<int64_t>(v * scale + 0.5);
    return true;
}

bool ParseScenario(const std::string& text, Scenario* out, std::string* error) {
    std::istringstream in(text);
    std::string line;
    int number = 0;
    out->events.clear();
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::string time;
        if (!(words >> time) || time[0] == '#') continue;
        ScenarioEvent e;
        e.line = number;
        if (!ParseVirtualTime(time, &e.at_ms)) {
            *error = "line " + std::to_string(number) + ": not a time: " + qxtools::Escaped(time);
            return false;
        }
        if (!(words >> e.action)) {
            *error =
                "line " + std::to_string(number) + ": no action after " + qxtools::Escaped(time);
            return false;
        }
        for (std::string w; words >> w;) e.args.push_back(w);
        const ActionSpec* spec = nullptr;
        for (const auto& s : kActions) {
            if (e.action == s.name) spec = &s;
        }
        if (spec == nullptr) {
            *error = "line " + std::to_string(number) +
                     ": unknown action: " + qxtools::Escaped(e.action);
            return false;
        }
        const int n = static_cast<int>(e.args.size());
        if (n < spec->min_args || n > spec->max_args) {
            *error =
                "line " + std::to_string(number) + ": wrong number of arguments for " + e.action;
            return false;
        }
        std::string bad = CheckArgs(e);
        if (!bad.empty()) {
            *error = "line " + std::to_string(number) + ": " + bad;
            return false;
        }
        out->events.push_back(std::move(e));
    }
    return true;
}

bool ReadScenarioFile(const std::string& path, std::string* text, std::string* error) {
    const std::string name = qxtools::Escaped(path);
    switch (qx::ReadBoundedFile(path, kMaxScenarioBytes, text)) {
        case qx::FileRead::kOk:
            return true;
        case qx::FileRead::kDirectory:
            *error = name + " is a directory, not a scenario file";
            break;
        case qx::FileRead::kCannotOpen:
            *error = "cannot open " + name + ": " + std::strerror(errno);
            break;
        case qx::FileRead::kCannotRead:
            *error = "cannot read " + name;
            break;
        case qx::FileRead::kTooLarge:
            *error = name + " is larger than " + std::to_string(kMaxScenarioBytes) +
                     " bytes; that is no scenario";
            break;
    }
    return false;
}

bool ScenarioEnds(const Scenario& scenario) {
    for (const auto& e : scenario.events) {
        if (e.action == "ctrl-c" || e.action == "ctrl-break" || e.action == "close" ||
            e.action == "shutdown") {
            return true;
        }
    }
    return false;
}

void LinkGapTracker::Event(const LinkEvent& event) {
    ++events_;
    if (event.at == last_report_) {
        // Answered by the report of the same moment, noted just before it.
        if (worst_.gap_ms < 0) worst_ = LinkGap{event, 0, false};
        return;
    }
    // A later event before the next report waits less than the pending one.
    if (!has_pending_) {
        pending_ = event;
        has_pending_ = true;
    }
}

void LinkGapTracker::Report(int64_t at) {
    last_report_ = at;
    if (!has_pending_ || at < pending_.at) return;
    const int64_t gap = at - pending_.at;
    if (worst_.gap_ms < 0 || gap > worst_.gap_ms) worst_ = LinkGap{pending_, gap, false};
    has_pending_ = false;
}

LinkGap LinkGapTracker::Worst() const {
    // An event nothing answered outweighs every answered one.
    if (has_pending_) return LinkGap{pending_, -1, true};
    return worst_;
}

LinkGap LongestGapToNextReport(const std::vector<LinkEvent>& events,
                               const std::vector<VTime>& reports) {
    LinkGapTracker tracker;
    size_t r = 0;
    for (const auto& e : events) {
        // Reports before the event come first; one at its time answers it.
        while (r < reports.size() && reports[r] < e.at) tracker.Report(reports[r++]);
        tracker.Event(e);
    }
    while (r < reports.size()) tracker.Report(reports[r++]);
    return tracker.Worst();
}

void NoteReportArrival(int64_t at) {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    g_link_gaps.Report(at);
    g_restart_gaps.Report(at);
    g_d0_gaps.Report(at);
}

StandbyFigures StandbySoFar() {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    StandbyFigures total = g_standby.done;
    if (g_standby.in_standby) Add(&total, SpanSoFar(g_standby));
    return total;
}

LinkGap RestartGapSoFar() {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    return g_restart_gaps.Worst();
}

LinkGap D0ReturnGapSoFar() {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    return g_d0_gaps.Worst();
}

LinkGap LinkGapSoFar() {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    return g_link_gaps.Worst();
}

uint64_t LinkEventsSoFar() {
    std::lock_guard<std::mutex> lk(g_link_events_m);
    return g_link_gaps.Events();
}

void SetScenarioReporter(std::function<void(const std::string&)> reporter) {
    g_reporter = std::move(reporter);
}

void ScheduleScenario(const Scenario& scenario) {
    auto& k = qxsim::Notebook::Current().Kernel();
    const VTime base = k.Now();
    for (const auto& e : scenario.events) {
        auto event = std::make_shared<ScenarioEvent>(e);
        k.At(base + e.at_ms, [event] { Apply(*event); });
    }
}

namespace {

// A stretch of ordinary use: start-up, a good link with moving signal and
// traffic, a roam, a link loss and its recovery, a suspend and resume, a
// controller that stops answering and is recovered by the node reset, Ctrl+C.
const char kDefaultScenario[] = R"(# A stretch of ordinary use
0s     note     the notebook starts with a good link to the home access point
8s     rssi     -55 -61
14s    traffic  3000000 400000
20s    rssi     -63 -70
26s    rssi     -71 -76
32s    traffic  250000 60000
38s    rssi     -58 -64
45s    roam     10:6f:3f:a1:b2:d4
52s    rssi     -49 -55
70s    linkloss
80s    linkback 10:6f:3f:a1:b2:d4
95s    suspend
105s   resume-user
150s   controller hang
420s   rssi     -52 -57
440s   ctrl-c
)";

const char kSteadyScenario[] = R"(# A good link, then Ctrl+C
0s     note     a steady link
60s    ctrl-c
)";

const char kRoamScenario[] = R"(# A roam without link loss
0s     note     two access points of one network
20s    roam     10:6f:3f:a1:b2:d4
60s    roam     10:6f:3f:a1:b2:c3
90s    ctrl-c
)";

const char kSuspendScenario[] = R"(# Sleep and wake-up
0s     note     the lid closes and opens again
20s    suspend
50s    resume-user
80s    ctrl-c
)";

const char kRecoveryScenario[] = R"(# The controller stops answering and is recovered
0s     note     the controller hangs after a while
10s    controller hang
300s   ctrl-c
)";

// A night with the lid closed on a modern-standby notebook: the display goes
// off (no broadcast), eight hours later it comes on again.
const char kStandbyScenario[] = R"(# A night of modern standby
0s     note     the lid closes at night: the display goes off, no suspend broadcast
30s    standby
28830s standby-exit
28860s ctrl-c
)";

// D0 lost and back without a broadcast (hibernate, fast startup, a device
// idled by its driver while the daemon was elsewhere): steering goes on.
const char kD0LossScenario[] = R"(# The device leaves D0 and comes back, unannounced
0s     note     the controller's device loses D0 twice without a broadcast
20s    d0-loss  5s
50s    d0-loss  500ms
80s    ctrl-c
)";

struct Named {
    const char* name;
    const char* text;
};
const Named kBuiltIns[] = {
    {"default", kDefaultScenario}, {"steady", kSteadyScenario},     {"roam", kRoamScenario},
    {"suspend", kSuspendScenario}, {"recovery", kRecoveryScenario}, {"standby", kStandbyScenario},
    {"d0loss", kD0LossScenario},
};

}  // namespace

const char* BuiltInScenario(const std::string& name) {
    for (const auto& b : kBuiltIns) {
        if (name == b.name) return b.text;
    }
    return nullptr;
}

std::vector<std::string> BuiltInScenarioNames() {
    std::vector<std::string> names;
    for (const auto& b : kBuiltIns) names.push_back(b.name);
    return names;
}

}  // namespace qxsim
