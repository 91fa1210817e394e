// The notebook's network is the host's: a real datagram socket, so that a
// loopback test can receive what was sent. POSIX sockets need no start-up;
// Winsock's is counted here as Windows counts it, so that a socket is had,
// and sends, only between a start-up and its last clean-up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

#include "daemon/base/os_socket.h"
#include "sim/fault_plan.h"

namespace qx::os {

namespace {
// WSAStartup calls not yet matched by a WSACleanup, for the whole process.
std::atomic<int> g_startups{0};
}  // namespace

int32_t SocketsStartup() {
    ++g_startups;
    return 0;
}

// A clean-up without a start-up fails (WSANOTINITIALISED) and changes nothing.
void SocketsCleanup() {
    int n = g_startups.load();
    while (n > 0 && !g_startups.compare_exchange_weak(n, n - 1)) {
    }
}

UdpSocket UdpOpen() {
    if (g_startups.load() == 0) return kNoSocket;  // WSANOTINITIALISED
    if (qxsim::InjectFault(qxsim::FaultKind::kSocketOpen)) return kNoSocket;
    int s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    return s < 0 ? kNoSocket : static_cast<UdpSocket>(s);
}

void UdpClose(UdpSocket socket) {
    ::close(static_cast<int>(socket));
}

int32_t UdpSendTo(UdpSocket socket, const uint8_t* bytes, int32_t length, uint32_t address,
                  uint16_t port) {
    if (g_startups.load() == 0) return -1;  // WSANOTINITIALISED
    if (qxsim::InjectFault(qxsim::FaultKind::kSocketSend)) return -1;
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address);
    ssize_t n = ::sendto(static_cast<int>(socket), bytes, static_cast<size_t>(length), 0,
                         reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return static_cast<int32_t>(n);
}

}  // namespace qx::os
