// Freestanding: see responder.h. No library calls, so copies are plain loops.
#include "protocol/responder.h"

namespace qxproto {

namespace {

void Zero(void* p, size_t n) {
    uint8_t* b = static_cast<uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) b[i] = 0;
}

void Copy(uint8_t* to, const uint8_t* from, size_t n) {
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
}

// A limited fault (count > 0) is used up one transfer or echo at a time; -1
// lasts until changed.
bool UseFault(int32_t* count) {
    if (*count == 0) return false;
    if (*count > 0) --*count;
    return true;
}

Outcome NextOutcome(Outcome* outcome, int32_t* count) {
    if (*outcome == Outcome::Complete || !UseFault(count)) return Outcome::Complete;
    Outcome o = *outcome;
    if (*count == 0) *outcome = Outcome::Complete;
    return o;
}

}  // namespace

void Responder::Reset() {
    Zero(&log, sizeof log);
    ClearFaults();
    reply_len = 0;
    reply_ready_ms = 0;
}

void Responder::ClearFaults() {
    Zero(&settings, sizeof settings);
    // Firmware 1.3.7 unless a test says otherwise (d0 d1 d2 on the wire).
    settings.version[0] = 7;
    settings.version[1] = 3;
    settings.version[2] = 1;
}

Outcome Responder::NextWriteOutcome() {
    return NextOutcome(&settings.write_outcome, &settings.write_count);
}

Outcome Responder::NextReadOutcome() {
    return NextOutcome(&settings.read_outcome, &settings.read_count);
}

void Responder::Write(const uint8_t* bytes, size_t count, int64_t now_ms, const RecordSink* sink) {
    // No bytes, no transaction for the firmware to see (the framework
    // completes a zero-length write without touching the bus).
    if (count == 0) return;
    if (count == 1 && bytes[0] == kWakeByte) {
        ++log.wake_bytes;
        return;
    }
    // The receiver restarts with every transaction: one write is one frame,
    // and nothing of it counts unless all of it decodes.
    int status = DecodeExactFrame(bytes, count, &frame);
    if (status != kDecodeOk) {
        ++log.frames_bad;
        log.last_reject = status;
        return;
    }
    ++log.frames_ok;
    for (uint16_t i = 0; i < frame.record_count; ++i) {
        const Record& r = frame.records[i];
        if (r.read_request) {
            Answer(r, now_ms);
        } else {
            Take(frame.RecordBytes(i), r, sink);
        }
    }
}

void Responder::Take(const uint8_t* record, const Record& r, const RecordSink* sink) {
    const uint8_t* data = record + kRecordHeaderLen;
    bool taken = false;
    switch (r.type) {
        case kTypeConfigWrite: {
            if (r.length != kConfigWriteLen) break;
            bool code_ok = true;
            for (int i = 0; i < kAccessCodeLen; ++i) code_ok &= data[i] == kConfigAccessCode[i];
            if (!code_ok) break;
            Copy(log.access_code, data, kAccessCodeLen);
            Copy(log.settings, data + kAccessCodeLen, kSettingsLen);
            log.has_settings = 1;
            ++log.config_writes;
            taken = true;
            break;
        }
        case kTypeMSwitchTable:
            if (r.length != kMSwitchTableLen) break;
            Copy(log.switch_table, data, kMSwitchTableLen);
            ++log.switch_tables;
            taken = true;
            break;
        case kTypeLinkReport:
            if (LinkReportEntries(record, r.size) < 0) break;
            ++log.link_reports;
            taken = true;
            break;
        default:
            break;
    }
    if (!taken) {
        ++log.ignored_records;
        return;
    }
    if (sink != nullptr && sink->taken != nullptr) sink->taken(sink->context, record, r.size);
}

void Responder::Answer(const Record& r, int64_t now_ms) {
    if (settings.silent) return;
    if (r.type == kTypeConfigEcho && r.length == kConfigEchoLen) {
        // The echo is the controller's copy of the last configuration it took:
        // before the first one there is nothing to echo.
        if (!log.has_settings) {
            ++log.ignored_records;
            return;
        }
        reply[0] = kConfigEchoLen;
        reply[1] = kTypeConfigEcho;
        Copy(reply + kRecordHeaderLen, log.settings, kSettingsLen);
        // One bit of the last byte: the smallest difference an echo check must catch.
        if (UseFault(&settings.wrong_echo)) reply[kRecordHeaderLen + kSettingsLen - 1] ^= 0x01;
        reply_len = kRecordHeaderLen + kConfigEchoLen;
        ++log.echo_reads;
    } else if (r.type == kTypeControllerVersion && r.length == kVersionLen) {
        reply[0] = kVersionLen;
        reply[1] = kTypeControllerVersion;
        Copy(reply + kRecordHeaderLen, settings.version, kVersionLen);
        reply_len = kRecordHeaderLen + kVersionLen;
        ++log.version_reads;
    } else {
        ++log.ignored_records;  // nothing the firmware can answer
        return;
    }
    reply_ready_ms = now_ms + settings.reply_delay_ms;
}

void Responder::Read(uint8_t* buf, size_t count, int64_t now_ms) {
    size_t n = 0;
    // An answer not ready yet stays prepared for a later read.
    if (reply_len != 0 && now_ms >= reply_ready_ms) {
        n = reply_len < count ? reply_len : count;
        Copy(buf, reply, n);
        reply_len = 0;
    }
    Zero(buf + n, count - n);
}

}  // namespace qxproto
