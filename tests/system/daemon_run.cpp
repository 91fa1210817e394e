#include "tests/system/daemon_run.h"

#include <cstdio>
#include <sstream>

#include "daemon/core/daemon_main.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/controller_model.h"
#include "sim/bus_recorder.h"
#include "sim/firmware_model.h"
#include "sim/device_install_model.h"
#include "sim/link_model.h"
#include "sim/vkernel.h"
#include "tools/qxsim/scenario.h"

namespace qxtest {

namespace {
constexpr const char* kMarker = "\n@@end\n";

// Every report of the run (the controller model keeps only the recent ones);
// the child has one daemon, so one list.
std::vector<qxsim::LinkReportSeen> g_reports;

void WriteSummary(uint32_t code) {
    auto& bus = qxsim::Notebook::Current().Bus();
    auto& fw = qxsim::Notebook::Current().Firmware();
    auto& node = qxsim::Notebook::Current().DeviceInstall();
    std::ostringstream s;
    s << kMarker;
    for (auto& r : g_reports) {
        s << "report " << r.arrival << " " << int(r.flags) << " " << r.traffic << " "
          << int(r.rssi0) << " " << int(r.rssi1) << "\n";
    }
    s << "counts " << fw.SetupCount() << " " << node.ControllerDisables() << " "
      << node.ControllerEnables() << " " << fw.RejectedFrames() << " " << bus.BusErrorCount() << " "
      << qxsim::Notebook::Current().Kernel().Now() << " " << code << "\n";
    for (auto& e : bus.BusErrors()) s << "buserror " << e << "\n";
    std::string text = s.str();
    qxsim::Notebook::Current().Console().Write(text.data(), text.size());
}
}  // namespace

int DaemonRun::Count(const std::string& text) const {
    int n = 0;
    for (size_t pos = out.find(text); pos != std::string::npos; pos = out.find(text, pos + 1)) ++n;
    return n;
}

int64_t DaemonRun::FirstReportAfter(int64_t t) const {
    for (auto& r : reports) {
        if (r.at_ms >= t) return r.at_ms;
    }
    return -1;
}

DaemonRun RunDaemon(const std::vector<std::string>& args, const std::string& scenario,
                    const std::function<void()>& setup, int timeout_seconds) {
    DaemonRun run;
    const auto body = [&] {
        // The daemon ends through ExitProcess, so it needs a process of its
        // own; what it finds there is the notebook at power-on.
        qxsim::Notebook::Current().Reset();
        qxsim::Scenario parsed;
        std::string error;
        if (!qxsim::ParseScenario(scenario, &parsed, &error)) {
            std::printf("bad scenario: %s\n", error.c_str());
            return;
        }
        if (setup) setup();
        qxsim::Notebook::Current().Firmware().SetReportObserver(
            [](const qxsim::LinkReportSeen& r) { g_reports.push_back(r); });
        qxsim::Notebook::Current().Kernel().AddExitHook(WriteSummary);
        qxsim::ScheduleScenario(parsed);
        std::vector<std::string> words{"quellix.exe"};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        qx::QuellixMain(static_cast<int>(words.size()), argv.data());
    };
    run.child = RunInChild(body, timeout_seconds);
    const std::string& all = run.child.out;
    size_t cut = all.rfind(kMarker);
    run.out = all.substr(0, cut == std::string::npos ? all.size() : cut);
    if (cut == std::string::npos) return run;
    std::istringstream in(all.substr(cut + std::string(kMarker).size()));
    std::string kind;
    while (in >> kind) {
        if (kind == "report") {
            ReportSeen r{};
            int flags, rssi0, rssi1, traffic;
            in >> r.at_ms >> flags >> traffic >> rssi0 >> rssi1;
            r.flags = static_cast<uint8_t>(flags);
            r.traffic = static_cast<uint16_t>(traffic);
            r.rssi0 = static_cast<uint8_t>(rssi0);
            r.rssi1 = static_cast<uint8_t>(rssi1);
            run.reports.push_back(r);
        } else if (kind == "counts") {
            in >> run.setups >> run.disables >> run.enables >> run.rejected >> run.bus_errors >>
                run.end_ms >> run.exit_code;
        } else {
            std::string rest;
            std::getline(in, rest);
        }
    }
    return run;
}

}  // namespace qxtest
