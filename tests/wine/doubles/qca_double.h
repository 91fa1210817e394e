// Kernel-mode half of our Qualcomm Atheros control-device double: the PPDU
// log behind "\\.\ATH_WIFIDEV.00" (control code 0x220207, METHOD_NEITHER,
// a 16-byte command in, 132 bytes out) and its test control device. Included
// by the WDM double, which creates the two devices, dispatches their control
// requests to QcaLogIoctl and QcaCtlIoctl and reports the log device's
// creates and closes to QcaHandles.
#pragma once

#include "tests/wine/doubles/ctl_records.h"
#include "tests/wine/doubles/notebook_ids.h"
#include "tests/wine/doubles/qca_ctl.h"

namespace qcadouble {

constexpr ULONG kPpduLogCode = 0x220207;

struct State {
    KSPIN_LOCK lock;
    uint8_t record[kQcaRecordSize];
    QcaDoubleFail fail;
    QcaDoubleLog log;
};

inline State g_qca;

inline NTSTATUS Finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

inline bool SameText(const char* a, const char* b, ULONG room) {
    for (ULONG i = 0; i < room; ++i) {
        if (a[i] != b[i]) return false;
        if (a[i] == 0) return true;
    }
    return true;
}

// A VHT PPDU of the notebook's access point: 80 MHz, one stream, MCS 9,
// short GI; chains -52 and -58 dBm, averages -53 and -57, chains 2 and 3 silent.
inline void DefaultRecord(uint8_t* r) {
    RtlZeroMemory(r, kQcaRecordSize);
    const uint8_t peer[6] = {QX_NOTEBOOK_BSSID_BYTES};
    const uint8_t own[6] = {QX_NOTEBOOK_MAC_BYTES};
    r[4] = 1;
    r[8] = 43;  // chain 0
    r[7] = 37;  // chain 1
    r[14] = 12;
    r[15] = 0x02;  // VHT-SIG-A1: 80 MHz, one stream
    r[19] = 0x91;  // VHT-SIG-A2: short GI, MCS 9
    r[24] = 42;
    r[23] = 38;
    RtlCopyMemory(r + 27, peer, 6);
    RtlCopyMemory(r + 33, own, 6);
}

inline void Init() {
    KeInitializeSpinLock(&g_qca.lock);
    RtlZeroMemory(&g_qca.fail, sizeof g_qca.fail);
    RtlZeroMemory(&g_qca.log, sizeof g_qca.log);
    DefaultRecord(g_qca.record);
}

inline void QcaHandles(int32_t delta) {
    KIRQL irql;
    KeAcquireSpinLock(&g_qca.lock, &irql);
    g_qca.log.handles += static_cast<uint32_t>(delta);
    KeReleaseSpinLock(&g_qca.lock, irql);
}

inline NTSTATUS QcaLogIoctl(PIRP irp, PIO_STACK_LOCATION sp) {
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in_len = sp->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out_len = sp->Parameters.DeviceIoControl.OutputBufferLength;
    if (code != kPpduLogCode) return Finish(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    // METHOD_NEITHER: the caller's buffers, as they are.
    const char* in = static_cast<const char*>(sp->Parameters.DeviceIoControl.Type3InputBuffer);
    uint8_t* out = static_cast<uint8_t*>(irp->UserBuffer);
    char command[17] = {};
    if (in != nullptr && in_len == 16) RtlCopyMemory(command, in, 16);

    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR info = 0;
    KIRQL irql;
    KeAcquireSpinLock(&g_qca.lock, &irql);
    uint32_t* counter = nullptr;
    if (SameText(command, "ppdulog_start", 16))
        counter = &g_qca.log.starts;
    else if (SameText(command, "ppdulog_stop", 16))
        counter = &g_qca.log.stops;
    else if (SameText(command, "ppdulog_read", 16))
        counter = &g_qca.log.reads;
    if (counter == nullptr || in_len != 16) {
        ++g_qca.log.bad;
        status = STATUS_INVALID_PARAMETER;
    } else {
        ++*counter;
        if (g_qca.fail.count > 0 &&
            (g_qca.fail.command[0] == 0 || SameText(command, g_qca.fail.command, 16))) {
            --g_qca.fail.count;
            status = STATUS_IO_DEVICE_ERROR;
        } else if (counter == &g_qca.log.starts) {
            g_qca.log.logging = 1;
        } else if (counter == &g_qca.log.stops) {
            g_qca.log.logging = 0;
        } else if (out == nullptr || out_len < kQcaRecordSize) {
            ++g_qca.log.bad;
            status = STATUS_BUFFER_TOO_SMALL;
        } else {
            RtlCopyMemory(out, g_qca.record, kQcaRecordSize);
            info = kQcaRecordSize;
        }
    }
    KeReleaseSpinLock(&g_qca.lock, irql);
    return Finish(irp, status, info);
}

inline NTSTATUS QcaCtlIoctl(PIRP irp, PIO_STACK_LOCATION sp) {
    const ULONG code = sp->Parameters.DeviceIoControl.IoControlCode;
    const ULONG in_len = sp->Parameters.DeviceIoControl.InputBufferLength;
    const ULONG out_len = sp->Parameters.DeviceIoControl.OutputBufferLength;
    void* buf = irp->AssociatedIrp.SystemBuffer;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG_PTR info = 0;
    KIRQL irql;
    KeAcquireSpinLock(&g_qca.lock, &irql);
    if (code == QCACTL_SET_RECORD) {
        status = TakeRecord(buf, in_len, g_qca.record, kQcaRecordSize);
    } else if (code == QCACTL_FAIL) {
        status = TakeRecord(buf, in_len, &g_qca.fail, sizeof(QcaDoubleFail));
    } else if (code == QCACTL_GET_LOG) {
        status = GiveRecord(buf, out_len, &g_qca.log, sizeof(QcaDoubleLog), &info);
    } else {
        status = STATUS_INVALID_DEVICE_REQUEST;
    }
    KeReleaseSpinLock(&g_qca.lock, irql);
    return Finish(irp, status, info);
}

}  // namespace qcadouble
