#include "common/win/win32.h"
#include <winsock2.h>

#include "daemon/base/os_socket.h"

namespace qx::os {

namespace {
using UniqueSocket = win::UniqueAny<SOCKET, &::closesocket, win::AllOnesIsInvalid>;
}  // namespace

int32_t SocketsStartup() {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(1, 1), &data);
}

void SocketsCleanup() {
    ::WSACleanup();
}

UdpSocket UdpOpen() {
    SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<UdpSocket>(s);
}

void UdpClose(UdpSocket socket) {
    win::Dispose<UniqueSocket>(static_cast<SOCKET>(socket));
}

int32_t UdpSendTo(UdpSocket socket, const uint8_t* bytes, int32_t length, uint32_t address,
                  uint16_t port) {
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = ::htons(port);
    to.sin_addr.s_addr = ::htonl(address);
    return ::sendto(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(bytes), length, 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

}  // namespace qx::os
