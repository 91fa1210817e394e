// qxdecode --sigrok: the I2C annotations of sigrok-cli, back into the bytes of
// each bus transaction, decoded as qxdecode decodes hex.
//
//   sigrok-cli -i capture.sr -P i2c:scl=D0:sda=D1
//       -A i2c=address-read:address-write:data-read:data-write | qxdecode --sigrok
//   (one line)
#pragma once

#include <string>

namespace qxdecode {

// Reads sigrok-cli's annotation lines ("i2c-1: Address write: 2C",
// "i2c-1: Data write: 7E", ...). Each address annotation begins a transaction:
// a write carries the host's frames and is decoded like hex input; a read
// carries the controller's answer, a bare record. Annotations without bytes
// (Start, Stop, ACK, NACK, Read, Write, single bits) pass; any other line
// is reported on *err with its line number. Returns the exit codes of
// decode_text.h: the worst of all transactions, kBadInput when a line was not
// understood or there was nothing to decode.
int DecodeSigrok(const std::string& text, std::string* out, std::string* err);

}  // namespace qxdecode
