// Logging: the verbosity gate, the full console copy, the 255-byte event copy
// and its conversion from the ANSI code page.
#include <gtest/gtest.h>

#include <string>

#include "daemon/base/logging.h"
#include "daemon/base/daemon_state.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/eventlog_model.h"

namespace qx {
namespace {

class LoggingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto& console = qxsim::Notebook::Current().Console();
        console.SetEcho(false);
        console.StartCapture();
        qxsim::Notebook::Current().EventLog().Clear();
        ASSERT_EQ(RegisterEventLogSource(), 0);
    }
    void TearDown() override {
        DeregisterEventLogSource();
        DaemonSettings.Verbosity = 0;
    }
    static std::string Out() { return qxsim::Notebook::Current().Console().TakeCapture(); }
    static std::vector<qxsim::EventRecord> Events() {
        return qxsim::Notebook::Current().EventLog().Events();
    }
};

TEST_F(LoggingTest, VerbosityGatesByThreshold) {
    struct Case {
        int verbosity;
        const char* shown;  // which of the thresholds -1, 0, 2 are written
    };
    const Case cases[] = {{-1, ""}, {0, "a"}, {1, "ab"}, {2, "ab"}, {3, "abc"}};
    for (const auto& c : cases) {
        DaemonSettings.Verbosity = c.verbosity;
        LogMessage(-1, "a");
        LogMessage(0, "b");
        LogMessage(2, "c");
        LogAlways("!");
        EXPECT_EQ(Out(), std::string(c.shown) + "!") << "verbosity " << c.verbosity;
    }
}

TEST_F(LoggingTest, EveryMessageIsAnInformationEventOfQuellix) {
    LogAlways("QUELLIX: Veltrane %s Started.\n", "2.4.9");
    auto events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].source, u"Quellix");
    EXPECT_EQ(events[0].type, 4);
    EXPECT_EQ(events[0].category, 1);
    EXPECT_EQ(events[0].event_id, 2u);
    ASSERT_EQ(events[0].strings.size(), 1u);
    EXPECT_EQ(events[0].strings[0], u"QUELLIX: Veltrane 2.4.9 Started.\n");
    EXPECT_EQ(Out(), "QUELLIX: Veltrane 2.4.9 Started.\n");
}

TEST_F(LoggingTest, LongMessagesAreWholeOnTheConsoleAndCutInTheEventLog) {
    const std::string text(300, 'q');
    LogAlways("%s", text.c_str());
    EXPECT_EQ(Out(), text);
    auto events = Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].strings[0], std::u16string(255, u'q'));
    // Cut by bytes after formatting: a 255-byte boundary inside the arguments.
    LogAlways("%s|%d", std::string(250, 'x').c_str(), 123456789);
    EXPECT_EQ(Events().back().strings[0], std::u16string(250, u'x') + u"|1234");
}

TEST_F(LoggingTest, EventTextIsConvertedFromTheAnsiCodePage) {
    LogAlways("Caf\xe9 \x80 \x93ok\x94");
    EXPECT_EQ(Events().back().strings[0], u"Caf\u00e9 \u20ac \u201cok\u201d");
}

TEST_F(LoggingTest, AfterDeregistrationOnlyTheConsoleIsWritten) {
    DeregisterEventLogSource();
    LogAlways("QUELLIX: Veltrane Exited.");
    EXPECT_EQ(Out(), "QUELLIX: Veltrane Exited.");
    EXPECT_TRUE(Events().empty());
    EXPECT_EQ(qxsim::Notebook::Current().EventLog().OpenHandles(), 0);
    DeregisterEventLogSource();  // a second close is harmless
}

TEST_F(LoggingTest, WithoutAnEventSourceMessagesStillReachTheConsole) {
    DeregisterEventLogSource();
    qxsim::Notebook::Current().EventLog().SetRegisterFails(true);
    EXPECT_EQ(RegisterEventLogSource(), -1);
    qxsim::Notebook::Current().EventLog().SetRegisterFails(false);
    LogAlways("x");
    EXPECT_EQ(Out(), "x");
    EXPECT_TRUE(Events().empty());
}

TEST_F(LoggingTest, TheEventLogKeepsTheRecentEventsAndCountsThemAll) {
    auto& log = qxsim::Notebook::Current().EventLog();
    const size_t total = qxsim::EventLogModel::kEventLogSize + 3;
    for (size_t i = 0; i < total; ++i) LogAlways("%zu", i);
    Out();
    auto events = Events();
    ASSERT_EQ(events.size(), qxsim::EventLogModel::kEventLogSize);
    EXPECT_EQ(events.front().strings[0], u"3");
    EXPECT_EQ(events.back().strings[0], u"10002");
    EXPECT_EQ(log.EventCount(), total);
    log.Clear();
    EXPECT_EQ(log.EventCount(), 0u);
}

}  // namespace
}  // namespace qx
