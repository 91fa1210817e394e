// qxdecode --sigrok: the I2C annotations of sigrok-cli, back into the bytes of
// each bus transaction, decoded as qxdecode decodes hex.
//
//   sigrok-cli -i capture.sr -P i2c:scl=D0:sda=D1
//       -A i2c=address-read:address-write:data-read:data-write:stop
//       | qxdecode --sigrok --address 2C
//   (one line)
#pragma once

#include <memory>
#include <string>

namespace qxdecode {

// Every transaction is taken for the controller's.
constexpr int kAnyAddress = -1;

// Reads sigrok-cli's annotation lines ("i2c-1: Address write: 2C",
// "i2c-1: Data write: 7E", "i2c-1: Stop", ...). Each address annotation
// begins a transaction and a Stop ends it: a write carries the host's frames
// and is decoded like hex input; a read carries the controller's answer, a
// bare record. With a controller address, the transactions with any other
// address are another device's (the bus is shared): listed with their bytes,
// never judged. Annotations without bytes (Start, ACK, NACK, Read, Write,
// single bits) pass; any other line is reported on *err with its line number.
// Returns the exit codes of decode_text.h: the worst of the controller's
// transactions, kBadInput when a line was not understood or there was nothing
// of the controller's to decode.
int DecodeSigrok(const std::string& text, std::string* out, std::string* err,
                 int controller_address = kAnyAddress);

struct SigrokState;

// The same, line by line as a capture arrives: a transaction is decoded as
// soon as its Stop (or the next address annotation, or the end) shows it
// complete, so a live capture piped in prints as it goes.
class SigrokStream {
  public:
    explicit SigrokStream(int controller_address = kAnyAddress);
    ~SigrokStream();
    SigrokStream(const SigrokStream&) = delete;
    SigrokStream& operator=(const SigrokStream&) = delete;
    // One line without its line end; what is complete goes to *out and *err.
    void Line(const std::string& line, std::string* out, std::string* err);
    // The end of the input: decodes the last transaction; returns the exit code.
    int Finish(std::string* out, std::string* err);

  private:
    std::unique_ptr<SigrokState> state_;
};

}  // namespace qxdecode
