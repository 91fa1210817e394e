/* Keep this file plain C (it also compiles as C++): see frame_decoder.h. */
#include "sim/frame_decoder.h"

#define QXD_SEPARATOR 0x7D
#define QXD_END_FLAG 0x7E
#define QXD_ESCAPE 0x81

uint8_t QxdChecksum(const uint8_t* bytes, size_t count) {
    uint8_t crc = 0;
    size_t i;
    int bit;
    /* Bitwise on purpose: the codec's table is the thing under test. */
    for (i = 0; i < count; ++i) {
        crc = (uint8_t)(crc ^ bytes[i]);
        for (bit = 0; bit < 8; ++bit) crc = (uint8_t)((crc & 1) ? ((crc >> 1) ^ 0xD9) : (crc >> 1));
    }
    return crc;
}

size_t QxdFrameLength(const uint8_t* wire, size_t count) {
    size_t i;
    for (i = 0; i < count; ++i) {
        if (wire[i] == QXD_END_FLAG) return i + 1;
    }
    return 0;
}

/* Unescapes wire[from, to) into out; returns the byte count or a negative status. */
static int Unescape(const uint8_t* wire, size_t from, size_t to, uint8_t* out, size_t room) {
    size_t n = 0;
    size_t i = from;
    while (i < to) {
        uint8_t b = wire[i];
        if (b == QXD_ESCAPE) {
            uint8_t e;
            if (i + 1 >= to) return QXD_BAD_ESCAPE;
            e = wire[i + 1];
            if (e != 0x5E && e != 0x5D && e != 0xA1) return QXD_BAD_ESCAPE;
            b = (uint8_t)(e ^ 0x20);
            i += 2;
        } else {
            i += 1;
        }
        if (n >= room) return QXD_TOO_LONG;
        out[n++] = b;
    }
    return (int)n;
}

int QxdDecodeFrame(const uint8_t* wire, size_t count, QxdFrame* frame) {
    size_t end;
    size_t last_sep = 0;
    int have_sep = 0;
    size_t i;
    size_t start;
    size_t used = 0;
    int n;
    uint8_t sum[2];

    frame->wire_length = 0;
    frame->record_count = 0;
    frame->checksum = 0;
    frame->computed = 0;

    end = QxdFrameLength(wire, count);
    if (end == 0) return QXD_NO_END_FLAG;
    frame->wire_length = end;
    end -= 1; /* index of the EndFlag */

    for (i = 0; i < end; ++i) {
        if (wire[i] == QXD_SEPARATOR) {
            last_sep = i;
            have_sep = 1;
        }
    }
    if (!have_sep) return QXD_NO_SEPARATOR;

    /* The checksum: one byte, or one escape pair, between the last separator and the flag. */
    n = Unescape(wire, last_sep + 1, end, sum, 2);
    if (n < 0) return n == QXD_TOO_LONG ? QXD_BAD_CHECKSUM_FIELD : n;
    if (n != 1) return QXD_BAD_CHECKSUM_FIELD;
    frame->checksum = sum[0];
    frame->computed = QxdChecksum(wire, last_sep + 1);

    start = 0;
    for (i = 0; i <= last_sep; ++i) {
        QxdRecord* r;
        if (wire[i] != QXD_SEPARATOR) continue;
        if (frame->record_count >= QXD_MAX_RECORDS) return QXD_TOO_LONG;
        n = Unescape(wire, start, i, frame->bytes + used, QXD_MAX_BYTES - used);
        if (n < 0) return n;
        r = &frame->records[frame->record_count];
        if (n < 2) return QXD_BAD_RECORD;
        r->offset = (uint16_t)used;
        r->size = (uint16_t)n;
        r->length = frame->bytes[used];
        r->type = frame->bytes[used + 1];
        /* Two bytes with a nonzero length byte ask for that record; otherwise
         * the length byte must count the data bytes. */
        r->read_request = (uint8_t)(n == 2 && r->length != 0);
        if (!r->read_request && r->length != n - 2) return QXD_BAD_RECORD;
        frame->record_count++;
        used += (size_t)n;
        start = i + 1;
    }
    if (frame->checksum != frame->computed) return QXD_BAD_CHECKSUM;
    return QXD_OK;
}

const char* QxdStatusText(int status) {
    switch (status) {
        case QXD_OK: return "ok";
        case QXD_NO_END_FLAG: return "frame without its end flag (7E)";
        case QXD_NO_SEPARATOR: return "frame without a record separator (7D)";
        case QXD_BAD_ESCAPE: return "bad escape (81 must be followed by 5E, 5D or A1)";
        case QXD_BAD_CHECKSUM: return "checksum mismatch";
        case QXD_BAD_CHECKSUM_FIELD: return "no single checksum byte between the last separator and the end flag";
        case QXD_BAD_RECORD: return "malformed record (length byte does not match its data)";
        case QXD_TOO_LONG: return "frame too long";
        default: return "unknown error";
    }
}
