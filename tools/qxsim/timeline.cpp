#include "tools/qxsim/timeline.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "protocol/wire.h"

namespace qxsim {

namespace {

void Add(std::string* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Add(std::string* s, const char* format, ...) {
    char buf[512];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n >= static_cast<int>(sizeof buf)) n = sizeof buf - 1;
    if (n > 0) s->append(buf, static_cast<size_t>(n));
}

// The page's geometry, in SVG user units.
constexpr double kWidth = 1200;
constexpr double kLeft = 70, kRight = 20;
constexpr double kPlotWidth = kWidth - kLeft - kRight;
constexpr double kRssiTop = 40, kRssiHeight = 220;
constexpr double kTrafficTop = 290, kTrafficHeight = 120;
constexpr double kEventsTop = 440, kEventsHeight = 100;
constexpr double kAxisY = kEventsTop + kEventsHeight + 10;
constexpr double kMessagesY = kAxisY + 34;
constexpr double kLegendY = kMessagesY + 30;
constexpr double kHeight = kLegendY + 40;
constexpr double kRssiLow = -100, kRssiHigh = -20;

// Reports further apart than this leave a gap in the curves: longer than
// the daemon ever waits between reports while it runs (20 s without a sample).
constexpr VTime kCurveGapMs = 21000;

double ReportDbm(uint8_t b) {
    return b / 4.0 - 100.0;
}

struct Scale {
    VTime end;
    double X(VTime t) const { return kLeft + kPlotWidth * static_cast<double>(t) / end; }
    int Column(VTime t) const { return static_cast<int>(X(t) - kLeft); }
};

// A curve thinned to the first, lowest, highest and last value of each pixel
// column: its shape and its extremes stay, its size no longer grows with the
// session's length.
template <typename Value>
std::string ThinnedPoints(const std::vector<SessionTimeline::Report>& reports, const Scale& sc,
                          Value value, double top, double height, double lo, double hi) {
    std::string points;
    VTime previous = -kCurveGapMs - 1;
    auto y = [&](double v) {
        v = std::min(hi, std::max(lo, v));
        return top + height * (hi - v) / (hi - lo);
    };
    size_t i = 0;
    while (i < reports.size()) {
        int col = sc.Column(reports[i].t);
        size_t j = i;
        size_t lo_at = i, hi_at = i;
        while (j < reports.size() && sc.Column(reports[j].t) == col) {
            if (value(reports[j]) < value(reports[lo_at])) lo_at = j;
            if (value(reports[j]) > value(reports[hi_at])) hi_at = j;
            ++j;
        }
        size_t picks[4] = {i, std::min(lo_at, hi_at), std::max(lo_at, hi_at), j - 1};
        size_t last = SIZE_MAX;
        for (size_t k : picks) {
            if (k == last) continue;
            last = k;
            // No line across a stretch without reports (suspended, hung).
            Add(&points, "%c%.1f %.1f", reports[k].t - previous > kCurveGapMs ? 'M' : 'L',
                sc.X(reports[k].t), y(value(reports[k])));
            previous = reports[k].t;
        }
        i = j;
    }
    return points;
}

// A tidy step for the time axis: about ten labels whatever the length.
VTime TickStep(VTime end) {
    static const VTime steps[] = {100,     200,     500,     1000,     2000,     5000,    10000,
                                  15000,   30000,   60000,   120000,   300000,   600000,  900000,
                                  1800000, 3600000, 7200000, 14400000, 28800000, 86400000};
    for (VTime s : steps) {
        if (end / s <= 12) return s;
    }
    return end / 10 + 1;
}

std::string TimeLabel(VTime t, VTime step) {
    char buf[32];
    if (step < 1000) {
        snprintf(buf, sizeof buf, "%.1f s", t / 1000.0);
    } else if (step < 60000) {
        snprintf(buf, sizeof buf, "%" PRId64 " s", t / 1000);
    } else if (t % 60000 == 0) {
        snprintf(buf, sizeof buf, "%" PRId64 " min", t / 60000);
    } else {
        snprintf(buf, sizeof buf, "%" PRId64 ":%02" PRId64, t / 60000, (t / 1000) % 60);
    }
    return buf;
}

void Spans(std::string* svg, const std::vector<SessionTimeline::Span>& spans, const Scale& sc,
           const char* cls, const char* what) {
    for (auto& s : spans) {
        double x0 = sc.X(s.from), x1 = sc.X(s.to);
        Add(svg,
            "<rect class=\"%s\" x=\"%.1f\" y=\"%.0f\" width=\"%.1f\" height=\"%.0f\">"
            "<title>%s %.3f s to %.3f s</title></rect>\n",
            cls, x0, kRssiTop, std::max(1.0, x1 - x0), kEventsTop + kEventsHeight - kRssiTop, what,
            s.from / 1000.0, s.to / 1000.0);
    }
}

// Few marks (set-ups, resets): one element each, with its time as a title.
void Marks(std::string* svg, const std::vector<VTime>& times, const Scale& sc, const char* cls,
           double y, const char* shape, const char* what) {
    Add(svg, "<g class=\"%s\" data-count=\"%zu\">\n", cls, times.size());
    for (VTime t : times) {
        Add(svg,
            "<path transform=\"translate(%.1f %.0f)\" d=\"%s\"><title>%s at %.3f "
            "s</title></path>\n",
            sc.X(t), y, shape, what, t / 1000.0);
    }
    *svg += "</g>\n";
}

// Many marks (reports, failed writes): one path, one short stroke per event.
void Ticks(std::string* svg, const std::vector<VTime>& times, const Scale& sc, const char* cls,
           double y, double h, const char* what) {
    Add(svg, "<path class=\"%s\" data-count=\"%zu\" d=\"", cls, times.size());
    for (VTime t : times) Add(svg, "M%.1f %.0fv%.0f", sc.X(t), y, h);
    Add(svg, "\"><title>%zu %s</title></path>\n", times.size(), what);
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                // Control characters other than line ends have no place in a title.
                if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
                    out += ' ';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

void SessionTimeline::OnWrite(VTime t, const uint8_t* bytes, size_t count) {
    static qxproto::Frame frame;  // large; used on one virtual thread at a time
    size_t pos = 0;
    while (pos < count) {
        size_t len = qxproto::FrameLength(bytes + pos, count - pos);
        if (len == 0) break;
        if (qxproto::DecodeFrame(bytes + pos, len, &frame) == qxproto::kDecodeOk) {
            for (uint16_t i = 0; i < frame.record_count; ++i) {
                const qxproto::Record& r = frame.records[i];
                if (r.read_request) continue;
                const uint8_t* record = frame.RecordBytes(i);
                if (r.type == qxproto::kTypeConfigWrite && r.length == qxproto::kConfigWriteLen) {
                    setups_.push_back(t);
                }
                if (r.type == qxproto::kTypeLinkReport &&
                    qxproto::LinkReportEntries(record, r.size) > 0) {
                    const qxproto::LinkEntry e = qxproto::LinkReportEntry(record, 0);
                    reports_.push_back({t, (e.flags & qxproto::kLinkEntryNewBssid) != 0, e.rssi0,
                                        e.rssi1, e.traffic});
                }
            }
        }
        pos += len;
    }
}

void SessionTimeline::Open(std::vector<Span>* spans, VTime t) {
    if (spans->empty() || spans->back().to >= 0) spans->push_back({t, -1});
}

void SessionTimeline::Close(std::vector<Span>* spans, VTime t) {
    if (!spans->empty() && spans->back().to < 0) spans->back().to = t;
}

void SessionTimeline::OnScenario(VTime t, const std::string& action) {
    std::string verb = action.substr(0, action.find(' '));
    if (verb == "suspend") Open(&suspends_, t);
    if (verb == "resume" || verb == "resume-user") Close(&suspends_, t);
    if (verb == "linkloss") Open(&link_downs_, t);
    if (verb == "linkback") Close(&link_downs_, t);
}

void SessionTimeline::Finish(VTime end) {
    end_ = end;
    Close(&suspends_, end);
    Close(&link_downs_, end);
}

std::string SessionTimeline::Html(const std::string& title) const {
    Scale sc{std::max<VTime>(end_, 1)};
    std::string svg;
    Add(&svg,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %.0f %.0f\" width=\"%.0f\" "
        "height=\"%.0f\" role=\"img\">\n",
        kWidth, kHeight, kWidth, kHeight);

    // Frames of the three lanes, with their labels.
    struct Lane {
        double top, height;
        const char* label;
    } lanes[] = {{kRssiTop, kRssiHeight, "signal (dBm)"},
                 {kTrafficTop, kTrafficHeight, "traffic"},
                 {kEventsTop, kEventsHeight, "controller"}};
    for (auto& l : lanes) {
        Add(&svg, "<rect class=\"lane\" x=\"%.0f\" y=\"%.0f\" width=\"%.0f\" height=\"%.0f\"/>\n",
            kLeft, l.top, kPlotWidth, l.height);
        Add(&svg, "<text class=\"lanelabel\" x=\"%.0f\" y=\"%.0f\">%s</text>\n", kLeft + 4,
            l.top - 6, l.label);
    }
    Spans(&svg, suspends_, sc, "suspend", "suspended");
    Spans(&svg, link_downs_, sc, "linkdown", "link down");
    for (int dbm = -90; dbm <= -30; dbm += 10) {
        double y = kRssiTop + kRssiHeight * (kRssiHigh - dbm) / (kRssiHigh - kRssiLow);
        Add(&svg, "<line class=\"grid\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.1f\" y2=\"%.1f\"/>", kLeft,
            kLeft + kPlotWidth, y, y);
        Add(&svg, "<text class=\"ylabel\" x=\"%.0f\" y=\"%.1f\">%d</text>\n", kLeft - 6, y + 4,
            dbm);
    }
    unsigned traffic_max = 1;
    for (auto& r : reports_) traffic_max = std::max<unsigned>(traffic_max, r.traffic);
    Add(&svg, "<text class=\"ylabel\" x=\"%.0f\" y=\"%.0f\">%u</text>\n", kLeft - 6,
        kTrafficTop + 10, traffic_max);
    Add(&svg, "<text class=\"ylabel\" x=\"%.0f\" y=\"%.0f\">0</text>\n", kLeft - 6,
        kTrafficTop + kTrafficHeight);

    // The curves (their point lists are long: appended, not formatted).
    auto curve = [&svg](const char* cls, const std::string& points) {
        svg += std::string("<path class=\"curve ") + cls + "\" d=\"" + points + "\"/>\n";
    };
    curve("chain0", ThinnedPoints(
                        reports_, sc, [](const Report& r) { return ReportDbm(r.rssi0); }, kRssiTop,
                        kRssiHeight, kRssiLow, kRssiHigh));
    curve("chain1", ThinnedPoints(
                        reports_, sc, [](const Report& r) { return ReportDbm(r.rssi1); }, kRssiTop,
                        kRssiHeight, kRssiLow, kRssiHigh));
    curve("traffic",
          ThinnedPoints(
              reports_, sc, [](const Report& r) { return static_cast<double>(r.traffic); },
              kTrafficTop, kTrafficHeight, 0, traffic_max));

    // The controller lane: every event keeps its mark.
    std::vector<VTime> report_times, new_bssid;
    for (auto& r : reports_) {
        report_times.push_back(r.t);
        if (r.new_bssid) new_bssid.push_back(r.t);
    }
    Ticks(&svg, report_times, sc, "reports", kEventsTop + 8, 16, "link reports");
    Marks(&svg, new_bssid, sc, "newbssid", kEventsTop + 36, "M0 -6L6 0L0 6L-6 0Z",
          "link report with a new BSSID");
    Marks(&svg, setups_, sc, "setups", kEventsTop + 56, "M-6 5L0 -6L6 5Z", "controller set-up");
    Marks(&svg, node_resets_, sc, "resets", kEventsTop + 76, "M-5 -5h10v10h-10Z",
          "device-node reset");
    Ticks(&svg, failed_writes_, sc, "failed", kEventsTop + 86, 12, "failed writes");

    // The time axis.
    Add(&svg, "<line class=\"axis\" x1=\"%.0f\" x2=\"%.0f\" y1=\"%.0f\" y2=\"%.0f\"/>\n", kLeft,
        kLeft + kPlotWidth, kAxisY, kAxisY);
    VTime step = TickStep(sc.end);
    for (VTime t = 0; t <= sc.end; t += step) {
        Add(&svg,
            "<line class=\"axis\" x1=\"%.1f\" x2=\"%.1f\" y1=\"%.0f\" y2=\"%.0f\"/>"
            "<text class=\"xlabel\" x=\"%.1f\" y=\"%.0f\">%s</text>\n",
            sc.X(t), sc.X(t), kAxisY, kAxisY + 5, sc.X(t), kAxisY + 18, TimeLabel(t, step).c_str());
    }
    Add(&svg, "<text class=\"xlabel\" x=\"%.0f\" y=\"%.0f\">virtual time</text>\n",
        kLeft + kPlotWidth / 2, kAxisY + 34 + 18);

    // The daemon's messages: one mark per two pixel columns, its title every
    // message of that stretch.
    Add(&svg, "<g class=\"messages\" data-count=\"%zu\">\n", messages_.size());
    size_t i = 0;
    while (i < messages_.size()) {
        int col = sc.Column(messages_[i].t) / 2;
        std::string text;
        size_t j = i;
        for (; j < messages_.size() && sc.Column(messages_[j].t) / 2 == col; ++j) {
            char stamp[32];
            snprintf(stamp, sizeof stamp, "[%.3f] ", messages_[j].t / 1000.0);
            std::string m = messages_[j].text;
            while (!m.empty() && (m.back() == '\n' || m.back() == '\r')) m.pop_back();
            while (!m.empty() && m.front() == '\n') m.erase(0, 1);
            if (!text.empty()) text += "\n";
            text += stamp + m;
        }
        Add(&svg, "<circle cx=\"%.1f\" cy=\"%.0f\" r=\"4\"><title>", sc.X(messages_[i].t),
            kMessagesY - 8);
        svg += HtmlEscape(text);
        svg += "</title></circle>\n";
        i = j;
    }
    svg += "</g>\n";
    Add(&svg, "<text class=\"lanelabel\" x=\"%.0f\" y=\"%.0f\">messages</text>\n", 4.0,
        kMessagesY - 4);

    // The legend.
    struct Key {
        const char* cls;
        const char* shape;
        const char* text;
    } keys[] = {
        {"chain0", "M0 0h18", "chain 0 RSSI"},
        {"chain1", "M0 0h18", "chain 1 RSSI"},
        {"traffic", "M0 0h18", "traffic figure"},
        {"reports", "M9 -7v14", "link report"},
        {"newbssid", "M9 -6L15 0L9 6L3 0Z", "new BSSID"},
        {"setups", "M3 5L9 -6L15 5Z", "controller set-up"},
        {"resets", "M4 -5h10v10h-10Z", "node reset"},
        {"failed", "M9 -7v14", "failed write"},
        {"suspend", "M0 -6h18v12h-18Z", "suspended"},
        {"linkdown", "M0 -6h18v12h-18Z", "link down"},
    };
    double x = kLeft;
    for (auto& k : keys) {
        Add(&svg,
            "<g class=\"%s\"><path transform=\"translate(%.0f %.0f)\" d=\"%s\"/></g>"
            "<text class=\"legend\" x=\"%.0f\" y=\"%.0f\">%s</text>\n",
            k.cls, x, kLegendY, k.shape, x + 24, kLegendY + 4, k.text);
        x += 34 + 7 * strlen(k.text);
    }
    svg += "</svg>\n";

    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
        HtmlEscape(title) +
        "</title>\n<style>\n"
        "body{font-family:sans-serif;margin:16px;background:#fff;color:#222}\n"
        "svg text{font-family:sans-serif;font-size:12px;fill:#333}\n"
        ".lane{fill:#fafafa;stroke:#bbb}.grid{stroke:#e4e4e4}.axis{stroke:#555}\n"
        ".ylabel{text-anchor:end}.xlabel{text-anchor:middle}.lanelabel{font-weight:bold}\n"
        "path.curve,.chain0 path,.chain1 path,.traffic path{fill:none;stroke-width:1.5}\n"
        ".chain0{stroke:#1f77b4}.chain1{stroke:#ff7f0e}.traffic{stroke:#2ca02c}\n"
        "path.reports,.reports path{stroke:#777;stroke-width:1;fill:none}\n"
        ".newbssid path{fill:#d62728;stroke:#fff}\n"
        ".setups path{fill:#2ca02c;stroke:#fff}\n"
        ".resets path{fill:#9467bd;stroke:#fff}\n"
        "path.failed,.failed path{stroke:#d62728;stroke-width:1;fill:none}\n"
        "rect.suspend,.suspend path{fill:#000;fill-opacity:0.12}\n"
        "rect.linkdown,.linkdown path{fill:#d62728;fill-opacity:0.12}\n"
        ".messages circle{fill:#1f77b4;fill-opacity:0.6}\n"
        "</style>\n</head>\n<body>\n<h1>" +
        HtmlEscape(title) + "</h1>\n";
    char facts[400];
    snprintf(facts, sizeof facts,
             "<p>%.3f s of virtual time; %zu link reports (%zu with a new BSSID), %zu controller "
             "set-ups, %zu node resets, %zu failed writes, %zu daemon messages. Hover over the "
             "marks for details.</p>\n",
             end_ / 1000.0, reports_.size(), new_bssid.size(), setups_.size(), node_resets_.size(),
             failed_writes_.size(), messages_.size());
    page += facts;
    page += svg;
    page += "</body>\n</html>\n";
    return page;
}

}  // namespace qxsim
