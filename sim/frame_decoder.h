/* Receiver side of the controller's framing, as the controller firmware
 * applies it. Everything before the raw EndFlag is split into records at each
 * raw RecordSeparator; the byte (or escape pair) after the last separator is
 * the checksum, computed over the wire bytes before it; an escape pair
 * 0x81 b stands for b XOR 0x20.
 *
 * Freestanding on purpose: plain C that also compiles as C++, no library
 * beyond <stdint.h>/<stddef.h>, no allocation, so that the same decoder runs
 * inside a kernel-mode test driver, the controller model and qxdecode. */
#ifndef QX_SIM_FRAME_DECODER_H
#define QX_SIM_FRAME_DECODER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define QXD_MAX_BYTES 512  /* unescaped record bytes of one frame */
#define QXD_MAX_RECORDS 32

enum {
    QXD_OK = 0,
    QXD_NO_END_FLAG = -1,     /* ran out of bytes before a raw 0x7E */
    QXD_NO_SEPARATOR = -2,    /* no raw 0x7D: no record, no checksum position */
    QXD_BAD_ESCAPE = -3,      /* 0x81 not followed by 5E, 5D or A1 */
    QXD_BAD_CHECKSUM = -4,    /* checksum does not match the wire bytes */
    QXD_BAD_CHECKSUM_FIELD = -5, /* not exactly one byte or one pair after the last separator */
    QXD_BAD_RECORD = -6,      /* shorter than two bytes, or length byte disagrees */
    QXD_TOO_LONG = -7         /* more than QXD_MAX_BYTES or QXD_MAX_RECORDS */
};

typedef struct QxdRecord {
    uint16_t offset;      /* of the length byte in QxdFrame.bytes */
    uint16_t size;        /* unescaped bytes of the record, header included */
    uint8_t length;       /* the length byte */
    uint8_t type;         /* the type byte */
    uint8_t read_request; /* 1: a two-byte ReadRequest asking for record (length, type) */
} QxdRecord;

typedef struct QxdFrame {
    size_t wire_length;    /* bytes of the frame on the wire, EndFlag included */
    uint8_t checksum;      /* as received (unescaped) */
    uint8_t computed;      /* over the wire bytes before it */
    uint16_t record_count;
    QxdRecord records[QXD_MAX_RECORDS];
    uint8_t bytes[QXD_MAX_BYTES];
} QxdFrame;

/* CRC-8 of the wire: polynomial 0x9B reflected (0xD9), init 0, no final XOR. */
uint8_t QxdChecksum(const uint8_t* bytes, size_t count);

/* Length of the first frame in wire[0, count), EndFlag included; 0 when the
 * bytes hold no raw EndFlag. */
size_t QxdFrameLength(const uint8_t* wire, size_t count);

/* Decodes the first frame of wire[0, count). On QXD_OK every field of *frame
 * is set. On QXD_BAD_CHECKSUM the records are decoded too, with
 * frame->checksum and frame->computed telling the difference, but a receiver
 * must not act on them. frame->wire_length is set whenever an EndFlag was found,
 * so that a caller can skip a bad frame and go on with the next one. */
int QxdDecodeFrame(const uint8_t* wire, size_t count, QxdFrame* frame);

/* Short English text for a status of QxdDecodeFrame. */
const char* QxdStatusText(int status);

#ifdef __cplusplus
}
#endif

#endif
