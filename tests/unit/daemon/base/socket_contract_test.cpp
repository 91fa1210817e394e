// The socket seam's one contract: what the telemetry endpoint relies on, the
// same on every half. After each row no start-up may be left behind: a
// socket opens only between a start-up and its clean-up.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "daemon/base/os_socket.h"
#include "tests/unit/daemon/base/socket_contract.h"

namespace qxtest {
namespace {

using namespace qx::os;

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, first component high

// What arrived: the sender and the bytes in hex, or their count when many.
std::string Show(const Datagram& d) {
    if (!d.arrived) return "nothing";
    std::string out = "from " + d.from + ":";
    if (d.bytes.size() > 8) return out + " " + std::to_string(d.bytes.size()) + " bytes";
    for (unsigned char b : d.bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02x", b);
        out += hex;
    }
    return out;
}

int32_t Send(UdpSocket s, const std::string& bytes, uint16_t port) {
    return UdpSendTo(s, reinterpret_cast<const uint8_t*>(bytes.data()),
                     static_cast<int32_t>(bytes.size()), kLoopback, port);
}

// Starts up, opens, sends each text to the receiver, closes and cleans up:
// the results, then what arrived, ending with the first wait that saw nothing.
std::string SendAll(SocketRig& rig, const std::vector<std::string>& texts) {
    const uint16_t port = rig.Listen();
    SocketsStartup();
    const UdpSocket s = UdpOpen();
    if (s == kNoSocket) return "no socket";
    std::string out = "sent";
    for (const auto& t : texts) out += " " + std::to_string(Send(s, t, port));
    UdpClose(s);
    SocketsCleanup();
    for (size_t i = 0; i <= texts.size(); ++i) {
        const Datagram d = rig.Receive(i < texts.size() ? 1000 : 100);
        out += "; " + Show(d);
        if (!d.arrived) break;
    }
    return out;
}

TEST(SocketContractTest, EachHalfAnswersAsWindows) {
    SocketRig& rig = Rig();
    struct Case {
        const char* name;
        std::function<std::string()> body;
        const char* want;
    } cases[] = {
        {"start-up accepts version 1.1",
         [] {
             const int32_t rc = SocketsStartup();
             SocketsCleanup();
             return std::to_string(rc);
         },
         "0"},
        // Host order in, network order on the wire: the receiver is bound to
        // 127.0.0.1 and its port, so a swapped byte reaches nobody.
        {"each send one datagram, bytes whole, to the address and port given",
         [&rig] {
             return SendAll(rig, {std::string("\0Q\xff\x80\n", 5), "abc"});
         },
         "sent 5 3; from 127.0.0.1: 00 51 ff 80 0a; from 127.0.0.1: 61 62 63; nothing"},
        {"an empty datagram is sent, not failed", [&rig] { return SendAll(rig, {""}); },
         "sent 0; from 127.0.0.1:; nothing"},
        {"the largest datagram is sent whole, one byte more not at all",
         [&rig] {
             return SendAll(rig, {std::string(65507, 'x'), std::string(65508, 'y')});
         },
         "sent 65507 -1; from 127.0.0.1: 65507 bytes; nothing"},
        {"a closed socket and kNoSocket send nothing",
         [&rig] {
             const uint16_t port = rig.Listen();
             SocketsStartup();
             const UdpSocket s = UdpOpen();
             UdpClose(s);
             std::string out = std::to_string(Send(s, "late", port)) + " " +
                               std::to_string(Send(kNoSocket, "none", port));
             SocketsCleanup();
             return out + "; " + Show(rig.Receive(100));
         },
         "-1 -1; nothing"},
        {"no socket before the start-up, nor after its clean-up",
         [] {
             std::string out = UdpOpen() == kNoSocket ? "none" : "a socket";
             SocketsStartup();
             SocketsCleanup();
             return out + (UdpOpen() == kNoSocket ? " none" : " a socket");
         },
         "none none"},
        {"start-ups are counted: one clean-up of two leaves sockets working",
         [&rig] {
             const uint16_t port = rig.Listen();
             SocketsStartup();
             SocketsStartup();
             SocketsCleanup();
             const UdpSocket s = UdpOpen();
             const std::string out = s == kNoSocket ? "none" : std::to_string(Send(s, "ok", port));
             UdpClose(s);
             SocketsCleanup();
             return out + "; " + Show(rig.Receive(1000));
         },
         "2; from 127.0.0.1: 6f 6b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rig.Run(c.body), c.want) << c.name;
        const UdpSocket left = UdpOpen();
        EXPECT_EQ(left, kNoSocket) << c.name << ": a start-up left without its clean-up";
        if (left != kNoSocket) UdpClose(left);
    }
}

}  // namespace
}  // namespace qxtest
