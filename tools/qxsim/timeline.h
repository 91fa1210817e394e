// A picture of one qxsim session: what the controller was told and what
// happened to the notebook, over virtual time, as one self-contained HTML page
// with an SVG timeline (no scripts, no fonts, nothing fetched).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/vkernel.h"

namespace qxsim {

class SessionTimeline {
  public:
    struct Report {
        VTime t;
        bool new_bssid;
        uint8_t rssi0, rssi1;  // the report's bytes: quarter dB above -100 dBm
        uint16_t traffic;
    };
    struct Span {
        VTime from, to;  // to < 0 while open
    };
    struct Message {
        VTime t;
        std::string text;
    };

    // Feeding, in time order.
    // A completed write to the controller: link reports and configurations
    // are picked out of its frames.
    void OnWrite(VTime t, const uint8_t* bytes, size_t count);
    void OnWriteFailed(VTime t) { failed_writes_.push_back(t); }
    void OnNodeReset(VTime t) { node_resets_.push_back(t); }
    // A scenario action as qxsim reports it ("suspend", "linkloss", ...).
    void OnScenario(VTime t, const std::string& action);
    void OnMessage(VTime t, const std::string& text) { messages_.push_back({t, text}); }
    // Closes the open spans at the session's end.
    void Finish(VTime end);

    const std::vector<Report>& reports() const { return reports_; }
    const std::vector<VTime>& setups() const { return setups_; }
    const std::vector<VTime>& node_resets() const { return node_resets_; }
    const std::vector<VTime>& failed_writes() const { return failed_writes_; }
    const std::vector<Span>& suspends() const { return suspends_; }
    const std::vector<Span>& link_downs() const { return link_downs_; }
    const std::vector<Message>& messages() const { return messages_; }
    VTime end() const { return end_; }

    // The page. At most about two points per pixel column are drawn for
    // each curve however long the session; every event keeps its mark.
    std::string Html(const std::string& title) const;

  private:
    static void Open(std::vector<Span>* spans, VTime t);
    static void Close(std::vector<Span>* spans, VTime t);

    std::vector<Report> reports_;
    std::vector<VTime> setups_, node_resets_, failed_writes_;
    std::vector<Span> suspends_, link_downs_;
    std::vector<Message> messages_;
    VTime end_ = 0;
};

// Escapes text for HTML element content and attribute values.
std::string HtmlEscape(const std::string& text);

}  // namespace qxsim
