// The contract's rig on the virtual notebook (os_socket_sim.cpp): the
// notebook's network is the host's, so the receiver is a POSIX socket on the
// host's loopback interface.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/unit/daemon/base/socket_contract.h"

namespace qxtest {
namespace {

class SimRig : public SocketRig {
  public:
    std::string Run(const std::function<std::string()>& body) override {
        std::string out = body();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        return out;
    }
    uint16_t Listen() override {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
        const int room = 1 << 18;
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
        sockaddr_in a = {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            ADD_FAILURE() << "no receiver on 127.0.0.1";
        }
        return ntohs(a.sin_port);
    }
    Datagram Receive(int ms) override {
        Datagram d;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) != 1) return d;
        static char buf[1 << 17];
        sockaddr_in from = {};
        socklen_t len = sizeof from;
        const ssize_t n =
            ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) return d;
        char dotted[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, dotted, sizeof dotted);
        return {true, dotted, std::string(buf, static_cast<size_t>(n))};
    }

  private:
    int fd_ = -1;
};

}  // namespace

SocketRig& Rig() {
    static SimRig rig;
    return rig;
}

}  // namespace qxtest
