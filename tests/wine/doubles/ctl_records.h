// How the doubles' control devices take a whole record from a test program
// and hand one back (METHOD_BUFFERED system buffer). Kernel mode, ntddk only.
#pragma once

// The input must be exactly one record.
inline NTSTATUS TakeRecord(const void* buf, ULONG in_len, void* record, ULONG size) {
    if (buf == nullptr || in_len != size) return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(record, buf, size);
    return STATUS_SUCCESS;
}

// The output must have room for the record; info receives its size.
inline NTSTATUS GiveRecord(void* buf, ULONG out_len, const void* record, ULONG size,
                           ULONG_PTR* info) {
    if (buf == nullptr || out_len < size) return STATUS_BUFFER_TOO_SMALL;
    RtlCopyMemory(buf, record, size);
    *info = size;
    return STATUS_SUCCESS;
}
