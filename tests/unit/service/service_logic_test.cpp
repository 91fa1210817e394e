#include "service/service_logic.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace qx::service {
namespace {

std::vector<StatusRecord> g_sent;

int32_t Record(const StatusRecord& r) {
    g_sent.push_back(r);
    return 1;
}

class StatusBookTest : public ::testing::Test {
  protected:
    void SetUp() override { g_sent.clear(); }
    StatusBook book_;
};

// The life of one service run, as the manager sees it: state, accepted
// controls, check point, wait hint and exit code of every report.
TEST_F(StatusBookTest, CheckPointsAndControlsOverOneRun) {
    struct Step {
        uint32_t state, exit_code, hint;
        bool from_handler;  // the stop handler's "report again" call
        uint32_t want_controls, want_check_point;
    };
    const Step steps[] = {
        {kStateStartPending, 0, 3000, false, 0, 1},
        {kStateRunning, 0, 0, false, kAcceptStop, 0},
        {kStateStopPending, 0, 0, false, kAcceptStop, 2},
        {0, 0, 0, true, kAcceptStop, 3},  // still STOP_PENDING, counter moves on
        {kStateStopped, 0, 0, false, kAcceptStop, 0},
    };
    for (const Step& s : steps) {
        if (s.from_handler) {
            EXPECT_EQ(1, book_.ReportCurrent(Record));
        } else {
            EXPECT_EQ(1, book_.Report(s.state, s.exit_code, s.hint, Record));
        }
    }
    ASSERT_EQ(std::size(steps), g_sent.size());
    const uint32_t want_states[] = {kStateStartPending, kStateRunning, kStateStopPending,
                                    kStateStopPending, kStateStopped};
    for (size_t i = 0; i < g_sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(kServiceWin32OwnProcess, g_sent[i].service_type);
        EXPECT_EQ(want_states[i], g_sent[i].current_state);
        EXPECT_EQ(steps[i].want_controls, g_sent[i].controls_accepted);
        EXPECT_EQ(steps[i].want_check_point, g_sent[i].check_point);
        EXPECT_EQ(steps[i].hint, g_sent[i].wait_hint);
        EXPECT_EQ(0u, g_sent[i].service_specific_exit_code);
    }
}

TEST_F(StatusBookTest, FailedStartCarriesItsErrorIntoStopped) {
    book_.Report(kStateStartPending, 0, 3000, Record);
    book_.Report(kStateRunning, 0, 0, Record);
    book_.Report(kStateStopped, 2, 0, Record);  // ERROR_FILE_NOT_FOUND from CreateProcessW
    ASSERT_EQ(3u, g_sent.size());
    EXPECT_EQ(2u, g_sent[2].win32_exit_code);
    EXPECT_EQ(0u, g_sent[2].check_point);
}

// A stop request racing the daemon's own exit: once STOPPED is out, the
// handler's reports must not resurrect the service or clear its exit code.
TEST_F(StatusBookTest, NothingIsReportedAfterStopped) {
    book_.Report(kStateRunning, 0, 0, Record);
    book_.Report(kStateStopped, 5, 0, Record);
    EXPECT_EQ(0, book_.Report(kStateStopPending, 0, 0, Record));
    EXPECT_EQ(0, book_.ReportCurrent(Record));
    ASSERT_EQ(2u, g_sent.size());
    EXPECT_EQ(kStateStopped, book_.Snapshot().current_state);
    EXPECT_EQ(5u, book_.Snapshot().win32_exit_code);
}

TEST_F(StatusBookTest, SinkResultIsPassedBack) {
    EXPECT_EQ(0, book_.Report(kStateRunning, 0, 0, [](const StatusRecord&) { return 0; }));
}

// Handler thread and service thread report at the same time; the check
// points handed out stay unique and the sink never runs twice at once.
TEST(StatusBookThreads, ConcurrentReportsAreSerialised) {
    static std::atomic<int> inside{0};
    static std::atomic<int> overlaps{0};
    static std::vector<uint32_t> points;
    points.clear();
    StatusBook book;
    auto sink = [](const StatusRecord& r) -> int32_t {
        if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
        points.push_back(r.check_point);
        inside.fetch_sub(1);
        return 1;
    };
    auto worker = [&book, sink] {
        for (int i = 0; i < 500; ++i) book.Report(kStateStopPending, 0, 0, sink);
    };
    std::thread a(worker), b(worker);
    a.join();
    b.join();
    EXPECT_EQ(0, overlaps.load());
    ASSERT_EQ(1000u, points.size());
    for (size_t i = 0; i < points.size(); ++i) EXPECT_EQ(i + 1, points[i]);
}

std::u16string Error(const char16_t* text, int32_t code) {
    char16_t buffer[kEventTextChars];
    FormatServiceError(buffer, text, code);
    return buffer;
}

std::u16string Info(const char16_t* text) {
    char16_t buffer[kEventTextChars];
    FormatServiceInfo(buffer, text);
    return buffer;
}

TEST(EventText, ErrorAndInfoTexts) {
    struct Case {
        std::u16string got, want;
    };
    const Case cases[] = {
        {Info(u"Stopped."), u"Halvorn Veltrane Antenna Service Application Stopped."},
        {Error(u"X", 2), u"Halvorn Veltrane Antenna Service Application X failed with 2"},
        {Error(u"X", 0), u"Halvorn Veltrane Antenna Service Application X failed with 0"},
        // Codes are printed signed, as %d would.
        {Error(u"X", static_cast<int32_t>(0xC0000005u)),
         u"Halvorn Veltrane Antenna Service Application X failed with -1073741819"},
        {Error(u"X", INT32_MIN),
         u"Halvorn Veltrane Antenna Service Application X failed with -2147483648"},
        // 79 units kept, the code cut in the middle.
        {Error(u"Unable to create process.", 1234567),
         u"Halvorn Veltrane Antenna Service Application Unable to create process. failed w"},
        {Error(u"Unable to control task.", 6),
         u"Halvorn Veltrane Antenna Service Application Unable to control task. failed wit"},
        {Info(u""), u"Halvorn Veltrane Antenna Service Application "},
    };
    for (const Case& c : cases) EXPECT_EQ(c.want, c.got);
}

TEST(EventText, LongTextIsCutNotDropped) {
    std::u16string longer(200, u'x');
    std::u16string got = Error(longer.c_str(), 1);
    EXPECT_EQ(kEventTextChars - 1, got.size());
    EXPECT_EQ(u"Halvorn Veltrane Antenna Service Application xxx", got.substr(0, 48));
    got = Info(longer.c_str());
    EXPECT_EQ(kEventTextChars - 1, got.size());
}

TEST(Wait, ResultsOfTheStopEventAndChildPair) {
    const struct {
        uint32_t result;
        WaitStep step;
    } cases[] = {
        {0, WaitStep::kStopRequested}, {1, WaitStep::kChildExited},
        {258, WaitStep::kWaitAgain},   {0xFFFFFFFFu, WaitStep::kFailed},  // WAIT_FAILED
        {0x80, WaitStep::kFailed},     {0x81, WaitStep::kFailed},         // abandoned
        {2, WaitStep::kFailed},
    };
    for (const auto& c : cases) EXPECT_EQ(c.step, ClassifyWait(c.result)) << c.result;
}

TEST(QuotedPath, QuotesAndRefusesWhatDoesNotFit) {
    char16_t out[16];
    EXPECT_TRUE(QuoteBinaryPath(u"C:\\A B\\s.exe", out, 16));
    EXPECT_EQ(std::u16string(u"\"C:\\A B\\s.exe\""), out);
    // 13 units + 2 quotes + terminator = 16: just fits; one more does not.
    EXPECT_TRUE(QuoteBinaryPath(u"C:\\AB\\svc.exe", out, 16));
    EXPECT_EQ(std::u16string(u"\"C:\\AB\\svc.exe\""), out);
    EXPECT_FALSE(QuoteBinaryPath(u"C:\\ABC\\svc.exe", out, 16));
    EXPECT_EQ(std::u16string(), out);
}

}  // namespace
}  // namespace qx::service
