// Scenarios for qxsim: what happens to the virtual notebook and when.
//
// A scenario is text, one event per line: a virtual time, an action and its
// arguments. Blank lines and lines starting with '#' are ignored.
//
//   0s      note   a good link to the home access point
//   12.5s   rssi   -61 -66          chain 0 and chain 1 in dBm
//   20s     traffic 400000 80000    received and sent bytes per second
//   45s     roam   10:6f:3f:a1:b2:d4
//   70s     linkloss
//   80s     linkback 10:6f:3f:a1:b2:c3
//   100s    suspend                 PBT_APMSUSPEND
//   130s    resume                  PBT_APMRESUMEAUTOMATIC (resume-user: PBT_APMRESUMESUSPEND)
//   100s    standby                 modern standby: the display turns off, no broadcast
//   130s    standby-exit            the display comes on again, no broadcast
//   150s    controller hang         writes fail until the node is power-cycled
//   160s    controller silent|answer|refuse-open|accept-open
//   160s    controller ignore-cancel  the bus completes no transfer, cancelled or
//                                   not (a slave holding SCL low); honour-cancel:
//                                   transfers complete again
//   165s    node-start 2500ms       from now on the driver's device is ready that
//                                   long after each enable of its node
//   175s    d0-loss  5s             the device leaves D0 unannounced (no broadcast)
//                                   and is back after that long
//   170s    provider lost|back
//   300s    ctrl-c                  also ctrl-break, close
//   300s    shutdown                the session ends (also logoff): the end-session
//                                   messages to the daemon's window; session-kept:
//                                   the session goes on after all
//   300s    shutdown-console        the console event instead (also logoff-console),
//                                   which Windows withholds from a process with windows
//
// Times take the units ms, s, m (plain numbers are seconds).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qxsim {

struct ScenarioEvent {
    int64_t at_ms = 0;
    std::string action;
    std::vector<std::string> args;
    int line = 0;
};

struct Scenario {
    std::string name;
    std::vector<ScenarioEvent> events;
};

// Parses scenario text; on error returns false with a message naming the line.
bool ParseScenario(const std::string& text, Scenario* out, std::string* error);

// Parses "12s", "1500ms", "2m", "12.5" (seconds); false on anything else.
bool ParseVirtualTime(const std::string& text, int64_t* ms);

// The most a scenario file may hold: far beyond any scenario written by hand,
// and a bound on what a wrong path (/dev/zero, a capture) makes qxsim read.
constexpr size_t kMaxScenarioBytes = 1 << 20;

// Reads a scenario file; false with a message for a directory, a file that
// cannot be read or one larger than kMaxScenarioBytes.
bool ReadScenarioFile(const std::string& path, std::string* text, std::string* error);

// True when an event of the scenario ends the daemon (ctrl-c, ctrl-break,
// close or shutdown): without one the session would never end.
bool ScenarioEnds(const Scenario& scenario);

// The built-in scenarios by name; null when there is none of that name.
const char* BuiltInScenario(const std::string& name);
std::vector<std::string> BuiltInScenarioNames();

// Schedules the events on the virtual notebook (relative to now).
void ScheduleScenario(const Scenario& scenario);

// A roam or a link back, when it happened.
struct LinkEvent {
    int64_t at = 0;
    std::string what;
};

// The event followed longest by no report.
// gap_ms -1: no events; unanswered: some event was never followed by a report.
struct LinkGap {
    LinkEvent event;
    int64_t gap_ms = -1;
    bool unanswered = false;
};

// Follows roams, link-backs and reports as they happen, in time order, and
// keeps only what the longest gap needs: the oldest event no report has
// answered yet and the worst gap so far. A day of events costs no memory.
// A report at an event's own time answers it.
class LinkGapTracker {
  public:
    void Event(const LinkEvent& event);
    void Report(int64_t at);
    LinkGap Worst() const;
    uint64_t Events() const { return events_; }

  private:
    LinkGap worst_;
    LinkEvent pending_;
    bool has_pending_ = false;
    int64_t last_report_ = -1;
    uint64_t events_ = 0;
};

// The same over whole lists (reports: arrival times in order).
LinkGap LongestGapToNextReport(const std::vector<LinkEvent>& events,
                               const std::vector<int64_t>& reports);

// The scenario's own roams and link-backs (noted as they are played) against
// the reports noted here; the longest gap so far and how many events there were.
void NoteReportArrival(int64_t at);
LinkGap LinkGapSoFar();
uint64_t LinkEventsSoFar();

// What the daemon did while the notebook was in modern standby (from each
// standby to its standby-exit, or to now): the virtual time spent there, the
// transfers issued to the controller's device, the WLAN, IP Helper and
// vendor-source calls (every call of those kinds the fault plan counts), and
// the returns of the daemon's threads from a sleep or a wait.
struct StandbyFigures {
    int64_t ms = 0;
    uint64_t bus_transfers = 0;
    uint64_t link_queries = 0;
    uint64_t wake_ups = 0;
    int standbys = 0;
};
StandbyFigures StandbySoFar();

// The longest gap from a resume or a standby exit to the next report (the
// restarts of steering after a sleep).
LinkGap RestartGapSoFar();
// The longest gap from the device's return to D0 (d0-loss) to the next report.
LinkGap D0ReturnGapSoFar();

// Receives a line for each scenario event as it happens.
void SetScenarioReporter(std::function<void(const std::string&)> reporter);

}  // namespace qxsim
