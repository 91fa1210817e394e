// The antenna controller as our kernel-mode double plays it: the protocol
// library's one responder, the same controller the virtual notebook's model
// holds, behind a device that counts requests and keeps a trace of every
// completed write. No library calls and no global constructors, so it builds
// into the driver as it is.
#pragma once

#include "protocol/responder.h"
#include "tests/wine/doubles/qxspb_ctl.h"

namespace qxdouble {

struct Controller {
    uint32_t refuse_open;
    uint32_t cancel_delay_ms;
    qxproto::Responder firmware;
    QxDoubleLog log;  // log.controller is filled from firmware.log on demand

    // At load: the firmware powered on, nothing seen.
    void PowerOn() {
        refuse_open = 0;
        cancel_delay_ms = 0;
        firmware.Reset();
        ClearLog();
    }

    // Clears what was seen, handle count and mode excepted.
    void ClearLog() {
        const int32_t handles = log.handles;
        uint8_t* p = reinterpret_cast<uint8_t*>(&log);
        for (uint32_t i = 0; i < sizeof(log); ++i) p[i] = 0;
        log.handles = handles;
        const qxproto::ResponderSettings settings = firmware.settings;
        firmware.Reset();
        firmware.settings = settings;
    }

    void SetMode(const QxDoubleMode& mode) {
        refuse_open = mode.refuse_open;
        cancel_delay_ms = mode.cancel_delay_ms;
        firmware.settings = mode.controller;
    }

    const QxDoubleLog& Log() {
        log.controller = firmware.log;
        return log;
    }

    void Trace(const uint8_t* p, uint32_t n) {
        if (n > 255 || log.trace_len + 1 + n > kQxTraceBytes) return;
        log.trace[log.trace_len++] = static_cast<uint8_t>(n);
        for (uint32_t i = 0; i < n; ++i) log.trace[log.trace_len++] = p[i];
    }

    void OnWrite(const uint8_t* p, uint32_t n, int64_t now_ms) {
        Trace(p, n);
        firmware.Write(p, n, now_ms);
    }

    void OnRead(uint8_t* p, uint32_t n, int64_t now_ms) { firmware.Read(p, n, now_ms); }
};

}  // namespace qxdouble
