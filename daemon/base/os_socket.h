// OS seam: one UDP socket (Winsock 1.1 on Windows).
#pragma once

#include <cstdint>

namespace qx::os {

using UdpSocket = intptr_t;
constexpr UdpSocket kNoSocket = -1;

// WSAStartup for version 1.1; the result is the caller's to ignore.
int32_t SocketsStartup();
// WSACleanup.
void SocketsCleanup();
// socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP); kNoSocket on failure.
UdpSocket UdpOpen();
void UdpClose(UdpSocket socket);
// sendto without flags towards address:port (host byte order here, network
// order on the wire); the sendto result (-1 on failure).
int32_t UdpSendTo(UdpSocket socket, const uint8_t* bytes, int32_t length, uint32_t address,
                  uint16_t port);

}  // namespace qx::os
