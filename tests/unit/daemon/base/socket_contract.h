// The socket seam's contract (daemon/base/os_socket.h) as the telemetry
// endpoint builds on it, run against each half through a rig that listens on
// the loopback address for what the half sends: POSIX sockets on the notebook
// (_sim) and, under Wine, Winsock (_win32). Each rig is one file beside this one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace qxtest {

struct Datagram {
    bool arrived = false;
    std::string from;  // the sender's address, dotted
    std::string bytes;
};

class SocketRig {
  public:
    virtual ~SocketRig() = default;
    // Runs body, then closes the receiver if body asked for one; returns what
    // body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // A receiving datagram socket bound to 127.0.0.1 at a port of the
    // system's choosing, with room for the largest datagram; its port in
    // host byte order.
    virtual uint16_t Listen() = 0;
    // The next datagram at the receiver within ms milliseconds.
    virtual Datagram Receive(int ms) = 0;
};

// The half linked into this test.
SocketRig& Rig();

}  // namespace qxtest
