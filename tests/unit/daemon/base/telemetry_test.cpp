// The telemetry endpoint against a real loopback socket.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

#include "daemon/core/settings.h"
#include "daemon/base/telemetry.h"

namespace qx {
namespace {

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, first component high

class Receiver {
  public:
    Receiver() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
    }
    ~Receiver() { ::close(fd_); }
    uint16_t port() const { return port_; }
    // The next datagram within a second, or "" when none came.
    std::string Next(int ms = 1000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1) return "";
        char buf[256];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n < 0 ? "" : std::string(buf, static_cast<size_t>(n));
    }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

TEST(Telemetry, AddressOrPortZeroIsRefused) {
    EXPECT_EQ(OpenTelemetry(0, TelemetryPort), -1);
    EXPECT_EQ(OpenTelemetry(kLoopback, 0), -1);
    // Never opened: closing is still fine and sending fails.
    EXPECT_EQ(CloseTelemetry(), 0);
    const uint8_t b[1] = {1};
    EXPECT_LT(SendTelemetry(b, 1), 0);
    EXPECT_EQ(CloseTelemetry(), 0);
}

TEST(Telemetry, ADatagramReachesTheDestinationInNetworkOrder) {
    Receiver rx;
    ASSERT_EQ(OpenTelemetry(kLoopback, rx.port()), 0);
    const uint8_t msg[5] = {'h', 'e', 'l', 'l', 'o'};
    EXPECT_EQ(SendTelemetry(msg, 5), 5);
    EXPECT_EQ(rx.Next(), "hello");
    EXPECT_EQ(CloseTelemetry(), 0);
    EXPECT_LT(SendTelemetry(msg, 5), 0) << "closed endpoints send nothing";
    EXPECT_EQ(rx.Next(100), "");
}

TEST(Telemetry, TheDashUAddressInHexOrDecimalNamesTheSameDestination) {
    for (const char* text : {"0x7F000001", "2130706433"}) {
        DaemonSettingsT settings;
        char name[256] = {};
        settings.InterfaceName = name;
        char prog[] = "quellix";
        char opt[] = "-u";
        char arg[32];
        std::snprintf(arg, sizeof arg, "%s", text);
        char* argv[] = {prog, opt, arg, nullptr};
        ASSERT_EQ(ParseDaemonOptions(3, argv, settings), ParseOutcome::kRun);
        EXPECT_EQ(settings.RemoteUdpAddress, kLoopback) << text;
    }
}

TEST(Telemetry, TheTwentySecondFailureInARowCloses) {
    Receiver rx;
    ASSERT_EQ(OpenTelemetry(kLoopback, rx.port()), 0);
    // A datagram larger than UDP allows fails without closing anything.
    static uint8_t big[70000];
    for (int i = 0; i < 21; ++i) EXPECT_LT(SendTelemetry(big, sizeof big), 0) << i;
    const uint8_t ok[2] = {'o', 'k'};
    EXPECT_EQ(SendTelemetry(ok, 2), 2) << "21 failures keep the endpoint";
    EXPECT_EQ(rx.Next(), "ok");
    for (int i = 0; i < 22; ++i) EXPECT_LT(SendTelemetry(big, sizeof big), 0) << i;
    EXPECT_LT(SendTelemetry(ok, 2), 0) << "the 22nd failure in a row closed it";
    EXPECT_EQ(rx.Next(100), "");
    CloseTelemetry();
}

}  // namespace
}  // namespace qx
