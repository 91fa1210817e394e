// qxsim's scenario text: times, actions and the errors a user gets.
#include <gtest/gtest.h>

#include "tools/qxsim/scenario.h"

namespace qxsim {
namespace {

TEST(ScenarioTest, TimesTakeTheirUnits) {
    struct Case {
        const char* text;
        bool ok;
        int64_t ms;
    };
    const Case cases[] = {{"12s", true, 12000},  {"1500ms", true, 1500}, {"2m", true, 120000},
                          {"12.5", true, 12500}, {"0", true, 0},         {"-1s", false, 0},
                          {"5h", false, 0},      {"s", false, 0},        {"", false, 0}};
    for (const auto& c : cases) {
        int64_t ms = -1;
        EXPECT_EQ(ParseVirtualTime(c.text, &ms), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(ms, c.ms) << c.text;
        }
    }
}

TEST(ScenarioTest, EventsAndComments) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(
        "# comment\n\n1s rssi -50 -60\n2m roam 10:6f:3f:a1:b2:d4\n3m ctrl-c\n", &s, &error))
        << error;
    ASSERT_EQ(s.events.size(), 3u);
    EXPECT_EQ(s.events[0].at_ms, 1000);
    EXPECT_EQ(s.events[0].action, "rssi");
    EXPECT_EQ(s.events[0].args, (std::vector<std::string>{"-50", "-60"}));
    EXPECT_EQ(s.events[1].line, 4);
    EXPECT_EQ(s.events[2].at_ms, 180000);
}

TEST(ScenarioTest, MistakesNameTheirLine) {
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"soon ctrl-c", "line 1: not a time: soon"},
        {"1s", "line 1: no action after 1s"},
        {"\n1s dance", "line 2: unknown action: dance"},
        {"1s rssi -50", "line 1: wrong number of arguments for rssi"},
        {"1s rssi -50 loud", "line 1: rssi wants two dBm values from -128 to 0"},
        {"1s roam 10:6f:3f", "line 1: not a MAC address: 10:6f:3f"},
        {"1s controller explode",
         "line 1: controller wants hang, silent, answer, refuse-open, accept-open, "
         "ignore-cancel or honour-cancel"},
        {"1s node-start slowly", "line 1: node-start wants a time of at most 10m, such as 2500ms"},
        {"1s node-start 11m", "line 1: node-start wants a time of at most 10m, such as 2500ms"},
        {"1s standby-exit now", "line 1: wrong number of arguments for standby-exit"},
        {"1s suspend now", "line 1: wrong number of arguments for suspend"},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(ParseScenario(c.text, &s, &error)) << c.text;
        EXPECT_EQ(error, c.error);
    }
}

TEST(ScenarioTest, SessionEndActionsParse) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(ParseScenario(
        "1s shutdown\n2s logoff\n3s shutdown-console\n4s logoff-console\n5s session-kept\n", &s,
        &error))
        << error;
    EXPECT_EQ(s.events.size(), 5u);
    EXPECT_FALSE(ParseScenario("1s shutdown now\n", &s, &error));
}

TEST(ScenarioTest, LongestGapFromARoamOrLinkBackToTheNextReport) {
    const std::vector<LinkEvent> events = {{1000, "roam"}, {5000, "link back"}, {9000, "roam"}};
    struct Case {
        std::vector<int64_t> reports;
        int64_t gap;
        int64_t at;
        bool unanswered;
    };
    const Case cases[] = {
        {{900, 1000, 5400, 9100}, 400, 5000, false},  // a report at the event's time counts
        {{1650, 5100, 9700}, 700, 9000, false},
        {{1200, 5100}, -1, 9000, true},  // nothing after the last roam
        {{}, -1, 1000, true},
    };
    for (const auto& c : cases) {
        const LinkGap g = LongestGapToNextReport(events, c.reports);
        EXPECT_EQ(g.gap_ms, c.gap);
        EXPECT_EQ(g.event.at, c.at);
        EXPECT_EQ(g.unanswered, c.unanswered);
    }
    EXPECT_EQ(LongestGapToNextReport({}, {100}).gap_ms, -1);
}

// As a live run feeds it: the scenario's events and the reports in the order
// they happen, a report sometimes noted just before an event of the same
// moment; and a long day, whose events are counted, not kept.
TEST(ScenarioTest, GapTrackerFollowsALiveRun) {
    struct Step {
        char kind;  // 'e' event, 'r' report
        int64_t at;
    };
    struct Case {
        std::vector<Step> steps;
        int64_t gap;
        int64_t at;
        bool unanswered;
    };
    const Case cases[] = {
        {{{'r', 1000}, {'e', 1000}, {'r', 1300}}, 0, 1000, false},
        {{{'e', 1000}, {'e', 1200}, {'r', 1500}, {'e', 2000}, {'r', 2100}}, 500, 1000, false},
        {{{'e', 1000}, {'r', 1100}, {'e', 3000}, {'r', 3400}, {'e', 5000}}, -1, 5000, true},
        {{{'r', 10}, {'r', 20}}, -1, 0, false},
    };
    for (const auto& c : cases) {
        LinkGapTracker t;
        for (const Step& s : c.steps) {
            if (s.kind == 'e') {
                t.Event({s.at, "roam"});
            } else {
                t.Report(s.at);
            }
        }
        const LinkGap g = t.Worst();
        EXPECT_EQ(g.gap_ms, c.gap);
        EXPECT_EQ(g.event.at, c.at);
        EXPECT_EQ(g.unanswered, c.unanswered);
    }
    LinkGapTracker day;
    for (int64_t minute = 0; minute < 1000000; ++minute) {
        day.Event({minute * 60000, "roam"});
        day.Report(minute * 60000 + (minute == 4321 ? 9000 : 250));
    }
    EXPECT_EQ(day.Events(), 1000000u);
    EXPECT_EQ(day.Worst().gap_ms, 9000);
    EXPECT_EQ(day.Worst().event.at, 4321 * 60000);
}

TEST(ScenarioTest, EveryBuiltInScenarioParses) {
    for (const auto& name : BuiltInScenarioNames()) {
        Scenario s;
        std::string error;
        EXPECT_TRUE(ParseScenario(BuiltInScenario(name), &s, &error)) << name << ": " << error;
        EXPECT_FALSE(s.events.empty()) << name;
        EXPECT_EQ(s.events.back().action, "ctrl-c") << name;
    }
    EXPECT_EQ(BuiltInScenario("nonsense"), nullptr);
}

}  // namespace
}  // namespace qxsim
