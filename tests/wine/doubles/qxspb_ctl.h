// The control interface of our "\\.\QXSPB" test double, shared by the
// kernel-mode double and the Windows test programs that drive it. A test
// opens "\\.\QXSPBCTL" beside the data device to choose how the double
// behaves and to fetch what it received.
#pragma once

#include <stddef.h>
#include <stdint.h>

// CTL_CODE(0x8473, function, METHOD_BUFFERED, FILE_ANY_ACCESS), spelled out
// so that user and kernel mode need no common header for the macro.
#define QXCTL_CODE(fn) ((0x8473u << 16) | ((fn) << 2))
#define QXCTL_SET_MODE QXCTL_CODE(0x900)  // in: QxDoubleMode
#define QXCTL_GET_LOG QXCTL_CODE(0x901)   // out: QxDoubleLog
#define QXCTL_RESET QXCTL_CODE(0x902)     // clears the log but the handle count, keeps the mode

// What the double does with a transfer.
enum : uint32_t {
    kQxComplete = 0,  // complete at once (the default)
    kQxPending = 1,   // leave pending until cancelled
    kQxFail = 2,      // fail at once (STATUS_IO_DEVICE_ERROR)
};

struct QxDoubleMode {
    uint32_t write_mode;
    uint32_t read_mode;
    uint32_t refuse_open;  // nonzero: IOCTL_QXSPB_OPEN fails with STATUS_NOT_FOUND
    uint8_t version[3];    // d0 d1 d2 of the ControllerVersion reply
    uint8_t wrong_echo;    // nonzero: the echo's last byte is flipped
};
static_assert(sizeof(QxDoubleMode) == 16, "mode record");

constexpr uint32_t kQxTraceBytes = 2048;

struct QxDoubleLog {
    uint32_t opens;           // IOCTL_QXSPB_OPEN requests, refused ones included
    uint32_t writes;          // write requests seen, whatever the mode
    uint32_t reads;           // read requests seen
    uint32_t cancelled;       // requests completed by the cancel routine
    uint32_t frames_ok;       // writes that decoded as a frame with a good checksum
    uint32_t frames_bad;      // writes ending in 0x7E that did not decode
    uint32_t config_writes;   // ConfigWrite records acted on
    uint32_t version_reads;   // ReadRequests for the version
    uint32_t echo_reads;      // ReadRequests for the echo
    uint32_t switch_tables;   // MSwitchTable records acted on
    uint32_t link_reports;    // LinkReport records seen
    uint8_t settings[6];      // settings bytes of the last ConfigWrite
    uint8_t access_code[4];   // access code of the last ConfigWrite
    uint8_t switch_table[8];  // data of the last MSwitchTable
    uint8_t pad[2];
    int32_t handles;     // data-device handles open now (creates minus closes)
    uint32_t trace_len;  // bytes used in trace
    // Every completed write in arrival order as a length byte and the bytes.
    uint8_t trace[kQxTraceBytes];
};
static_assert(offsetof(QxDoubleLog, settings) == 44, "log layout");
static_assert(offsetof(QxDoubleLog, trace_len) == 68, "log layout");
static_assert(sizeof(QxDoubleLog) == 72 + kQxTraceBytes, "log layout");
