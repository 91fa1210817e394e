#include "daemon/controller/frame_codec.h"

#include <cassert>
#include <cstring>

namespace qx {

namespace {

// A refused request is a caller's bug, never a state of the wire: loud in
// debug builds, a plain negative status in release builds.
inline int32_t Refuse() {
    assert(!"frame does not fit the 160-byte buffer");
    return kFrameTooLong;
}

}  // namespace

uint8_t FrameChecksum(const uint8_t* bytes, size_t count) {
    return qxproto::Checksum(bytes, count);
}

int32_t EscapeRange(FrameBuffer& buf, uint8_t start, uint8_t end) {
    int32_t markers = qxproto::EscapeInPlace(buf, kFrameBufferSize, start, end);
    if (markers < 0) return Refuse();
    return markers;
}

int32_t CloseFrame(FrameBuffer& buf, uint8_t pos) {
    // Checksum, possibly escaped (two bytes), and the flag.
    if (pos + 3u > kFrameBufferSize) return Refuse();
    uint8_t crc = FrameChecksum(buf, pos);
    // The checksum escaped like any record byte.
    if (qxproto::NeedsEscape(crc)) {
        buf[pos] = EscapeMarker;
        buf[pos + 1] = static_cast<uint8_t>(crc ^ qxproto::kEscapeXor);
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
