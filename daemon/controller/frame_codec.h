// The frame layer of the controller protocol.
//
// A frame is one or more records (length byte, type byte, data), each closed
// by a RecordSeparator, then a CRC-8 over the wire bytes and an EndFlag. Record
// bytes and the checksum are byte-stuffed so that a raw 0x7D, 0x7E or 0x81 on
// the wire always has its framing meaning. Frames are assembled in place in a
// 160-byte buffer with 8-bit positions; nothing here allocates or does I/O.
#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/wire.h"

namespace qx {

// The wire bytes themselves belong to the protocol library.
constexpr uint8_t RecordSeparator = qxproto::kRecordSeparator;
constexpr uint8_t EndFlag = qxproto::kEndFlag;
constexpr uint8_t EscapeMarker = qxproto::kEscapeMarker;

// wr_buf and rd_buf: one frame or one reply.
constexpr size_t kFrameBufferSize = 160;
using FrameBuffer = uint8_t[kFrameBufferSize];

// rw_size: low byte = bytes to write (frame length, flag included), high byte =
// bytes to read back (0 when the frame expects no reply).
inline uint8_t RwWriteSize(int32_t rw_size) {
    return static_cast<uint8_t>(rw_size & 0xFF);
}
inline uint8_t RwReadSize(int32_t rw_size) {
    return static_cast<uint8_t>((rw_size >> 8) & 0xFF);
}
inline int32_t MakeRwSize(uint8_t write_size, uint8_t read_size) {
    return static_cast<int32_t>(write_size) | (static_cast<int32_t>(read_size) << 8);
}

// Status of a builder that was asked for more than the buffer holds. Our own
// frames never come near the end of the buffer; this guards against a caller
// that passes a record or position that would run off it (debug builds assert).
constexpr int32_t kFrameTooLong = -1;

// CRC-8, polynomial 0x9B processed least significant bit first (0xD9), init 0,
// no final XOR. FrameChecksum of "123456789" is 0x25.
uint8_t FrameChecksum(const uint8_t* bytes, size_t count);

// Escapes in place every 0x7E, 0x7D and 0x81 in buf[start, end): each becomes
// EscapeMarker followed by the byte XOR 0x20, pushing the rest of the range
// towards the end of the buffer. Returns the number of markers inserted, or
// kFrameTooLong (buffer untouched) when the grown range would not fit.
int32_t EscapeRange(FrameBuffer& buf, uint8_t start, uint8_t end);

// Writes the checksum of buf[0, pos) at pos, escapes it and writes the EndFlag
// behind it. pos is the index just after the last RecordSeparator. Returns the
// frame length, or kFrameTooLong.
int32_t CloseFrame(FrameBuffer& buf, uint8_t pos);

// Steps 2 and 3 of every frame builder: escapes the record of record_len bytes
// just written at *pos, writes the RecordSeparator behind it and moves *pos past
// both. Returns 0, or kFrameTooLong (*pos unchanged).
int32_t FinishRecord(FrameBuffer& buf, uint8_t* pos, uint8_t record_len);

// Generic record builder: writes length, type and len data bytes at pos.
// Returns the unescaped record length (2 + len), or kFrameTooLong.
int32_t PutRecord(FrameBuffer& buf, uint8_t pos, uint8_t type, const uint8_t* data, uint8_t len);

// Writes a ReadRequest (the two header bytes of the record asked for) at pos.
// Returns 2, or kFrameTooLong.
int32_t PutReadRequest(FrameBuffer& buf, uint8_t pos, uint8_t asked_len, uint8_t asked_type);

}  // namespace qx
