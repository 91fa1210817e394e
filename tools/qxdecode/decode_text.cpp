#include "tools/qxdecode/decode_text.h"

#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "protocol/wire.h"

namespace qxdecode {

namespace {

void Append(std::string* s, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string* s, const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *s += line;
}

void AppendHex(std::string* s, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) Append(s, i ? " %02X" : "%02X", p[i]);
}

bool ParseHex(const std::string& text, std::vector<uint8_t>* bytes, std::string* err) {
    int high = -1;
    size_t high_at = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (isspace(static_cast<unsigned char>(c))) continue;
        // "0x" before a byte, as people paste them from code.
        if (high < 0 && c == '0' && i + 1 < text.size() &&
            (text[i + 1] == 'x' || text[i + 1] == 'X')) {
            ++i;
            continue;
        }
        int v = HexDigitValue(c);
        if (v < 0) {
            if (isprint(static_cast<unsigned char>(c))) {
                Append(err, "qxdecode: not hex: '%c' at character %zu\n", c, i + 1);
            } else {
                Append(err, "qxdecode: not hex: byte 0x%02X at character %zu\n",
                       static_cast<unsigned char>(c), i + 1);
            }
            return false;
        }
        if (high < 0) {
            high = v;
            high_at = i;
        } else {
            bytes->push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) {
        Append(err, "qxdecode: odd number of hex digits (a lone digit at character %zu)\n",
               high_at + 1);
        return false;
    }
    if (bytes->empty()) {
        Append(err, "qxdecode: no bytes to decode\n");
        return false;
    }
    return true;
}

void AppendRssi(std::string* s, uint8_t b) {
    // Quarter-dB steps above -100 dBm; both ends of the scale are clamps.
    Append(s, "%02X (%.2f dBm%s)", b, b / 4.0 - 100.0,
           b == 0     ? " or below"
           : b == 255 ? " or above"
                      : "");
}

void DescribeRecord(std::string* out, const qxproto::Record& r, const uint8_t* rec) {
    using namespace qxproto;
    const uint8_t* d = rec + kRecordHeaderLen;
    const uint8_t len = r.length;
    if (r.read_request) {
        Append(out, "  ReadRequest: asks for %s (type %u, %u data bytes)\n", TypeName(r.type),
               r.type, len);
        return;
    }
    const int entries = LinkReportEntries(rec, r.size);
    if (r.type == kTypeControllerVersion && len == kVersionLen) {
        Append(out, "  ControllerVersion: %u.%u.%u\n", d[2], d[1], d[0]);
    } else if (r.type == kTypeConfigEcho && len == kConfigEchoLen) {
        Append(out, "  ConfigEcho: settings ");
        AppendHex(out, d, kSettingsLen);
        *out += "\n";
    } else if (r.type == kTypeConfigWrite && len == kConfigWriteLen) {
        const uint8_t* settings = d + kAccessCodeLen;
        Append(out, "  ConfigWrite: access code ");
        AppendHex(out, d, kAccessCodeLen);
        Append(out, ", settings ");
        AppendHex(out, settings, kSettingsLen);
        Append(out, " (steering mode %u, w-limit %u, s-limit %u, chains %02X %02X)\n", settings[1],
               settings[2], settings[3], settings[4], settings[5]);
    } else if (r.type == kTypeLinkReport && entries > 0) {
        Append(out, "  LinkReport: %d %s, time stamp %u ms\n", entries,
               entries == 1 ? "entry" : "entries", LinkReportTimestamp(rec));
        for (int i = 0; i < entries; ++i) {
            const LinkEntry e = LinkReportEntry(rec, i);
            Append(out, "    entry %d: new BSSID %u, flags 0x%02X, traffic %u, RSSI chain 0 ",
                   i + 1, (e.flags & kLinkEntryNewBssid) ? 1u : 0u, e.flags & 0x7F,
                   static_cast<unsigned>(e.traffic));
            AppendRssi(out, e.rssi0);
            Append(out, ", chain 1 ");
            AppendRssi(out, e.rssi1);
            Append(out, ", reserved %02X %02X\n", e.reserved[0], e.reserved[1]);
        }
    } else if (r.type == kTypeMSwitchTable && len == kMSwitchTableLen) {
        Append(out, "  MSwitchTable: ");
        AppendHex(out, d, kMSwitchTableLen);
        *out += "\n";
    } else {
        Append(out, "  record type %u (%s), %u data bytes", r.type, TypeName(r.type), len);
        if (len) {
            *out += ": ";
            AppendHex(out, d, len);
        }
        *out += "\n";
    }
}

// Decodes the bytes frame by frame; *frames counts the frames of the input so far.
int DecodeBytes(const std::vector<uint8_t>& bytes, std::string* out, std::string* err,
                int* frames) {
    auto frame = std::make_unique<qxproto::Frame>();
    int result = kAllGood;
    size_t pos = 0;
    int& number = *frames;
    while (pos < bytes.size()) {
        const uint8_t* wire = bytes.data() + pos;
        size_t left = bytes.size() - pos;
        ++number;
        int status = qxproto::DecodeFrame(wire, left, frame.get());
        // A lone 00 in front of a frame is the wake byte, written on its own
        // before the configuration; it only looks glued on in a trace.
        if (status != qxproto::kDecodeOk && wire[0] == qxproto::kWakeByte && left > 1) {
            int rest = qxproto::DecodeFrame(wire + 1, left - 1, frame.get());
            if (rest == qxproto::kDecodeOk) {
                Append(out, "wake byte: 00\n");
                pos += 1;
                --number;
                continue;
            }
            status = qxproto::DecodeFrame(wire, left, frame.get());
        }
        size_t len = frame->wire_length ? frame->wire_length : left;
        Append(out, "frame %d (%zu bytes): ", number, len);
        AppendHex(out, wire, len);
        *out += "\n";
        if (status == qxproto::kDecodeOk || status == qxproto::kBadChecksum) {
            for (int i = 0; i < frame->record_count; ++i) {
                DescribeRecord(out, frame->records[i], frame->bytes + frame->records[i].offset);
            }
        }
        if (status == qxproto::kDecodeOk) {
            Append(out, "  checksum %02X: ok\n", frame->checksum);
        } else if (status == qxproto::kBadChecksum) {
            Append(out, "  checksum %02X: MISMATCH (computed %02X)\n", frame->checksum,
                   frame->computed);
            Append(err, "qxdecode: frame %d: checksum mismatch: got %02X, computed %02X\n", number,
                   frame->checksum, frame->computed);
            result = kBadFrame;
        } else {
            Append(out, "  error: %s\n", qxproto::DecodeStatusText(status));
            Append(err, "qxdecode: frame %d: %s\n", number, qxproto::DecodeStatusText(status));
            result = kBadFrame;
        }
        pos += len;
    }
    return result;
}

// The most bytes a stream holds without an end flag: far beyond the longest
// frame. More is decoded as it stands, which reports it.
constexpr size_t kMaxPendingBytes = 4096;

}  // namespace

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string HexText(const uint8_t* bytes, size_t count) {
    std::string s;
    AppendHex(&s, bytes, count);
    return s;
}

int DecodeBytes(const std::vector<uint8_t>& bytes, std::string* out, std::string* err) {
    int frames = 0;
    return DecodeBytes(bytes, out, err, &frames);
}

int DecodeText(const std::string& text, std::string* out, std::string* err) {
    std::vector<uint8_t> bytes;
    if (!ParseHex(text, &bytes, err)) return kBadInput;
    int frames = 0;
    return DecodeBytes(bytes, out, err, &frames);
}

void HexStream::Line(const std::string& line, std::string* out, std::string* err) {
    ++line_number_;
    bool blank = true;
    for (char c : line) blank = blank && isspace(static_cast<unsigned char>(c));
    if (blank) return;
    std::vector<uint8_t> bytes;
    std::string problem;
    if (!ParseHex(line, &bytes, &problem)) {
        // "qxdecode: not hex: ..." becomes "qxdecode: line N: not hex: ...".
        const std::string tool = "qxdecode: ";
        if (problem.compare(0, tool.size(), tool) == 0) problem.erase(0, tool.size());
        *err += tool + "line " + std::to_string(line_number_) + ": " + problem;
        if (result_ < kBadInput) result_ = kBadInput;
        return;
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    if (pending_.back() == qxproto::kEndFlag || pending_.size() >= kMaxPendingBytes)
        Decode(out, err);
}

void HexStream::Decode(std::string* out, std::string* err) {
    const int rc = DecodeBytes(pending_, out, err, &frames_);
    if (rc > result_) result_ = rc;
    pending_.clear();
}

int HexStream::Finish(std::string* out, std::string* err) {
    if (!pending_.empty()) Decode(out, err);
    if (frames_ == 0 && result_ == kAllGood) {
        *err += "qxdecode: no bytes to decode\n";
        return kBadInput;
    }
    return result_;
}

}  // namespace qxdecode
