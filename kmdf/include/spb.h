// Host stand-in for the Simple Peripheral Bus client header: transfer lists
// and the SPB control codes, with the layouts and values of the platform.
#pragma once

#include <ntddk.h>

typedef enum SPB_TRANSFER_DIRECTION {
    SpbTransferDirectionNone,
    SpbTransferDirectionFromDevice,
    SpbTransferDirectionToDevice,
    SpbTransferDirectionMax
} SPB_TRANSFER_DIRECTION;

typedef enum SPB_TRANSFER_BUFFER_FORMAT {
    SpbTransferBufferFormatInvalid,
    SpbTransferBufferFormatSimple,
    SpbTransferBufferFormatList,
    SpbTransferBufferFormatMdl,
    SpbTransferBufferFormatSimpleNonPaged,
    SpbTransferBufferFormatMax
} SPB_TRANSFER_BUFFER_FORMAT;

typedef struct SPB_TRANSFER_BUFFER_LIST_ENTRY {
    PVOID Buffer;
    ULONG BufferCb;
} SPB_TRANSFER_BUFFER_LIST_ENTRY, *PSPB_TRANSFER_BUFFER_LIST_ENTRY;

typedef struct SPB_TRANSFER_BUFFER {
    SPB_TRANSFER_BUFFER_FORMAT Format;
    union {
        SPB_TRANSFER_BUFFER_LIST_ENTRY Simple;
        struct {
            PSPB_TRANSFER_BUFFER_LIST_ENTRY List;
            ULONG ListCe;
        } BufferList;
        PVOID Mdl;
    };
} SPB_TRANSFER_BUFFER, *PSPB_TRANSFER_BUFFER;

typedef struct SPB_TRANSFER_LIST_ENTRY {
    SPB_TRANSFER_DIRECTION Direction;
    ULONG DelayInUs;
    SPB_TRANSFER_BUFFER Buffer;
} SPB_TRANSFER_LIST_ENTRY, *PSPB_TRANSFER_LIST_ENTRY;

typedef struct SPB_TRANSFER_LIST {
    ULONG Size;
    ULONG Reserved;
    ULONG TransferCount;
    SPB_TRANSFER_LIST_ENTRY Transfers[1];
} SPB_TRANSFER_LIST, *PSPB_TRANSFER_LIST;

#define SPB_TRANSFER_LIST_AND_ENTRIES(NUMBER_OF_ENTRIES)               \
    struct {                                                           \
        SPB_TRANSFER_LIST List;                                        \
        SPB_TRANSFER_LIST_ENTRY ExtraTransfers[(NUMBER_OF_ENTRIES)-1]; \
    }

FORCEINLINE VOID SPB_TRANSFER_LIST_INIT(PSPB_TRANSFER_LIST TransferList, ULONG NumberOfTransfers) {
    TransferList->Size = sizeof(SPB_TRANSFER_LIST);
    TransferList->Reserved = 0;
    TransferList->TransferCount = NumberOfTransfers;
}

FORCEINLINE SPB_TRANSFER_LIST_ENTRY SPB_TRANSFER_LIST_ENTRY_INIT_SIMPLE(
    SPB_TRANSFER_DIRECTION Direction, ULONG DelayInUs, PVOID Buffer, ULONG BufferCb) {
    SPB_TRANSFER_LIST_ENTRY entry = {};
    entry.Direction = Direction;
    entry.DelayInUs = DelayInUs;
    entry.Buffer.Format = SpbTransferBufferFormatSimple;
    entry.Buffer.Simple.Buffer = Buffer;
    entry.Buffer.Simple.BufferCb = BufferCb;
    return entry;
}

#define FILE_DEVICE_SPB 0x00000004
#define IOCTL_SPB_LOCK_CONTROLLER 0x00041800
#define IOCTL_SPB_UNLOCK_CONTROLLER 0x00041804
#define IOCTL_SPB_EXECUTE_SEQUENCE 0x00041808
#define IOCTL_SPB_LOCK_CONNECTION 0x0004180C
#define IOCTL_SPB_UNLOCK_CONNECTION 0x00041810
#define IOCTL_SPB_FULL_DUPLEX 0x00041814
