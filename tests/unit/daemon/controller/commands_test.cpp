// The set-up sequence against the controller model, in virtual time. Every
// scenario starts on a fresh notebook and leaves the transport closed.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "daemon/controller/commands.h"
#include "daemon/transport/transport.h"
#include "sim/notebook.h"
#include "sim/controller_model.h"
#include "sim/bus_recorder.h"
#include "sim/firmware_model.h"
#include "sim/vkernel.h"
#include "tests/support/child_process.h"

namespace qx {
namespace {

using qxsim::ControllerModel;
using qxsim::Kernel;
using qxsim::TransferOutcome;

std::string Hex(const std::vector<uint8_t>& b) {
    std::string s;
    char t[4];
    for (size_t i = 0; i < b.size(); ++i) {
        snprintf(t, sizeof t, i ? " %02X" : "%02X", b[i]);
        s += t;
    }
    return s;
}

ControllerConfig Config(int32_t a = 0, int32_t w = 10, int32_t s = 50, int32_t n = 770,
                        int32_t o = 134480138) {
    return ControllerConfig{1, a, w, s, 1, n, o};
}

// Runs SetupController on an opened transport after `knobs`, and prints the
// result, the virtual time it took, the revision and what the firmware kept.
std::string RunSetup(const ControllerConfig& config,
                     const std::function<void(ControllerModel&)>& knobs, bool open = true) {
    auto r = qxtest::RunOnFreshNotebook([&] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        if (open) TransportOpen();
        knobs(m);
        uint8_t fwrev[3] = {9, 9, 9};
        auto t0 = qxsim::Notebook::Current().Kernel().Now();
        int rc = SetupController(config, fwrev);
        auto dt = qxsim::Notebook::Current().Kernel().Now() - t0;
        qxtest::Print("rc %d, %lld ms, rev %d.%d.%d, setups %d, settings [%s], table [%s]\n", rc,
                      static_cast<long long>(dt), fwrev[0], fwrev[1], fwrev[2], fw.SetupCount(),
                      Hex(fw.Settings()).c_str(), Hex(fw.SwitchTable()).c_str());
        TransportClose();  // as the end of a process would: the next scenario starts closed
    });
    EXPECT_EQ(r.exit_code, 0);
    return r.out;
}

TEST(SetupControllerTest, Scenarios) {
    auto none = [](ControllerModel&) {};
    struct Case {
        const char* name;
        ControllerConfig config;
        std::function<void(ControllerModel&)> knobs;
        const char* result;
    } cases[] = {
        {"defaults", Config(), none,
         "rc 0, 150 ms, rev 1.3.7, setups 1, settings [40 00 0A 32 32 00], table [1A 84 1A 84 00 "
         "00 00 00]\n"},
        {"service command line", Config(3, 10, 50, 515, 134349066), none,
         "rc 0, 150 ms, rev 1.3.7, setups 1, settings [40 03 0A 32 23 00], table [1A 82 1A 82 00 "
         "00 00 00]\n"},
        // Settings bytes that must be escaped on the wire still match the echo.
        {"escaped settings", Config(126, 125, 129), none,
         "rc 0, 150 ms, rev 1.3.7, setups 1, settings [40 7E 7D 81 32 00], table [1A 84 1A 84 00 "
         "00 00 00]\n"},
        {"version 2.4.5", Config(),
         [](ControllerModel&) {
             qxsim::Notebook::Current().Firmware().SetFirmwareVersion(2, 4, 5);
         },
         "rc 0, 150 ms, rev 2.4.5, setups 1, settings [40 00 0A 32 32 00], table [1A 84 1A 84 00 "
         "00 00 00]\n"},
        // One wrong echo costs the read, 1100 ms and a second frame.
        {"wrong echo once", Config(),
         [](ControllerModel&) { qxsim::Notebook::Current().Firmware().SetWrongEcho(1); },
         "rc 0, 1270 ms, rev 1.3.7, setups 2, settings [40 00 0A 32 32 00], table [1A 84 1A 84 00 "
         "00 00 00]\n"},
        // The wake byte and the first configuration write fail at once: retried without a pause.
        {"write fails once", Config(),
         [](ControllerModel&) {
             qxsim::Notebook::Current().Firmware().SetWriteOutcome(TransferOutcome::FailNow, 2);
         },
         "rc 0, 150 ms, rev 1.3.7, setups 1, settings [40 00 0A 32 32 00], table [1A 84 1A 84 00 "
         "00 00 00]\n"},
        // An answer ready just in time is taken; one a millisecond later is not, five times.
        // The version query waits only 10 ms, so such a slow controller reads as 0.0.0.
        {"answer at 20 ms", Config(),
         [](ControllerModel&) { qxsim::Notebook::Current().Firmware().SetReplyDelay(20); },
         "rc 0, 150 ms, rev 0.0.0, setups 1, settings [40 00 0A 32 32 00], table [1A 84 1A 84 00 "
         "00 00 00]\n"},
        {"answer at 21 ms", Config(),
         [](ControllerModel&) { qxsim::Notebook::Current().Firmware().SetReplyDelay(21); },
         "rc -1, 5650 ms, rev 9.9.9, setups 5, settings [40 00 0A 32 32 00], table []\n"},
        {"wrong echo always", Config(),
         [](ControllerModel&) { qxsim::Notebook::Current().Firmware().SetWrongEcho(-1); },
         "rc -1, 5650 ms, rev 9.9.9, setups 5, settings [40 00 0A 32 32 00], table []\n"},
        {"silent", Config(),
         [](ControllerModel&) { qxsim::Notebook::Current().Firmware().SetSilent(true); },
         "rc -1, 5650 ms, rev 9.9.9, setups 5, settings [40 00 0A 32 32 00], table []\n"},
        // Writes never reach the controller: only the wake byte's and five writes' time-outs.
        {"writes pending", Config(),
         [](ControllerModel&) {
             qxsim::Notebook::Current().Firmware().SetWriteOutcome(TransferOutcome::Pending);
         },
         "rc -1, 6050 ms, rev 9.9.9, setups 0, settings [], table []\n"},
        {"reads pending", Config(),
         [](ControllerModel&) {
             qxsim::Notebook::Current().Firmware().SetReadOutcome(TransferOutcome::Pending);
         },
         "rc -1, 15650 ms, rev 9.9.9, setups 5, settings [40 00 0A 32 32 00], table []\n"},
        {"writes fail", Config(),
         [](ControllerModel&) {
             qxsim::Notebook::Current().Firmware().SetWriteOutcome(TransferOutcome::FailNow);
         },
         "rc -1, 50 ms, rev 9.9.9, setups 0, settings [], table []\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(RunSetup(c.config, c.knobs), c.result) << c.name;
}

TEST(SetupControllerTest, ClosedTransportFailsAfterFiveAttempts) {
    EXPECT_EQ(RunSetup(
                  Config(), [](ControllerModel&) {}, false),
              "rc -1, 5650 ms, rev 9.9.9, setups 0, settings [], table []\n");
}

TEST(SetupControllerTest, WireSequence) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& bus = qxsim::Notebook::Current().Bus();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        TransportOpen();
        uint8_t fwrev[3];
        SetupController(Config(), fwrev);
        for (const auto& t : bus.Transfers()) {
            qxtest::Print("%lld %s %s\n", static_cast<long long>(t.when), t.write ? "W" : "R",
                          Hex(t.bytes).c_str());
        }
        qxtest::Print("wake %d rejected %d\n", fw.WakeBytes(), fw.RejectedFrames());
        TransportClose();
    });
    EXPECT_EQ(r.out,
              "0 W 00\n"
              "50 W 0A 04 5A C3 96 3C 40 00 0A 32 32 00 7D 06 03 7D 93 7E\n"
              "70 R 06 03 40 00 0A 32 32 00\n"
              "120 W 03 02 7D BC 7E\n"
              "130 R 03 02 07 03 01\n"
              "140 W 08 09 1A 84 1A 84 00 00 00 00 7D CD 7E\n"
              "wake 1 rejected 0\n");
}

// A second set-up against a controller that has gone silent must not be
// judged on the echo the first one left behind on the stack.
TEST(SetupControllerTest, SilentControllerAfterGoodSetupFails) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        TransportOpen();
        uint8_t fwrev[3];
        int first = SetupController(Config(), fwrev);
        fw.SetSilent(true);
        int second = SetupController(Config(), fwrev);
        ControllerSettings cfg = BuildControllerSettings(Config());
        int third = ConfigureController(cfg, 1);
        qxtest::Print("%d %d %d\n", first, second, third);
        TransportClose();
    });
    EXPECT_EQ(r.out, "0 -1 -1\n");
}

TEST(ReadControllerVersionTest, MissingOrUnwrittenQuery) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        TransportOpen();
        uint8_t fwrev[3] = {9, 9, 9};
        fw.SetSilent(true);  // the reply never comes: zeros
        int rc = ReadControllerVersion(fwrev);
        qxtest::Print("silent %d %d.%d.%d\n", rc, fwrev[0], fwrev[1], fwrev[2]);
        fw.SetSilent(false);
        fw.SetWriteOutcome(TransferOutcome::FailNow, 1);  // the query never leaves
        fwrev[0] = fwrev[1] = fwrev[2] = 9;
        rc = ReadControllerVersion(fwrev);
        qxtest::Print("unwritten %d %d.%d.%d\n", rc, fwrev[0], fwrev[1], fwrev[2]);
        fw.SetFirmwareVersion(2, 4, 5);
        rc = ReadControllerVersion(fwrev);
        qxtest::Print("answered %d %d.%d.%d\n", rc, fwrev[0], fwrev[1], fwrev[2]);
        TransportClose();
    });
    EXPECT_EQ(r.out, "silent 0 0.0.0\nunwritten 0 9.9.9\nanswered 0 2.4.5\n");
}

TEST(LinkReportTest, ModelKeepsDecodedReportsWithArrivalTime) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        TransportOpen();
        FrameBuffer buf;
        LinkReportEntry e = {};
        e.NewBssid = 1;
        e.Traffic = 300;
        e.Rssi0 = 0xC8;
        e.Rssi1 = 0xA0;
        int32_t len = LinkReport(buf, 123456, e);
        TransportWrite(buf, static_cast<uint32_t>(len), nullptr);
        qxsim::Notebook::Current().Kernel().Sleep(250);
        e.NewBssid = 0;
        len = LinkReport(buf, 0x7E, e);
        buf[3] ^= 0x01;  // corrupted on the way: the checksum no longer matches
        TransportWrite(buf, static_cast<uint32_t>(len), nullptr);
        for (const auto& s : fw.LinkReports()) {
            qxtest::Print("%lld: n %d ts %u flags %02X traffic %u rssi %02X %02X\n",
                          static_cast<long long>(s.arrival), s.count, s.timestamp, s.flags,
                          s.traffic, s.rssi0, s.rssi1);
        }
        qxtest::Print("rejected %d\n", fw.RejectedFrames());
        TransportClose();
    });
    EXPECT_EQ(r.out, "0: n 1 ts 123456 flags 80 traffic 300 rssi C8 A0\nrejected 1\n");
}

// A day of reports must not fill the notebook: the model keeps the recent ones,
// counts them all, and shows every one to an observer as it arrives.
TEST(LinkReportTest, ModelKeepsRecentReportsCountsAllAndShowsEachToObserver) {
    auto r = qxtest::RunOnFreshNotebook([] {
        auto& m = qxsim::Notebook::Current().Controller();
        auto& fw = qxsim::Notebook::Current().Firmware();
        m.Reset();
        uint64_t observed = 0;
        uint32_t last_observed = 0;
        fw.SetReportObserver([&](const qxsim::LinkReportSeen& s) {
            ++observed;
            last_observed = s.timestamp;
        });
        TransportOpen();
        FrameBuffer buf;
        const uint32_t total = qxsim::FirmwareModel::kReportLogSize + 5;
        for (uint32_t i = 1; i <= total; ++i) {
            LinkReportEntry e = {};
            e.NewBssid = i % 1000 == 0 ? 1 : 0;
            int32_t len = LinkReport(buf, i, e);
            TransportWrite(buf, static_cast<uint32_t>(len), nullptr);
        }
        fw.SetReportObserver({});
        auto kept = fw.LinkReports();
        qxtest::Print("kept %zu first %u last %u count %llu new %llu observed %llu last %u\n",
                      kept.size(), kept.front().timestamp, kept.back().timestamp,
                      static_cast<unsigned long long>(fw.LinkReportCount()),
                      static_cast<unsigned long long>(fw.NewBssidReportCount()),
                      static_cast<unsigned long long>(observed), last_observed);
        m.Reset();
        qxtest::Print("after reset %zu %llu\n", fw.LinkReports().size(),
                      static_cast<unsigned long long>(fw.LinkReportCount()));
        TransportClose();
    });
    EXPECT_EQ(r.out,
              "kept 10000 first 6 last 10005 count 10005 new 10 observed 10005 last 10005\n"
              "after reset 0 0\n");
}

}  // namespace
}  // namespace qx
