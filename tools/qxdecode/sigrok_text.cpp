#include "tools/qxdecode/sigrok_text.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "tools/escape_text.h"
#include "tools/qxdecode/decode_text.h"

namespace qxdecode {

namespace {

struct Transaction {
    int line = 0;  // of its address annotation
    bool write = true;
    unsigned address = 0;
    std::vector<uint8_t> bytes;
};

std::string Hex(const std::vector<uint8_t>& bytes) {
    return HexText(bytes.data(), bytes.size());
}

// Up to `digits` hex digits and nothing else.
bool ParseHexValue(const std::string& text, size_t digits, unsigned* value) {
    if (text.empty() || text.size() > digits) return false;
    unsigned v = 0;
    for (char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0) return false;
        v = v << 4 | static_cast<unsigned>(d);
    }
    *value = v;
    return true;
}

// The controller's answer is a bare record: length, type, data; no checksum.
void DescribeReply(const std::vector<uint8_t>& b, std::string* out) {
    bool zeros = true;
    for (uint8_t x : b) zeros = zeros && x == 0;
    char line[160];
    if (b.empty()) {
        *out += "  no data bytes\n";
    } else if (zeros) {
        *out += "  reply: zeros (the controller had nothing to say)\n";
    } else if (b.size() < 2 || b.size() < static_cast<size_t>(b[0]) + 2) {
        snprintf(line, sizeof line,
                 "  reply: not a whole record (length byte %u, %zu bytes read)\n", b[0], b.size());
        *out += line;
    } else if (b[1] == qxproto::kTypeControllerVersion && b[0] == qxproto::kVersionLen) {
        snprintf(line, sizeof line, "  reply: %s %u.%u.%u\n",
                 qxproto::TypeName(qxproto::kTypeControllerVersion), b[4], b[3], b[2]);
        *out += line;
    } else if (b[1] == qxproto::kTypeConfigEcho && b[0] == qxproto::kConfigEchoLen) {
        *out += "  reply: ConfigEcho, settings " +
                Hex(std::vector<uint8_t>(
                    b.begin() + qxproto::kRecordHeaderLen,
                    b.begin() + qxproto::kRecordHeaderLen + qxproto::kConfigEchoLen)) +
                "\n";
    } else {
        snprintf(line, sizeof line, "  reply: record type %u, %u data bytes\n", b[1], b[0]);
        *out += line;
    }
}

// DecodeBytes' problems name "frame N" within the transaction; say which
// transaction and where in the capture it began.
void PrefixErrors(const std::string& text, const std::string& where, std::string* err) {
    const std::string tool = "qxdecode: ";
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(pos, end - pos);
        if (line.compare(0, tool.size(), tool) == 0) line.erase(0, tool.size());
        *err += tool + where + ": " + line + "\n";
        pos = end + 1;
    }
}

int Decode(const Transaction& t, int number, bool controller, std::string* out, std::string* err) {
    char head[160];
    snprintf(head, sizeof head, "transaction %d (line %d): %s %02X, %zu byte%s%s\n", number, t.line,
             t.write ? "write to" : "read from", t.address, t.bytes.size(),
             t.bytes.size() == 1 ? "" : "s", controller ? "" : ": another device's traffic");
    *out += head;
    // Touchpads and sensors share the bus: their bytes are shown, not judged.
    if (!controller) {
        if (!t.bytes.empty()) *out += "  bytes: " + Hex(t.bytes) + "\n";
        return kAllGood;
    }
    if (!t.write) {
        if (!t.bytes.empty()) *out += "  bytes: " + Hex(t.bytes) + "\n";
        DescribeReply(t.bytes, out);
        return kAllGood;
    }
    if (t.bytes.empty()) {
        *out += "  no data bytes\n";
        return kAllGood;
    }
    // The wake byte travels alone; hex input only knows it in front of a frame.
    if (t.bytes.size() == 1 && t.bytes[0] == qxproto::kWakeByte) {
        *out += "wake byte: 00\n";
        return kAllGood;
    }
    std::string text_err;
    char where[64];
    snprintf(where, sizeof where, "transaction %d (line %d)", number, t.line);
    int rc = DecodeBytes(t.bytes, out, &text_err);
    PrefixErrors(text_err, where, err);
    return rc;
}

}  // namespace

// A write longer than this is no controller traffic; the rest of it is
// dropped rather than held.
constexpr size_t kMaxTransactionBytes = 65536;

struct SigrokState {
    int address = kAnyAddress;  // the controller's; kAnyAddress: every transaction is its
    int result = kAllGood;
    int line_no = 0;
    int transactions = 0;  // begun so far
    int controller_transactions = 0;
    bool open = false;  // `current` has begun and is not decoded yet
    bool overlong = false;
    Transaction current;

    void Worse(int rc) {
        if (rc > result) result = rc;
    }
    void DecodeCurrent(std::string* out, std::string* err) {
        if (!open) return;
        const bool controller =
            address == kAnyAddress || current.address == static_cast<unsigned>(address);
        if (controller) ++controller_transactions;
        Worse(Decode(current, transactions, controller, out, err));
        open = false;
    }
};

SigrokStream::SigrokStream(int controller_address) : state_(std::make_unique<SigrokState>()) {
    state_->address = controller_address;
}
SigrokStream::~SigrokStream() = default;

void SigrokStream::Line(const std::string& raw, std::string* out, std::string* err) {
    SigrokState& s = *state_;
    ++s.line_no;
    std::string line = raw;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.empty()) return;

    // "<decoder>: <annotation>" or "<decoder>: <annotation>: <value>"
    std::string problem;
    size_t colon = line.find(": ");
    std::string what, value;
    if (colon == std::string::npos || colon == 0 || line.find(' ') < colon) {
        problem = "not a sigrok annotation";
    } else {
        what = line.substr(colon + 2);
        size_t vcolon = what.find(": ");
        if (vcolon != std::string::npos) {
            value = what.substr(vcolon + 2);
            what.erase(vcolon);
        }
    }
    unsigned v = 0;
    if (!problem.empty()) {
    } else if (what == "Address write" || what == "Address read") {
        if (!ParseHexValue(value, 3, &v)) {
            problem = "an address needs a hex value";
        } else {
            // The transaction before this one is complete.
            s.DecodeCurrent(out, err);
            s.current = Transaction{};
            s.current.line = s.line_no;
            s.current.write = what == "Address write";
            s.current.address = v;
            s.open = true;
            s.overlong = false;
            ++s.transactions;
        }
    } else if (what == "Data write" || what == "Data read") {
        bool write = what == "Data write";
        if (!ParseHexValue(value, 2, &v)) {
            problem = "a data byte needs a hex value";
        } else if (s.transactions == 0) {
            problem = "data before any address";
        } else if (!s.open) {
            problem = "data after a stop, before the next address";
        } else if (s.current.write != write) {
            problem = write ? "data write inside a read" : "data read inside a write";
        } else if (s.current.bytes.size() >= kMaxTransactionBytes) {
            if (!s.overlong)
                problem = "a transaction of more than 65536 bytes; the rest is dropped";
            s.overlong = true;
        } else {
            s.current.bytes.push_back(static_cast<uint8_t>(v));
        }
    } else if (what == "Stop" && value.empty()) {
        // The transaction is over: a live capture shows it now, not when
        // the next one begins.
        s.DecodeCurrent(out, err);
    } else if ((what == "Start" || what == "Start repeat" || what == "ACK" || what == "NACK" ||
                what == "Read" || what == "Write" || what == "0" || what == "1") &&
               value.empty()) {
        // Bus conditions and single bits (sigrok prints them without -A):
        // the address and data annotations carry everything needed.
    } else {
        problem = "not an I2C address or data annotation";
    }
    if (!problem.empty()) {
        std::string shown = line.size() > 80 ? line.substr(0, 80) + "..." : line;
        *err += "qxdecode: line " + std::to_string(s.line_no) + ": " + problem + ": " +
                qxtools::Escaped(shown) + "\n";
        s.Worse(kBadInput);
    }
}

int SigrokStream::Finish(std::string* out, std::string* err) {
    SigrokState& s = *state_;
    s.DecodeCurrent(out, err);
    if (s.transactions == 0) {
        *err += "qxdecode: no I2C transactions to decode\n";
        return kBadInput;
    }
    if (s.controller_transactions == 0) {
        char line[120];
        snprintf(line, sizeof line,
                 "qxdecode: none of the %d I2C transactions is with address %02X\n", s.transactions,
                 static_cast<unsigned>(s.address));
        *err += line;
        return kBadInput;
    }
    return s.result;
}

int DecodeSigrok(const std::string& text, std::string* out, std::string* err,
                 int controller_address) {
    SigrokStream stream(controller_address);
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        stream.Line(text.substr(pos, end - pos), out, err);
        pos = end + 1;
    }
    return stream.Finish(out, err);
}

}  // namespace qxdecode
