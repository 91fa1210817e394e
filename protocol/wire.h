// The antenna controller's wire protocol: framing bytes, escapes, checksum,
// record types and lengths, and the receiver's decoder.
//
// This is the one place where a byte of the protocol is defined. The daemon
// builds its frames with it, the controller responder (responder.h) decodes
// them with it, and so do the virtual notebook, the kernel-mode double under
// Wine and qxdecode. Hence freestanding: <stddef.h> and <stdint.h> only, no
// allocation, no exceptions, no global constructors, so that it links into a
// kernel-mode driver as it is.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace qxproto {

// ---- Framing ----
constexpr uint8_t kRecordSeparator = 0x7D;  // after every record, the last one included
constexpr uint8_t kEndFlag = 0x7E;          // last byte of every frame
constexpr uint8_t kEscapeMarker = 0x81;     // precedes an escaped byte
constexpr uint8_t kEscapeXor = 0x20;        // an escaped byte is the original XOR this
// Sent alone, never framed, before the configuration exchange.
constexpr uint8_t kWakeByte = 0x00;

// ---- Records: length byte L, type byte, L data bytes ----
constexpr uint8_t kRecordHeaderLen = 2;

constexpr uint8_t kTypeControllerVersion = 2;  // controller to host: three version numbers
constexpr uint8_t kTypeConfigEcho = 3;         // controller to host: copy of the settings
constexpr uint8_t kTypeConfigWrite = 4;        // host to controller: access code + settings
constexpr uint8_t kTypeLinkReport = 7;         // host to controller: how the link is doing
constexpr uint8_t kTypeMSwitchTable = 9;       // host to controller: antenna switch table

constexpr uint8_t kVersionLen = 3;   // d0 d1 d2; the revision reads d2.d1.d0
constexpr uint8_t kSettingsLen = 6;  // the settings bytes of a configuration
constexpr uint8_t kConfigEchoLen = kSettingsLen;
constexpr uint8_t kAccessCodeLen = 4;
constexpr uint8_t kConfigWriteLen = kAccessCodeLen + kSettingsLen;
constexpr uint8_t kMSwitchTableLen = 8;       // four groups of two nibble-packed bytes
constexpr uint8_t kLinkReportHeadLen = 5;     // entry count + 32-bit time stamp
constexpr uint8_t kLinkEntryWireLen = 7;      // flags, traffic (2), RSSI 0, RSSI 1, reserved (2)
constexpr uint8_t kLinkEntryNewBssid = 0x80;  // bit 7 of an entry's flags

// The code every ConfigWrite starts with. The controller firmware fixes it and
// takes no configuration that carries another.
constexpr uint8_t kConfigAccessCode[kAccessCodeLen] = {0x5A, 0xC3, 0x96, 0x3C};

// Data length of a link report with `entries` entries, truncated to 8 bits as
// the length byte carries it.
constexpr uint8_t LinkReportLen(uint8_t entries) {
    return static_cast<uint8_t>(kLinkReportHeadLen + kLinkEntryWireLen * entries);
}

// "ControllerVersion" ... "MSwitchTable" for the five types, "unknown" otherwise.
const char* TypeName(uint8_t type);

// ---- Checksum and escapes ----

// CRC-8, polynomial 0x9B processed least significant bit first (0xD9), init 0,
// no final XOR (CRC-8/WCDMA). Checksum of "123456789" is 0x25.
uint8_t Checksum(const uint8_t* bytes, size_t count);

// 0x7D, 0x7E and 0x81 travel as 0x81 followed by the byte XOR 0x20.
constexpr bool NeedsEscape(uint8_t b) {
    return b == kRecordSeparator || b == kEndFlag || b == kEscapeMarker;
}

// Escapes buf[start, end) in place; the range grows towards the end of the
// buffer (capacity bytes) by one byte per escape, overwriting what lay behind
// it. Returns the number of markers inserted, or -1 with the buffer untouched
// when the range is not inside the buffer or the grown range would not fit.
int32_t EscapeInPlace(uint8_t* buf, size_t capacity, size_t start, size_t end);

// ---- The receiver's decoder ----
//
// Within a frame, everything before the raw EndFlag is split into records at
// each raw RecordSeparator; the byte (or escape pair) after the last separator
// is the checksum, computed over the wire bytes before it; an escape pair
// 0x81 b stands for b XOR 0x20 and is only valid for the three escaped bytes.

constexpr size_t kMaxFrameBytes = 512;  // unescaped record bytes of one frame
constexpr size_t kMaxRecords = 32;

enum DecodeStatus : int {
    kDecodeOk = 0,
    kNoEndFlag = -1,         // ran out of bytes before a raw 0x7E
    kNoSeparator = -2,       // no raw 0x7D: no record, no checksum position
    kBadEscape = -3,         // 0x81 not followed by 5E, 5D or A1
    kBadChecksum = -4,       // checksum does not match the wire bytes
    kBadChecksumField = -5,  // not exactly one byte or one pair after the last separator
    kBadRecord = -6,         // shorter than two bytes, or length byte disagrees
    kTooLong = -7,           // more than kMaxFrameBytes or kMaxRecords
    kTrailingBytes = -8,     // bytes after the EndFlag in one transfer (ExactFrame only)
};

struct Record {
    uint16_t offset;       // of the length byte in Frame::bytes
    uint16_t size;         // unescaped bytes of the record, header included
    uint8_t length;        // the length byte
    uint8_t type;          // the type byte
    uint8_t read_request;  // 1: a two-byte ReadRequest asking for record (length, type)
};

struct Frame {
    size_t wire_length;  // bytes of the frame on the wire, EndFlag included
    uint8_t checksum;    // as received (unescaped)
    uint8_t computed;    // over the wire bytes before it
    uint16_t record_count;
    Record records[kMaxRecords];
    uint8_t bytes[kMaxFrameBytes];

    const uint8_t* RecordBytes(uint16_t i) const { return bytes + records[i].offset; }
};

// Length of the first frame in wire[0, count), EndFlag included; 0 when the
// bytes hold no raw EndFlag.
size_t FrameLength(const uint8_t* wire, size_t count);

// Decodes the first frame of wire[0, count). On kDecodeOk every field of
// *frame is set. On kBadChecksum the records are decoded too, with
// frame->checksum and frame->computed telling the difference, but a receiver
// must not act on them. frame->wire_length is set whenever an EndFlag was
// found, so that a caller can skip a bad frame and go on with the next one.
int DecodeFrame(const uint8_t* wire, size_t count, Frame* frame);

// As DecodeFrame, but wire[0, count) must be exactly one frame: the
// controller's receiver starts afresh with every bus transaction, so bytes
// behind the EndFlag make the whole transaction unusable (kTrailingBytes).
int DecodeExactFrame(const uint8_t* wire, size_t count, Frame* frame);

// Short English text for a status of DecodeFrame.
const char* DecodeStatusText(int status);

// ---- Record contents ----

// The entry count of a well-formed LinkReport record (header included): the
// length byte is 5 + 7 x n for the entry count n in the first data byte, and
// n is at least one. -1 for anything else.
int LinkReportEntries(const uint8_t* record, size_t size);

// Time stamp of a LinkReport record: low 32 bits of milliseconds since 1970,
// little-endian.
uint32_t LinkReportTimestamp(const uint8_t* record);

struct LinkEntry {
    uint8_t flags;  // bit 7: new BSSID
    uint16_t traffic;
    uint8_t rssi0;
    uint8_t rssi1;
    uint8_t reserved[2];
};

// Entry i (from 0) of a LinkReport record whose entries were counted with
// LinkReportEntries.
LinkEntry LinkReportEntry(const uint8_t* record, int i);

}  // namespace qxproto
