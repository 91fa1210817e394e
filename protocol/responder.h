// The antenna controller's firmware as every model of it plays it: what it
// accepts, what it answers and when, and how it misbehaves when told to.
//
// One bus write transaction is one frame. The responder decodes the whole
// frame before it acts on any record, so a frame with a bad checksum, escape
// or record changes nothing. It takes a ConfigWrite only with the firmware's
// access code, a switch table only with its eight bytes, a link report only
// when its length agrees with its entry count; a ReadRequest for the version
// or (once a configuration was taken) for the echo prepares the bare record
// that the next bus read clocks out. A read with nothing prepared clocks out
// zeros.
//
// The virtual notebook's controller model, the host driver tests behind the
// simulated SPB controller and the kernel-mode double under Wine all hold one
// of these, so both test suites talk to the same controller. Freestanding like
// wire.h: a plain record without constructors, usable as a zero-filled global
// in a driver (call Reset before use).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "protocol/wire.h"

namespace qxproto {

// How the bus ends a transfer with the controller.
enum class Outcome : uint32_t {
    Complete = 0,  // completes
    Pending = 1,   // the controller holds the bus: pending until the issuer cancels it
    FailNow = 2,   // not acknowledged: fails at once
};

// The controller's settings, fault modes included. A plain record: the WDM
// double receives it whole from a test through its control device.
//   silent       - takes frames but answers no ReadRequest; reads clock out zeros
//   wrong_echo   - the echo's last byte comes back with its lowest bit flipped
//   hang         - read_outcome Pending: reads stay pending until cancelled
//   stuck writes - write_outcome Pending (or FailNow: not acknowledged)
// Counts: how many of the next echoes or transfers are affected; -1 all, 0 none.
struct ResponderSettings {
    uint8_t version[kVersionLen];  // d0 d1 d2 as sent; the revision reads d2.d1.d0
    uint8_t silent;
    int32_t wrong_echo;
    uint32_t reply_delay_ms;  // an answer is readable only this long after the frame that asked
    Outcome write_outcome;
    int32_t write_count;
    Outcome read_outcome;
    int32_t read_count;
};
static_assert(sizeof(ResponderSettings) == 28, "settings record crosses to the WDM double");

// What the controller received and did; counters only grow until Reset.
struct ResponderLog {
    uint32_t wake_bytes;       // writes of the lone wake byte
    uint32_t frames_ok;        // writes that decoded as exactly one good frame
    uint32_t frames_bad;       // other writes: not decodable, bad checksum, trailing bytes
    int32_t last_reject;       // DecodeStatus of the last bad frame (0: none yet)
    uint32_t config_writes;    // ConfigWrite records taken
    uint32_t echo_reads;       // ReadRequests for the echo that were answered
    uint32_t version_reads;    // ReadRequests for the version that were answered
    uint32_t switch_tables;    // MSwitchTable records taken
    uint32_t link_reports;     // LinkReport records taken
    uint32_t ignored_records;  // records of good frames the firmware had no use for
    uint8_t has_settings;      // 1 once a ConfigWrite was taken
    uint8_t access_code[kAccessCodeLen];     // of the last ConfigWrite taken
    uint8_t settings[kSettingsLen];          // settings bytes of the last ConfigWrite taken
    uint8_t switch_table[kMSwitchTableLen];  // data of the last MSwitchTable taken
    uint8_t pad[1];
};
static_assert(sizeof(ResponderLog) == 60, "log record crosses to the WDM double");

// Called for every record the firmware takes (not for ReadRequests), with the
// unescaped record, header included; the pointer is valid during the call.
struct RecordSink {
    void (*taken)(void* context, const uint8_t* record, uint16_t size);
    void* context;
};

struct Responder {
    ResponderSettings settings;
    ResponderLog log;
    uint8_t reply[kRecordHeaderLen + 255];
    uint16_t reply_len;  // 0: nothing prepared
    int64_t reply_ready_ms;
    Frame frame;  // decoding scratch, kept off the (kernel) stack

    // Power on: firmware 1.3.7, no faults, nothing received, nothing prepared.
    void Reset();
    // Back to the power-on settings; what was received stays.
    void ClearFaults();

    // The outcome of the next bus write or read; a limited fault is used up
    // by one transfer.
    Outcome NextWriteOutcome();
    Outcome NextReadOutcome();

    // A write transaction that completed on the bus, at now_ms (any clock in
    // milliseconds, only differences count).
    void Write(const uint8_t* bytes, size_t count, int64_t now_ms,
               const RecordSink* sink = nullptr);
    // A read transaction that completed on the bus: the prepared answer once it
    // is ready (used up by this read), zeros behind it and when there is none.
    void Read(uint8_t* buf, size_t count, int64_t now_ms);
    // Whatever answer was prepared is lost (the device went away).
    void DropReply() { reply_len = 0; }

  private:
    void Take(const uint8_t* record, const Record& r, const RecordSink* sink);
    void Answer(const Record& r, int64_t now_ms);
};

}  // namespace qxproto
