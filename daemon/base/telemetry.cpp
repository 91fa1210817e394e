#include "daemon/base/telemetry.h"

#include "daemon/base/os_socket.h"

namespace qx {

namespace {

// One endpoint per process, opened on main and closed by the shutdown path.
struct TelemetryEndpoint {
    uint32_t address = 0;
    uint16_t port = 0;
    os::UdpSocket socket = os::kNoSocket;
    int32_t failures = 0;
};
TelemetryEndpoint g_endpoint;

constexpr int32_t kFailuresBeforeClose = 20;

}  // namespace

int32_t OpenTelemetry(uint32_t address, uint16_t port) {
    if (address == 0 || port == 0) return -1;
    g_endpoint.address = address;
    g_endpoint.port = port;
    g_endpoint.failures = 0;
    (void)os::SocketsStartup();
    g_endpoint.socket = os::UdpOpen();
    return 0;
}

int32_t SendTelemetry(const uint8_t* bytes, int32_t length) {
    int32_t n = -1;
    if (g_endpoint.socket != os::kNoSocket) {
        n = os::UdpSendTo(g_endpoint.socket, bytes, length, g_endpoint.address, g_endpoint.port);
    }
    if (n < 0) {
        if (g_endpoint.failures++ > kFailuresBeforeClose) CloseTelemetry();
    } else {
        g_endpoint.failures = 0;
    }
    return n;
}

int32_t CloseTelemetry() {
    if (g_endpoint.socket != os::kNoSocket) {
        os::UdpClose(g_endpoint.socket);
        g_endpoint.socket = os::kNoSocket;
    }
    os::SocketsCleanup();
    return 0;
}

}  // namespace qx
