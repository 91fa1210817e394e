// The control interface of our Qualcomm Atheros control-device double,
// shared by the kernel-mode double and the Windows test programs. Beside
// "\\.\ATH_WIFIDEV.00" (the PPDU log the daemon reads) the double offers
// "\\.\ATHWIFICTL", through which a test sets the logged record, makes log
// commands fail and reads back what the daemon asked for.
#pragma once

#include <stddef.h>
#include <stdint.h>

// CTL_CODE(0x8474, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
#define QCACTL_CODE(fn) ((0x8474u << 16) | ((fn) << 2))
#define QCACTL_SET_RECORD QCACTL_CODE(0x900)  // in: 132 bytes, the record "ppdulog_read" returns
#define QCACTL_FAIL QCACTL_CODE(0x901)        // in: QcaDoubleFail
#define QCACTL_GET_LOG QCACTL_CODE(0x902)     // out: QcaDoubleLog

constexpr uint32_t kQcaRecordSize = 132;

struct QcaDoubleFail {
    char command[16];  // "" = any command
    uint32_t count;    // the next count matching commands fail
};
static_assert(sizeof(QcaDoubleFail) == 20, "fail record");

struct QcaDoubleLog {
    uint32_t starts;  // "ppdulog_start" requests, failed ones included
    uint32_t stops;
    uint32_t reads;
    uint32_t bad;      // requests with a wrong size or an unknown command
    uint32_t logging;  // 1 while the log runs
    uint32_t handles;  // handles open on "\\.\ATH_WIFIDEV.00" now
};
static_assert(sizeof(QcaDoubleLog) == 24, "log record");
