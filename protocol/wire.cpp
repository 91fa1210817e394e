// Freestanding: see wire.h. No library calls, so copies are plain loops.
#include "protocol/wire.h"

namespace qxproto {

namespace {

// Entry i: i shifted right eight times, XORing the reversed polynomial after
// every shift that drops a 1 bit. Built at compile time: constant data, no
// constructor to run in a driver.
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

// Entry b: 1 for the three bytes that are escaped. Counting through a table
// is a load and an add per byte, not three compares and branches: the count
// runs over every record of every frame.
struct EscapeTable {
    uint8_t marks[256];
    constexpr EscapeTable() : marks() {
        for (int b = 0; b < 256; ++b) marks[b] = NeedsEscape(static_cast<uint8_t>(b)) ? 1 : 0;
    }
};
constexpr EscapeTable kEscapes{};

// Unescapes wire[from, to) into out; returns the byte count or a negative status.
int Unescape(const uint8_t* wire, size_t from, size_t to, uint8_t* out, size_t room) {
    size_t n = 0;
    size_t i = from;
    while (i < to) {
        uint8_t b = wire[i];
        if (b == kEscapeMarker) {
            if (i + 1 >= to) return kBadEscape;
            uint8_t original = static_cast<uint8_t>(wire[i + 1] ^ kEscapeXor);
            // Only the three framing bytes are ever escaped.
            if (!NeedsEscape(original)) return kBadEscape;
            b = original;
            i += 2;
        } else {
            i += 1;
        }
        if (n >= room) return kTooLong;
        out[n++] = b;
    }
    return static_cast<int>(n);
}

}  // namespace

const char* TypeName(uint8_t type) {
    switch (type) {
        case kTypeControllerVersion:
            return "ControllerVersion";
        case kTypeConfigEcho:
            return "ConfigEcho";
        case kTypeConfigWrite:
            return "ConfigWrite";
        case kTypeLinkReport:
            return "LinkReport";
        case kTypeMSwitchTable:
            return "MSwitchTable";
        default:
            return "unknown";
    }
}

uint8_t Checksum(const uint8_t* bytes, size_t count) {
    uint8_t crc = 0;
    // Unrolled: this runs over every frame, link reports several times a second.
#pragma GCC unroll 4
    for (size_t i = 0; i < count; ++i) crc = kCrc.entry[crc ^ bytes[i]];
    return crc;
}

int32_t EscapeInPlace(uint8_t* buf, size_t capacity, size_t start, size_t end) {
    if (start > end || end > capacity) return -1;
    size_t markers = 0;
    for (size_t i = start; i < end; ++i) markers += kEscapes.marks[buf[i]];
    if (markers == 0) return 0;
    if (end + markers > capacity) return -1;
    // Walk backwards so that every byte moves exactly once; the result is the
    // same as inserting each marker in turn from the front.
    size_t dst = end + markers;
    for (size_t src = end; src-- > start;) {
        uint8_t b = buf[src];
        if (NeedsEscape(b)) {
            buf[--dst] = static_cast<uint8_t>(b ^ kEscapeXor);
            buf[--dst] = kEscapeMarker;
        } else {
            buf[--dst] = b;
        }
    }
    return static_cast<int32_t>(markers);
}

size_t FrameLength(const uint8_t* wire, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (wire[i] == kEndFlag) return i + 1;
    }
    return 0;
}

int DecodeFrame(const uint8_t* wire, size_t count, Frame* frame) {
    frame->wire_length = 0;
    frame->record_count = 0;
    frame->checksum = 0;
    frame->computed = 0;

    size_t end = FrameLength(wire, count);
    if (end == 0) return kNoEndFlag;
    frame->wire_length = end;
    end -= 1;  // index of the EndFlag

    size_t last_sep = 0;
    bool have_sep = false;
    for (size_t i = 0; i < end; ++i) {
        if (wire[i] == kRecordSeparator) {
            last_sep = i;
            have_sep = true;
        }
    }
    if (!have_sep) return kNoSeparator;

    // The checksum: one byte, or one escape pair, between the last separator and the flag.
    uint8_t sum[2];
    int n = Unescape(wire, last_sep + 1, end, sum, 2);
    if (n < 0) return n == kTooLong ? kBadChecksumField : n;
    if (n != 1) return kBadChecksumField;
    frame->checksum = sum[0];
    frame->computed = Checksum(wire, last_sep + 1);

    size_t start = 0;
    size_t used = 0;
    for (size_t i = 0; i <= last_sep; ++i) {
        if (wire[i] != kRecordSeparator) continue;
        if (frame->record_count >= kMaxRecords) return kTooLong;
        n = Unescape(wire, start, i, frame->bytes + used, kMaxFrameBytes - used);
        if (n < 0) return n;
        if (n < kRecordHeaderLen) return kBadRecord;
        Record* r = &frame->records[frame->record_count];
        r->offset = static_cast<uint16_t>(used);
        r->size = static_cast<uint16_t>(n);
        r->length = frame->bytes[used];
        r->type = frame->bytes[used + 1];
        // Two bytes with a nonzero length byte ask for that record; otherwise
        // the length byte must count the data bytes.
        r->read_request = static_cast<uint8_t>(n == kRecordHeaderLen && r->length != 0);
        if (!r->read_request && r->length != n - kRecordHeaderLen) return kBadRecord;
        frame->record_count++;
        used += static_cast<size_t>(n);
        start = i + 1;
    }
    if (frame->checksum != frame->computed) return kBadChecksum;
    return kDecodeOk;
}

int DecodeExactFrame(const uint8_t* wire, size_t count, Frame* frame) {
    int status = DecodeFrame(wire, count, frame);
    if (status == kDecodeOk && frame->wire_length != count) return kTrailingBytes;
    return status;
}

const char* DecodeStatusText(int status) {
    switch (status) {
        case kDecodeOk:
            return "ok";
        case kNoEndFlag:
            return "frame without its end flag (7E)";
        case kNoSeparator:
            return "frame without a record separator (7D)";
        case kBadEscape:
            return "bad escape (81 must be followed by 5E, 5D or A1)";
        case kBadChecksum:
            return "checksum mismatch";
        case kBadChecksumField:
            return "no single checksum byte between the last separator and the end flag";
        case kBadRecord:
            return "malformed record (length byte does not match its data)";
        case kTooLong:
            return "frame too long";
        case kTrailingBytes:
            return "bytes after the end flag in the same transfer";
        default:
            return "unknown error";
    }
}

int LinkReportEntries(const uint8_t* record, size_t size) {
    if (size < kRecordHeaderLen + kLinkReportHeadLen) return -1;
    const uint8_t len = record[0];
    const uint8_t entries = record[2];
    if (record[1] != kTypeLinkReport || size != static_cast<size_t>(kRecordHeaderLen + len) ||
        entries == 0)
        return -1;
    // Compared without truncation: a count whose length would not fit the
    // length byte cannot be well formed.
    if (len != kLinkReportHeadLen + kLinkEntryWireLen * static_cast<unsigned>(entries)) return -1;
    return entries;
}

uint32_t LinkReportTimestamp(const uint8_t* record) {
    const uint8_t* d = record + kRecordHeaderLen + 1;
    return static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 |
           static_cast<uint32_t>(d[2]) << 16 | static_cast<uint32_t>(d[3]) << 24;
}

LinkEntry LinkReportEntry(const uint8_t* record, int i) {
    const uint8_t* e = record + kRecordHeaderLen + kLinkReportHeadLen + kLinkEntryWireLen * i;
    LinkEntry entry;
    entry.flags = e[0];
    entry.traffic = static_cast<uint16_t>(e[1] | e[2] << 8);
    entry.rssi0 = e[3];
    entry.rssi1 = e[4];
    entry.reserved[0] = e[5];
    entry.reserved[1] = e[6];
    return entry;
}

}  // namespace qxproto
