// Prints the kernel structures the driver and its loader stub touch, as
// MinGW's own kernel headers lay them out: an account of their layout that
// owes nothing to ours (MinGW build only).
// A clash between the kernel header and the intrinsics header of MinGW.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ntddk.h>

#include "abi_print.h"

int main() {
    QX_SIZE(DRIVER_OBJECT);
    QX_OFFSET(DRIVER_OBJECT, DriverUnload);
    QX_SIZE(KEVENT);
    QX_SIZE(UNICODE_STRING);
    QX_OFFSET(UNICODE_STRING, Buffer);
    QX_SIZE(IO_STATUS_BLOCK);
    QX_OFFSET(IO_STATUS_BLOCK, Information);
    QX_SIZE(LARGE_INTEGER);
    QX_SIZE(CM_PARTIAL_RESOURCE_DESCRIPTOR);
    QX_OFFSET(CM_PARTIAL_RESOURCE_DESCRIPTOR, u);
    QX_OFFSET(CM_PARTIAL_RESOURCE_DESCRIPTOR, u.Interrupt.Vector);
    QX_OFFSET(CM_PARTIAL_RESOURCE_DESCRIPTOR, u.Interrupt.Affinity);
    return 0;
}
