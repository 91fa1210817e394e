// The antenna controller as our kernel-mode double plays it: one write is one
// frame, decoded by the same freestanding decoder as the controller model of
// the virtual notebook; a ReadRequest prepares the bare record that the next
// read returns. No library calls and no global constructors, so it builds
// into the driver as it is.
#pragma once

#include "sim/frame_decoder.h"
#include "tests/wine/doubles/qxspb_ctl.h"

namespace qxdouble {

constexpr uint8_t kEndFlag = 0x7E;

struct Controller {
    QxDoubleMode mode;
    QxDoubleLog log;
    uint8_t reply[258];
    uint32_t reply_len;
    QxdFrame frame;  // scratch of Decode, kept off the kernel stack

    void Reset() {
        const int32_t handles = log.handles;
        uint8_t* p = reinterpret_cast<uint8_t*>(&log);
        for (uint32_t i = 0; i < sizeof(log); ++i) p[i] = 0;
        log.handles = handles;
        reply_len = 0;
    }

    void Trace(const uint8_t* p, uint32_t n) {
        if (n > 255 || log.trace_len + 1 + n > kQxTraceBytes) return;
        log.trace[log.trace_len++] = static_cast<uint8_t>(n);
        for (uint32_t i = 0; i < n; ++i) log.trace[log.trace_len++] = p[i];
    }

    void ActOn(const uint8_t* rec, uint32_t n) {
        if (n < 2) return;
        const uint8_t len = rec[0], type = rec[1];
        if (n == 2 && len != 0) {  // a ReadRequest: header only
            if (type == 3 && len == 6) {
                ++log.echo_reads;
                reply[0] = 6;
                reply[1] = 3;
                for (int i = 0; i < 6; ++i) reply[2 + i] = log.settings[i];
                if (mode.wrong_echo) reply[7] ^= 0xFF;
                reply_len = 8;
            } else if (type == 2 && len == 3) {
                ++log.version_reads;
                reply[0] = 3;
                reply[1] = 2;
                for (int i = 0; i < 3; ++i) reply[2 + i] = mode.version[i];
                reply_len = 5;
            }
            return;
        }
        if (n != 2u + len) return;
        if (type == 4 && len == 10) {
            ++log.config_writes;
            for (int i = 0; i < 4; ++i) log.access_code[i] = rec[2 + i];
            for (int i = 0; i < 6; ++i) log.settings[i] = rec[6 + i];
        } else if (type == 9 && len == 8) {
            ++log.switch_tables;
            for (int i = 0; i < 8; ++i) log.switch_table[i] = rec[2 + i];
        } else if (type == 7) {
            ++log.link_reports;
        }
    }

    // The whole frame is decoded before any record is acted on, so that a
    // frame with a bad checksum or escape changes nothing.
    bool Decode(const uint8_t* wire, uint32_t n) {
        if (QxdDecodeFrame(wire, n, &frame) != QXD_OK || frame.wire_length != n) return false;
        for (uint16_t r = 0; r < frame.record_count; ++r)
            ActOn(frame.bytes + frame.records[r].offset, frame.records[r].size);
        return true;
    }

    void OnWrite(const uint8_t* p, uint32_t n) {
        Trace(p, n);
        if (n == 0 || p[n - 1] != kEndFlag) return;  // the wake byte and other unframed bytes
        if (Decode(p, n))
            ++log.frames_ok;
        else
            ++log.frames_bad;
    }

    // A bus read: the prepared reply, then zeros; the reply is used up.
    void OnRead(uint8_t* p, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) p[i] = i < reply_len ? reply[i] : 0;
        reply_len = 0;
    }
};

}  // namespace qxdouble
