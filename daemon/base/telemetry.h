// The UDP telemetry endpoint towards RemoteUdpAddress. Opened at WLAN start-up
// when an address was given, closed at shutdown; it offers one send.
#pragma once

#include <cstdint>

namespace qx {

constexpr uint16_t TelemetryPort = 6666;

// address: IPv4, first dotted component in the most significant byte.
// 0, or -1 when the address or the port is 0.
int32_t OpenTelemetry(uint32_t address, uint16_t port);
// One datagram of the whole buffer; returns what sendto returned. After the
// 22nd failure in a row the endpoint closes itself.
int32_t SendTelemetry(const uint8_t* bytes, int32_t length);
// Closes the socket when one is held, then ends the socket library's use; 0.
int32_t CloseTelemetry();

}  // namespace qx
