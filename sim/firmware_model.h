// The antenna controller's firmware on the virtual notebook: the protocol
// library's one controller responder (protocol/responder.h), the same that
// the kernel-mode double under Wine plays. It decodes every written frame,
// ignores frames it cannot decode, answers the echo request and the version
// query with bare records, and keeps what it was told; its fault modes are
// the knobs below, and it decides how a transfer through "\\.\QXSPB" ends: at
// once, failed at once, or pending until cancelled. The bus and the driver's
// device in front of it are the controller model's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "protocol/responder.h"
#include "sim/vkernel.h"

namespace qxsim {

struct LinkReportSeen {
    VTime arrival;
    uint8_t count;       // entry count
    uint32_t timestamp;  // low 32 bits of the milliseconds since 1970
    uint8_t flags;       // bit 7: new BSSID
    uint16_t traffic;
    uint8_t rssi0;
    uint8_t rssi1;
    std::vector<uint8_t> record;  // the whole decoded record
};

// How the device completes a transfer: Complete, FailNow or Pending (until
// cancelled). The controller decides it, so it is the responder's.
using TransferOutcome = qxproto::Outcome;

class FirmwareModel {
  public:
    friend class Notebook;  // builds the one instance

    // Default answers, no faults, nothing seen.
    void Reset();

    // ---- Knobs ----
    void SetFirmwareVersion(uint8_t major, uint8_t minor, uint8_t patch);
    // No answers at all: reads deliver zeros.
    void SetSilent(bool silent);
    // The next n echoes (-1: all) differ from the settings in the lowest bit
    // of their last byte.
    void SetWrongEcho(int n);
    // Answers become readable only this long after the frame that asked.
    void SetReplyDelay(uint32_t ms);
    // The next n writes / reads (-1: all) fail at once or stay pending until cancelled.
    void SetWriteOutcome(TransferOutcome outcome, int n = -1);
    void SetReadOutcome(TransferOutcome outcome, int n = -1);

    // ---- The bus side, for the controller's device ----
    TransferOutcome NextWriteOutcome();
    TransferOutcome NextReadOutcome();
    // A completed write: the firmware takes the bytes.
    void Write(const uint8_t* bytes, uint32_t count, VTime now);
    // A completed read: fills buf with the prepared answer, zeros where there is none.
    void Read(uint8_t* buf, uint32_t count, VTime now);
    // The driver's device went away: an answer not yet read is lost.
    void DropReply();

    // ---- What the firmware saw ----
    int WakeBytes();
    int SetupCount();        // configurations taken
    int RejectedFrames();    // writes that were neither the wake byte nor one good frame
    int LastRejectStatus();  // qxproto::DecodeStatus of the last of them
    int IgnoredRecords();    // records of good frames the firmware had no use for
    bool HasSettings();
    std::vector<uint8_t> AccessCode();   // of the last configuration
    std::vector<uint8_t> Settings();     // the six settings bytes
    std::vector<uint8_t> SwitchTable();  // the eight bytes of the last table
    int SwitchTables();
    // A day of steering brings hundreds of thousands of link reports: the
    // model keeps the most recent (at most kReportLogSize) and counts them all.
    static constexpr size_t kReportLogSize = 10000;
    std::vector<LinkReportSeen> LinkReports();
    uint64_t LinkReportCount();
    uint64_t NewBssidReportCount();
    // Called with every link report the firmware took, as it arrives, outside
    // the model's lock (a soak or a timeline follows all of them); empty to stop.
    void SetReportObserver(std::function<void(const LinkReportSeen&)> observer);
    // Keep at most this many recent reports (a soak keeps few, so that the
    // model's own memory is full within minutes); Reset goes back to
    // kReportLogSize.
    void SetLogLimit(size_t entries);

  private:
    FirmwareModel() { ResetLocked(); }
    void ResetLocked();
    static void TakeRecord(void* self, const uint8_t* record, uint16_t size);

    std::mutex m_;
    qxproto::Responder firmware_;
    VTime write_time_;  // of the write being taken, for TakeRecord
    std::deque<LinkReportSeen> reports_;
    uint64_t report_count_;
    uint64_t new_bssid_count_;
    std::vector<LinkReportSeen> fresh_;  // taken during the write in progress
    std::function<void(const LinkReportSeen&)> report_observer_;
    size_t report_limit_;
};

}  // namespace qxsim
