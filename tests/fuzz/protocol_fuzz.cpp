// The controller protocol: the frame decoder on any bytes, the daemon's frame
// builder against it (random well-formed frames, each then given one fault),
// and the one controller responder fed writes and reads in any order.
//
// Input: a selector byte, then the bytes of the mode.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "daemon/controller/frame_codec.h"
#include "protocol/responder.h"
#include "protocol/wire.h"

#include "tests/fuzz/fuzz_input.h"

namespace {

using qxfuzz::Check;
using qxfuzz::Reader;

// What a good decode promises about the frame it describes.
void CheckDecoded(const uint8_t* wire, size_t count, const qxproto::Frame& f) {
    Check(f.wire_length >= 1 && f.wire_length <= count, "wire length outside the input");
    Check(wire[f.wire_length - 1] == qxproto::kEndFlag, "a frame that does not end at its flag");
    Check(f.record_count >= 1 && f.record_count <= qxproto::kMaxRecords, "record count");
    for (uint16_t i = 0; i < f.record_count; ++i) {
        const qxproto::Record& r = f.records[i];
        Check(r.offset + r.size <= qxproto::kMaxFrameBytes, "a record outside the frame buffer");
        Check(r.size >= 2, "a record without its header");
        Check(r.read_request || r.size == r.length + 2u, "a length byte that disagrees");
    }
    Check(f.checksum == f.computed, "a good frame with a checksum mismatch");
    Check(qxproto::FrameLength(wire, count) == f.wire_length, "FrameLength disagrees");
}

// The responder's state that only a good frame may change.
struct Taken {
    qxproto::ResponderLog log;
    uint16_t reply_len;
};
Taken Snapshot(const qxproto::Responder& r) {
    return {r.log, r.reply_len};
}

void WriteToResponder(qxproto::Responder& responder, const uint8_t* bytes, size_t count,
                      int64_t now) {
    const Taken before = Snapshot(responder);
    auto frame = std::make_unique<qxproto::Frame>();
    const int exact =
        count == 0 ? qxproto::kDecodeOk : qxproto::DecodeExactFrame(bytes, count, frame.get());
    responder.Write(bytes, count, now);
    const qxproto::ResponderLog& after = responder.log;
    const uint32_t seen_before =
        before.log.wake_bytes + before.log.frames_ok + before.log.frames_bad;
    const uint32_t seen_after = after.wake_bytes + after.frames_ok + after.frames_bad;
    Check(seen_after == seen_before + (count != 0 ? 1 : 0), "a write counted other than once");
    const bool wake = count == 1 && bytes[0] == qxproto::kWakeByte;
    if (count != 0 && !wake && exact != qxproto::kDecodeOk) {
        // A bad frame changes nothing the firmware keeps.
        Check(after.frames_bad == before.log.frames_bad + 1, "a bad frame not counted bad");
        Check(after.last_reject == exact, "the reject is not the decoder's status");
        Check(after.config_writes == before.log.config_writes &&
                  after.switch_tables == before.log.switch_tables &&
                  after.link_reports == before.log.link_reports &&
                  after.has_settings == before.log.has_settings &&
                  std::memcmp(after.settings, before.log.settings, sizeof after.settings) == 0 &&
                  responder.reply_len == before.reply_len,
              "a bad frame changed the controller");
    }
}

void RandomBytes(Reader in) {
    std::vector<uint8_t> wire(in.p, in.p + in.n);  // a block of exactly the input
    auto frame = std::make_unique<qxproto::Frame>();
    if (qxproto::DecodeFrame(wire.data(), wire.size(), frame.get()) == qxproto::kDecodeOk)
        CheckDecoded(wire.data(), wire.size(), *frame);
    const int exact = qxproto::DecodeExactFrame(wire.data(), wire.size(), frame.get());
    if (exact == qxproto::kDecodeOk) {
        CheckDecoded(wire.data(), wire.size(), *frame);
        Check(frame->wire_length == wire.size(), "an exact frame shorter than the transfer");
    }
    Check(qxproto::DecodeStatusText(exact) != nullptr, "a status without a text");
    auto responder = std::make_unique<qxproto::Responder>();
    responder->Reset();
    WriteToResponder(*responder, wire.data(), wire.size(), 0);
}

// A frame of the daemon's builder decodes to its records; with one fault it
// either still decodes or the responder takes nothing from it.
void FrameWithOneFault(Reader in) {
    qx::FrameBuffer buf = {};
    uint8_t pos = 0;
    struct Sent {
        uint8_t type;
        std::vector<uint8_t> data;
    };
    std::vector<Sent> sent;
    const int records = 1 + in.Byte() % 4;
    for (int i = 0; i < records; ++i) {
        Sent s{in.Byte(), {}};
        const uint8_t len = in.Byte() % 24;
        for (uint8_t k = 0; k < len; ++k) s.data.push_back(in.Byte());
        const int32_t written = qx::PutRecord(buf, pos, s.type, s.data.data(), len);
        if (written < 0) break;
        if (qx::FinishRecord(buf, &pos, static_cast<uint8_t>(written)) != 0) break;
        sent.push_back(s);
    }
    if (sent.empty()) return;
    const int32_t length = qx::CloseFrame(buf, pos);
    if (length < 0) return;
    std::vector<uint8_t> wire(buf, buf + length);

    auto frame = std::make_unique<qxproto::Frame>();
    Check(qxproto::DecodeExactFrame(wire.data(), wire.size(), frame.get()) == qxproto::kDecodeOk,
          "the builder's frame does not decode");
    CheckDecoded(wire.data(), wire.size(), *frame);
    Check(frame->record_count == sent.size(), "records lost or gained");
    for (size_t i = 0; i < sent.size(); ++i) {
        const uint8_t* rec = frame->RecordBytes(static_cast<uint16_t>(i));
        const qxproto::Record& r = frame->records[i];
        if (r.read_request) continue;  // a two-byte record reads as a ReadRequest
        Check(r.type == sent[i].type && r.length == sent[i].data.size() &&
                  (sent[i].data.empty() ||
                   std::memcmp(rec + 2, sent[i].data.data(), sent[i].data.size()) == 0),
              "a record changed on its way");
    }

    // One fault: flip bits, drop, insert or cut.
    const uint8_t kind = in.Byte() % 4;
    const size_t at = in.Byte() % wire.size();
    const uint8_t value = in.Byte();
    if (kind == 0) {
        wire[at] ^= value != 0 ? value : 1;
    } else if (kind == 1) {
        wire.erase(wire.begin() + static_cast<long>(at));
    } else if (kind == 2) {
        wire.insert(wire.begin() + static_cast<long>(at), value);
    } else {
        wire.resize(at);
    }
    auto responder = std::make_unique<qxproto::Responder>();
    responder->Reset();
    WriteToResponder(*responder, wire.data(), wire.size(), 0);
}

// Writes, reads and faults in any order.
void ResponderSession(Reader in) {
    auto responder = std::make_unique<qxproto::Responder>();
    responder->Reset();
    int64_t now = 0;
    for (int op = 0; op < 32 && in.n > 0; ++op) {
        const uint8_t kind = in.Byte() % 5;
        now += in.Byte();
        if (kind == 0 || kind == 1) {
            std::vector<uint8_t> wire(in.Byte() % 48);
            for (auto& b : wire) b = in.Byte();
            WriteToResponder(*responder, wire.data(), wire.size(), now);
        } else if (kind == 2) {
            // A read of any length into a block of exactly that length.
            const size_t count = in.Byte() + (in.Byte() & 1 ? 256 : 0);
            const bool prepared = responder->reply_len != 0;
            std::vector<uint8_t> buf(count, 0xCC);
            responder->Read(buf.data(), buf.size(), now);
            if (!prepared) {
                for (uint8_t b : buf) Check(b == 0, "a read with nothing prepared is not zeros");
            }
        } else if (kind == 3) {
            responder->settings.silent = in.Byte() & 1;
            responder->settings.wrong_echo = static_cast<int8_t>(in.Byte());
            responder->settings.reply_delay_ms = in.Byte();
        } else {
            (void)responder->NextWriteOutcome();
            (void)responder->NextReadOutcome();
            if (in.Byte() & 1) responder->DropReply();
            if (in.Byte() & 1) responder->ClearFaults();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    Reader in{data + 1, size - 1};
    switch (data[0] % 3) {
        case 0:
            RandomBytes(in);
            break;
        case 1:
            FrameWithOneFault(in);
            break;
        default:
            ResponderSession(in);
            break;
    }
    return 0;
}
