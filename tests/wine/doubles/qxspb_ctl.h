// The control interface of our "\\.\QXSPB" test double, shared by the
// kernel-mode double and the Windows test programs that drive it. A test
// opens "\\.\QXSPBCTL" beside the data device to choose how the double
// behaves and to fetch what it received.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "protocol/responder.h"

// CTL_CODE(0x8473, function, METHOD_BUFFERED, FILE_ANY_ACCESS), spelled out
// so that user and kernel mode need no common header for the macro.
#define QXCTL_CODE(fn) ((0x8473u << 16) | ((fn) << 2))
#define QXCTL_SET_MODE QXCTL_CODE(0x900)  // in: QxDoubleMode
#define QXCTL_GET_LOG QXCTL_CODE(0x901)   // out: QxDoubleLog
#define QXCTL_RESET QXCTL_CODE(0x902)     // clears the log but the handle count, keeps the mode

// How the double completes a request its issuer cancelled: at once, this
// many milliseconds later (CancelIoEx only asks), or never (a slave holding
// SCL low) until the next mode that completes cancels again.
constexpr uint32_t kQxCancelNever = 0xFFFFFFFFu;

struct QxDoubleMode {
    uint32_t refuse_open;  // nonzero: IOCTL_QXSPB_OPEN fails with STATUS_NOT_FOUND
    // The controller behind the device: the one responder, fault modes and
    // how transfers end included (hang: reads pending; stuck writes: writes
    // pending; FailNow: not acknowledged, STATUS_IO_DEVICE_ERROR).
    qxproto::ResponderSettings controller;
    uint32_t cancel_delay_ms;  // 0: at once; kQxCancelNever: not at all
};
static_assert(sizeof(QxDoubleMode) == 36, "mode record");

constexpr uint32_t kQxTraceBytes = 2048;

struct QxDoubleLog {
    uint32_t opens;                    // IOCTL_QXSPB_OPEN requests, refused ones included
    uint32_t writes;                   // write requests seen, whatever the outcome
    uint32_t reads;                    // read requests seen
    uint32_t cancelled;                // cancelled requests completed (at once or later)
    int32_t handles;                   // data-device handles open now (creates minus closes)
    uint32_t trace_len;                // bytes used in trace
    qxproto::ResponderLog controller;  // what the controller took and answered
    // Every completed write in arrival order as a length byte and the bytes.
    uint8_t trace[kQxTraceBytes];
};
static_assert(offsetof(QxDoubleLog, controller) == 24, "log layout");
static_assert(sizeof(QxDoubleLog) == 24 + sizeof(qxproto::ResponderLog) + kQxTraceBytes,
              "log layout");
