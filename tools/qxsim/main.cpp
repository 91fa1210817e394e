// qxsim: the real steering daemon on the virtual notebook.
//
// Runs quellix's own code (start-up, supervision, worker, WLAN layer,
// providers, commands, transport) on the simulated notebook in virtual time,
// plays a scenario against it, and prints the daemon's messages interleaved
// with what the antenna controller received.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "daemon/core/daemon_main.h"
#include "protocol/wire.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/bus_recorder.h"
#include "sim/firmware_model.h"
#include "sim/device_install_model.h"
#include "sim/leak_check.h"
#include "sim/vkernel.h"
#include "tools/escape_text.h"
#include "tools/qxsim/scenario.h"
#include "tools/qxsim/session_outputs.h"

#ifdef QXSIM_OVER_DRIVER
#include "kmdf/stack/stack.h"
#endif

namespace {

const char kUsage[] =
    "usage: qxsim [OPTIONS] [--] [quellix options]\n"
    "\n"
    "Runs the steering daemon on the virtual notebook.\n"
    "\n"
    "  --scenario NAME|FILE  a built-in scenario or a scenario file (default: default)\n"
    "  --duration TIME       end with Ctrl+C after this much virtual time (e.g. 90s, 5m)\n"
    "  --speed FACTOR        pace virtual time: 1 = real time, 10 = ten times faster;\n"
    "                        0 (default) runs as fast as possible\n"
    "  --frames all|none     print a line per frame the controller receives (default all)\n"
    "  --driver              run the daemon's transport through QXVeltrane on the\n"
    "                        simulated kernel-mode framework (qxsim-driver)\n"
    "  --vcd FILE            write the controller's I2C bus as a waveform (VCD)\n"
    "  --bus-speed standard|fast  its timing: 100 kHz (default) or 400 kHz\n"
    "  --html FILE           write a timeline of the session as an HTML page\n"
    "  --list                list the built-in scenarios\n"
    "  --help                this text\n";

constexpr double kMinSpeed = 0.001;
constexpr double kMaxSpeed = 1000000;

int Fail(const std::string& why) {
    std::fprintf(stderr, "qxsim: %s\n(qxsim --help tells the options)\n", why.c_str());
    return 2;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

int ReportDbm(uint8_t b) {
    return (b - 400) / 4;
}

// One line per frame the controller received, in the daemon's output.
std::string DescribeFrame(const uint8_t* wire, size_t n) {
    using namespace qxproto;
    if (n == 1 && wire[0] == kWakeByte) return "wake byte";
    Frame frame;
    int status = DecodeExactFrame(wire, n, &frame);
    if (status != kDecodeOk)
        return std::string("rejected frame (") + DecodeStatusText(status) + "): " + Hex(wire, n);
    std::string text;
    for (uint16_t i = 0; i < frame.record_count; ++i) {
        const Record& r = frame.records[i];
        const uint8_t* rec = frame.RecordBytes(i);
        const uint8_t* d = rec + kRecordHeaderLen;
        char line[200];
        if (r.read_request) {
            std::snprintf(line, sizeof line, "asks for record %u", r.type);
        } else if (r.type == kTypeConfigWrite && r.length == kConfigWriteLen) {
            std::snprintf(line, sizeof line, "configuration %s",
                          Hex(d + kAccessCodeLen, kSettingsLen).c_str());
        } else if (r.type == kTypeMSwitchTable && r.length == kMSwitchTableLen) {
            std::snprintf(line, sizeof line, "switch table %s", Hex(d, kMSwitchTableLen).c_str());
        } else if (r.type == kTypeLinkReport && LinkReportEntries(rec, r.size) > 0) {
            const LinkEntry e = LinkReportEntry(rec, 0);
            std::snprintf(line, sizeof line,
                          "link report: stamp %u, %s, traffic %u, rssi %u (%d dBm) / %u (%d dBm)",
                          LinkReportTimestamp(rec),
                          (e.flags & kLinkEntryNewBssid) ? "new BSSID" : "same BSSID", e.traffic,
                          e.rssi0, ReportDbm(e.rssi0), e.rssi1, ReportDbm(e.rssi1));
        } else {
            std::snprintf(line, sizeof line, "record type %u, %u bytes", r.type, r.length);
        }
        if (!text.empty()) text += "; ";
        text += line;
    }
    return text;
}

void Say(const std::string& text) {
    std::string line =
        "[" + qxsim::FormatVTime(qxsim::Notebook::Current().Kernel().Now()) + "] " + text + "\n";
    qxsim::Notebook::Current().Console().Write(line.data(), line.size());
}

void PrintSummary(uint32_t exit_code) {
    auto& bus = qxsim::Notebook::Current().Bus();
    auto& fw = qxsim::Notebook::Current().Firmware();
    std::ostringstream s;
    s << "\nqxsim: the daemon ended with exit code " << exit_code << " after "
      << qxsim::FormatVTime(qxsim::Notebook::Current().Kernel().Now()) << " s of virtual time\n"
      << "  link reports received by the controller: " << fw.LinkReportCount() << " ("
      << fw.NewBssidReportCount() << " with a new BSSID)\n"
      << "  controller set-ups: " << fw.SetupCount() << "\n"
      << "  device-node resets: " << qxsim::Notebook::Current().DeviceInstall().ControllerDisables()
      << "\n"
      << "  rejected frames: " << fw.RejectedFrames() << "\n"
      << "  overlapping controller use: " << bus.BusErrorCount() << "\n";
    const auto standby = qxsim::StandbySoFar();
    if (standby.standbys > 0) {
        // Exactly this form: what a night of standby cost.
        s << "  in standby: " << qxsim::FormatVTime(standby.ms) << " s, bus transfers "
          << standby.bus_transfers << ", link queries " << standby.link_queries
          << ", daemon wake-ups " << standby.wake_ups << "\n";
    }
    const auto d0 = qxsim::D0ReturnGapSoFar();
    if (d0.unanswered) {
        s << "  longest gap from a D0 return to the next report: none after the " << d0.event.what
          << " at " << qxsim::FormatVTime(d0.event.at) << "\n";
    } else if (d0.gap_ms >= 0) {
        s << "  longest gap from a D0 return to the next report: " << d0.gap_ms << " ms ("
          << d0.event.what << " at " << qxsim::FormatVTime(d0.event.at) << ")\n";
    }
    const auto restart = qxsim::RestartGapSoFar();
    if (restart.unanswered) {
        s << "  longest gap from a resume or standby exit to the next report: none after the "
          << restart.event.what << " at " << qxsim::FormatVTime(restart.event.at) << "\n";
    } else if (restart.gap_ms >= 0) {
        s << "  longest gap from a resume or standby exit to the next report: " << restart.gap_ms
          << " ms (" << restart.event.what << " at " << qxsim::FormatVTime(restart.event.at)
          << ")\n";
    }
    const auto gap = qxsim::LinkGapSoFar();
    if (gap.unanswered) {
        s << "  longest gap from a roam or link back to the next report: none after the "
          << gap.event.what << " at " << qxsim::FormatVTime(gap.event.at) << "\n";
    } else if (gap.gap_ms >= 0) {
        s << "  longest gap from a roam or link back to the next report: " << gap.gap_ms << " ms ("
          << gap.event.what << " at " << qxsim::FormatVTime(gap.event.at) << ")\n";
    }
    std::string text = s.str();
    qxsim::Notebook::Current().Console().Write(text.data(), text.size());
}

// The last thing before the simulated process ends: the summary, and exit
// code 2 when a picture of the session could not be written (the daemon's
// own code says nothing about the files).
void EndSession(uint32_t exit_code) {
    PrintSummary(exit_code);
    if (qxsim::SessionOutputsFailed()) {
        std::fflush(nullptr);
        _exit(qxsim::ExitCodeAfterLeakCheck(2));
    }
}

// A path with its folder resolved, for a file that may not exist yet.
std::string ResolvedPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    char* real = realpath(dir.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string resolved = std::string(real) + "/" + path.substr(slash + 1);
    free(real);
    return resolved;
}

// Whether two paths name one file: the same file when both exist (links
// included), the same place in the same folder when neither does yet.
bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    const bool has_a = stat(a.c_str(), &sa) == 0;
    const bool has_b = stat(b.c_str(), &sb) == 0;
    if (has_a && has_b) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return !has_a && !has_b && ResolvedPath(a) == ResolvedPath(b);
}

}  // namespace

// --driver runs the same tool built over the driver stack, qxsim-driver,
// which sits beside this program.
int RunOverDriver(int argc, char** argv, int driver_index) {
    std::string self(argv[0]);
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n > 0) self.assign(buf, static_cast<size_t>(n));
    std::string sibling = self.substr(0, self.rfind('/') + 1) + "qxsim-driver";
    std::vector<char*> args{const_cast<char*>(sibling.c_str())};
    for (int i = 1; i < argc; ++i) {
        if (i != driver_index) args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    execv(sibling.c_str(), args.data());
    return Fail("cannot run " + sibling);
}

int main(int argc, char** argv) {
    std::string scenario_arg = "default";
    int64_t duration_ms = -1;
    double speed = 0;
    bool frames = true;
    qxsim::SessionOutputOptions outputs;
    int i = 1;
    for (; i < argc; ++i) {
        std::string a = argv[i];
        // The next option is no value: "--vcd --duration 1s" would write a
        // file named --duration and drop the duration.
        auto value = [&]() -> const char* {
            if (i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0) return nullptr;
            return argv[++i];
        };
        // A file name that begins with '-' is far more likely one of the
        // daemon's options (./-name names such a file).
        auto file_value = [&]() -> const char* {
            if (i + 1 >= argc || argv[i + 1][0] == '-') return nullptr;
            return argv[++i];
        };
        if (a == "--") {
            ++i;
            break;
        } else if (a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--driver") {
#ifdef QXSIM_OVER_DRIVER
            continue;
#else
            return RunOverDriver(argc, argv, i);
#endif
        } else if (a == "--list") {
            for (auto& n : qxsim::BuiltInScenarioNames()) std::printf("%s\n", n.c_str());
            return 0;
        } else if (a == "--scenario") {
            const char* v = file_value();
            if (v == nullptr) return Fail("--scenario needs a name or a file");
            scenario_arg = v;
        } else if (a == "--duration") {
            const char* v = value();
            if (v == nullptr || !qxsim::ParseVirtualTime(v, &duration_ms) || duration_ms == 0) {
                return Fail("--duration needs a time such as 90s or 5m");
            }
        } else if (a == "--speed") {
            const char* v = value();
            char* end = nullptr;
            if (v != nullptr) speed = std::strtod(v, &end);
            // Beyond these the pacing means nothing: a millionth of real time
            // never ends, and the wall-clock sleep of a tiny factor overflows.
            // Written so that NaN fails too.
            if (v == nullptr || end == v || *end != '\0' ||
                !(speed == 0 || (speed >= kMinSpeed && speed <= kMaxSpeed))) {
                return Fail(
                    "--speed needs 0 (as fast as possible) or a factor from 0.001 to 1000000");
            }
        } else if (a == "--frames") {
            const char* v = value();
            if (v == nullptr || (std::strcmp(v, "all") != 0 && std::strcmp(v, "none") != 0)) {
                return Fail("--frames needs all or none");
            }
            frames = std::strcmp(v, "all") == 0;
        } else if (a == "--vcd" || a == "--html") {
            const char* v = file_value();
            if (v == nullptr || *v == '\0') return Fail(a + " needs a file name");
            (a == "--vcd" ? outputs.vcd_path : outputs.html_path) = v;
        } else if (a == "--bus-speed") {
            const char* v = value();
            if (v == nullptr || (std::strcmp(v, "standard") != 0 && std::strcmp(v, "fast") != 0)) {
                return Fail("--bus-speed needs standard or fast");
            }
            outputs.speed =
                std::strcmp(v, "fast") == 0 ? qxsim::I2cSpeed::Fast : qxsim::I2cSpeed::Standard;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return Fail("unknown option " + qxtools::Escaped(a));
        } else {
            break;  // the daemon's options begin here
        }
    }

    std::string text;
    const char* builtin = qxsim::BuiltInScenario(scenario_arg);
    if (builtin != nullptr) {
        text = builtin;
    } else if (std::string error; !qxsim::ReadScenarioFile(scenario_arg, &text, &error)) {
        return Fail("no built-in scenario named " + qxtools::Escaped(scenario_arg) + ", and " +
                    error);
    }
    // Written at the end of the session, they would destroy what they name.
    const std::pair<const char*, std::string> files[] = {{"--vcd", outputs.vcd_path},
                                                         {"--html", outputs.html_path}};
    for (const auto& [option, path] : files) {
        if (!path.empty() && builtin == nullptr && SameFile(path, scenario_arg)) {
            return Fail(std::string(option) + " names the scenario file " +
                        qxtools::Escaped(scenario_arg) + "; it would be overwritten");
        }
    }
    if (!outputs.vcd_path.empty() && !outputs.html_path.empty() &&
        SameFile(outputs.vcd_path, outputs.html_path)) {
        return Fail("--vcd and --html name the same file " + qxtools::Escaped(outputs.html_path));
    }
    qxsim::Scenario scenario;
    std::string error;
    if (!qxsim::ParseScenario(text, &scenario, &error)) {
        return Fail(qxtools::Escaped(scenario_arg) + ": " + error);
    }
    if (duration_ms > 0) {
        qxsim::ScenarioEvent end;
        end.at_ms = duration_ms;
        end.action = "ctrl-c";
        scenario.events.push_back(end);
    }
    // Nothing would end the daemon: the session would run at full speed for ever.
    if (!qxsim::ScenarioEnds(scenario)) {
        return Fail(qxtools::Escaped(scenario_arg) +
                    " never ends the daemon: give it a ctrl-c, ctrl-break, close or shutdown "
                    "line, or give --duration");
    }

    std::vector<char*> daemon_args{const_cast<char*>("quellix.exe")};
    for (; i < argc; ++i) daemon_args.push_back(argv[i]);
    daemon_args.push_back(nullptr);

    auto& kernel = qxsim::Notebook::Current().Kernel();
    kernel.SetSpeed(speed);
    if (frames) {
        qxsim::Notebook::Current().Bus().SetFrameObserver(
            [](const uint8_t* wire, size_t n) { Say("controller <- " + DescribeFrame(wire, n)); });
    }
    qxsim::SetScenarioReporter([](const std::string& what) {
        // A note is the scenario file's text: no raw escape sequence reaches the terminal.
        Say("notebook: " + qxtools::Escaped(what));
        qxsim::SessionOutputsOnScenario(what);
    });
    // The roam and link-back gap follows every report, without keeping them.
    qxsim::Notebook::Current().Firmware().SetReportObserver(
        [](const qxsim::LinkReportSeen& r) { qxsim::NoteReportArrival(r.arrival); });
    kernel.AddExitHook(EndSession);
    outputs.title = "qxsim: scenario " + scenario_arg;
    std::string output_error;
    if (!qxsim::StartSessionOutputs(outputs, &output_error)) return Fail(output_error);
#ifdef QXSIM_OVER_DRIVER
    if (!NT_SUCCESS(kmdfsim::StartDriverStack(kmdfsim::BusDevice::Controller))) {
        return Fail("the driver stack did not start");
    }
    Say("notebook: QXVeltrane started on the simulated framework; the daemon's channel goes "
        "through it");
#endif
    qxsim::ScheduleScenario(scenario);
    qx::QuellixMain(static_cast<int>(daemon_args.size() - 1), daemon_args.data());
}
