#include "daemon/controller/frame_codec.h"

#include <cassert>
#include <cstring>

namespace qx {

namespace {

// Entry i: i shifted right eight times, XORing the reversed polynomial after
// every shift that drops a 1 bit. Built at compile time so the table is constant.
struct CrcTable {
    uint8_t entry[256];
    constexpr CrcTable() : entry() {
        for (int i = 0; i < 256; ++i) {
            uint8_t crc = static_cast<uint8_t>(i);
            for (int bit = 0; bit < 8; ++bit) {
                crc = static_cast<uint8_t>((crc & 1) ? (crc >> 1) ^ 0xD9 : crc >> 1);
            }
            entry[i] = crc;
        }
    }
};
constexpr CrcTable kCrc{};
static_assert(kCrc.entry[0x80] == 0xD9, "CRC table: reversed polynomial 0xD9");

// 1 for the three bytes that must be escaped: one load per byte instead of
// three compares keeps the per-cycle link report cheap.
struct EscapeTable {
    uint8_t entry[256];
    constexpr EscapeTable() : entry() {
        entry[EndFlag] = entry[RecordSeparator] = entry[EscapeMarker] = 1;
    }
};
constexpr EscapeTable kEscape{};

inline bool NeedsEscape(uint8_t b) {
    return kEscape.entry[b] != 0;
}

// A refused request is a caller's bug, never a state of the wire: loud in
// debug builds, a plain negative status in release builds.
inline int32_t Refuse() {
    assert(!"frame does not fit the 160-byte buffer");
    return kFrameTooLong;
}

}  // namespace

uint8_t FrameChecksum(const uint8_t* bytes, size_t count) {
    uint8_t crc = 0;
    // Unrolled: this runs over every frame, link reports several times a second.
#pragma GCC unroll 4
    for (size_t i = 0; i < count; ++i) crc = kCrc.entry[crc ^ bytes[i]];
    return crc;
}

int32_t EscapeRange(FrameBuffer& buf, uint8_t start, uint8_t end) {
    if (start > end || end > kFrameBufferSize) return Refuse();
    uint32_t markers = 0;
#pragma GCC unroll 4
    for (uint32_t i = start; i < end; ++i) markers += kEscape.entry[buf[i]];
    if (markers == 0) return 0;
    if (end + markers > kFrameBufferSize) return Refuse();
    // Walk backwards so that every byte moves exactly once; the result is the
    // same as inserting each marker in turn from the front.
    uint32_t dst = end + markers;
    for (uint32_t src = end; src-- > start;) {
        uint8_t b = buf[src];
        if (NeedsEscape(b)) {
            buf[--dst] = static_cast<uint8_t>(b ^ 0x20);
            buf[--dst] = EscapeMarker;
        } else {
            buf[--dst] = b;
        }
    }
    return static_cast<int32_t>(markers);
}

int32_t CloseFrame(FrameBuffer& buf, uint8_t pos) {
    // Checksum, possibly escaped (two bytes), and the flag.
    if (pos + 3u > kFrameBufferSize) return Refuse();
    uint8_t crc = FrameChecksum(buf, pos);
    // The checksum escaped like any record byte.
    if (NeedsEscape(crc)) {
        buf[pos] = EscapeMarker;
        buf[pos + 1] = static_cast<uint8_t>(crc ^ 0x20);
        buf[pos + 2] = EndFlag;
        return pos + 3;
    }
    buf[pos] = crc;
    buf[pos + 1] = EndFlag;
    return pos + 2;
}

int32_t FinishRecord(FrameBuffer& buf, uint8_t* pos, uint8_t record_len) {
    uint32_t end = static_cast<uint32_t>(*pos) + record_len;
    if (end > kFrameBufferSize) return Refuse();
    int32_t n = EscapeRange(buf, *pos, static_cast<uint8_t>(end));
    if (n < 0) return n;
    end += static_cast<uint32_t>(n);
    // Room for the separator behind the escaped record.
    if (end + 1 > kFrameBufferSize) return Refuse();
    buf[end] = RecordSeparator;
    *pos = static_cast<uint8_t>(end + 1);
    return 0;
}

int32_t PutRecord(FrameBuffer& buf, uint8_t pos, uint8_t type, const uint8_t* data, uint8_t len) {
    if (pos + 2u + len > kFrameBufferSize) return Refuse();
    buf[pos] = len;
    buf[pos + 1] = type;
    if (len != 0) memcpy(&buf[pos + 2], data, len);
    return 2 + len;
}

int32_t PutReadRequest(FrameBuffer& buf, uint8_t pos, uint8_t asked_len, uint8_t asked_type) {
    if (pos + 2u > kFrameBufferSize) return Refuse();
    buf[pos] = asked_len;
    buf[pos + 1] = asked_type;
    return 2;
}

}  // namespace qx
