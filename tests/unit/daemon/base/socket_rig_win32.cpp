// The contract's rig under Wine (os_socket_win32.cpp): the receiver is a
// Winsock socket of its own, with its own start-up, taken only when a row
// asks for it so that rows about start-up see the seam's alone.
#include "common/win/win32.h"
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include "tests/unit/daemon/base/socket_contract.h"

namespace qxtest {
namespace {

class Win32Rig : public SocketRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        std::string out = body();
        if (started_) {
            ::closesocket(socket_);
            ::WSACleanup();
        }
        started_ = false;
        socket_ = INVALID_SOCKET;
        return out;
    }
    uint16_t Listen() override {
        WSADATA data;
        started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        const int room = 1 << 18;
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&room),
                     sizeof room);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        int len = sizeof a;
        if (!started_ || ::bind(socket_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ADD_FAILURE() << "no receiver on 127.0.0.1: " << ::WSAGetLastError();
        }
        return ::ntohs(a.sin_port);
    }
    Datagram Receive(int ms) override {
        Datagram d;
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(socket_, &ready);
        timeval wait = {ms / 1000, (ms % 1000) * 1000};
        if (::select(0, &ready, nullptr, nullptr, &wait) != 1) return d;
        static char buf[1 << 17];
        sockaddr_in from = {};
        int len = sizeof from;
        const int n =
            ::recvfrom(socket_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n == SOCKET_ERROR) return d;
        char dotted[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, dotted, sizeof dotted);
        return {true, dotted, std::string(buf, static_cast<size_t>(n))};
    }

  private:
    bool started_ = false;
    SOCKET socket_ = INVALID_SOCKET;
};

}  // namespace

SocketRig& Rig() {
    static Win32Rig rig;
    return rig;
}

}  // namespace qxtest
