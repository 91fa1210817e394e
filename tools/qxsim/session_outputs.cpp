#include "tools/qxsim/session_outputs.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "common/utf8.h"
#include "sim/notebook.h"
#include "sim/controller_model.h"
#include "sim/bus_recorder.h"
#include "sim/eventlog_model.h"
#include "sim/vkernel.h"
#include "tools/escape_text.h"
#include "tools/qxsim/timeline.h"

namespace qxsim {

namespace {

struct Outputs {
    std::mutex m;
    SessionOutputOptions options;
    std::unique_ptr<I2cVcdWriter> vcd;
    std::unique_ptr<SessionTimeline> timeline;
    bool failed = false;  // a file could not be written at the end
};

Outputs& State() {
    static Outputs* s = new Outputs;  // lives until the process ends, past the exit hooks
    return *s;
}

void OnBus(qxsim::BusRecorder::BusActivity what, const uint8_t* bytes, size_t count) {
    VTime now = qxsim::Notebook::Current().Kernel().Now();
    Outputs& s = State();
    std::lock_guard<std::mutex> lk(s.m);
    using A = qxsim::BusRecorder::BusActivity;
    if (s.vcd && (what == A::Write || what == A::Read)) {
        s.vcd->Transfer(now, what == A::Write, bytes, count);
    }
    if (!s.timeline) return;
    if (what == A::Write) s.timeline->OnWrite(now, bytes, count);
    if (what == A::WriteFailed) s.timeline->OnWriteFailed(now);
    if (what == A::NodeDisabled) s.timeline->OnNodeReset(now);
}

void OnEvent(const EventRecord& e) {
    VTime now = qxsim::Notebook::Current().Kernel().Now();
    Outputs& s = State();
    std::lock_guard<std::mutex> lk(s.m);
    if (!s.timeline || e.strings.empty()) return;
    s.timeline->OnMessage(now, qx::Utf8FromUtf16(e.strings.back()));
}

void Finish(uint32_t) {
    VTime now = qxsim::Notebook::Current().Kernel().Now();
    Outputs& s = State();
    std::lock_guard<std::mutex> lk(s.m);
    if (s.vcd && !s.vcd->Close()) {
        fprintf(stderr, "qxsim: could not write %s: %s\n",
                qxtools::Escaped(s.options.vcd_path).c_str(), strerror(errno));
        s.failed = true;
    }
    s.vcd.reset();
    if (!s.timeline) return;
    s.timeline->Finish(now);
    std::string page = s.timeline->Html(s.options.title);
    FILE* f = fopen(s.options.html_path.c_str(), "w");
    bool ok = f != nullptr && fwrite(page.data(), 1, page.size(), f) == page.size();
    if (f != nullptr) ok = fclose(f) == 0 && ok;
    if (!ok) {
        fprintf(stderr, "qxsim: could not write %s: %s\n",
                qxtools::Escaped(s.options.html_path).c_str(), strerror(errno));
        s.failed = true;
    }
    s.timeline.reset();
}

}  // namespace

bool StartSessionOutputs(const SessionOutputOptions& options, std::string* error) {
    if (options.vcd_path.empty() && options.html_path.empty()) return true;
    Outputs& s = State();
    s.options = options;
    if (!options.vcd_path.empty()) {
        s.vcd.reset(new I2cVcdWriter(options.speed));
        if (!s.vcd->Open(options.vcd_path)) {
            *error = "cannot create " + qxtools::Escaped(options.vcd_path) + ": " + strerror(errno);
            s.vcd.reset();
            return false;
        }
    }
    if (!options.html_path.empty()) {
        // Fail now rather than after a long session.
        FILE* f = fopen(options.html_path.c_str(), "w");
        if (f == nullptr) {
            *error =
                "cannot create " + qxtools::Escaped(options.html_path) + ": " + strerror(errno);
            return false;
        }
        fclose(f);
        s.timeline.reset(new SessionTimeline);
        qxsim::Notebook::Current().EventLog().SetReportObserver(OnEvent);
    }
    qxsim::Notebook::Current().Bus().SetBusObserver(OnBus);
    qxsim::Notebook::Current().Kernel().AddExitHook(Finish);
    return true;
}

bool SessionOutputsFailed() {
    Outputs& s = State();
    std::lock_guard<std::mutex> lk(s.m);
    return s.failed;
}

void SessionOutputsOnScenario(const std::string& action) {
    VTime now = qxsim::Notebook::Current().Kernel().Now();
    Outputs& s = State();
    std::lock_guard<std::mutex> lk(s.m);
    if (s.timeline) s.timeline->OnScenario(now, action);
}

}  // namespace qxsim
