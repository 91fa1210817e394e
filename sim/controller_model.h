// The antenna controller on the virtual notebook, with the driver's device and
// its device node in front of it.
//
// The firmware side is the protocol library's one controller responder
// (protocol/responder.h), the same that the kernel-mode double under Wine
// plays: it decodes every written frame, ignores frames it cannot decode,
// answers the echo request and the version query with bare records, and keeps
// what it was told; its fault modes are the knobs below, and it decides how a
// transfer through "\\.\QXSPB" ends: at once, failed at once, or pending until
// cancelled. The device side adds the bus time, the driver's open and the
// device node's verdict: the node is the device installation's (one node, one
// state: there, enabled, started), and disabling it cuts off every handle
// opened before, as removing the driver's device does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
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

struct TransferSeen {
    VTime when;
    std::string thread;
    bool write;
    std::vector<uint8_t> bytes;  // written bytes, or the bytes a read delivered
};

// How the device completes a transfer: Complete, FailNow or Pending (until
// cancelled). The controller decides it, so it is the responder's.
using TransferOutcome = qxproto::Outcome;

class ControllerModel {
  public:
    friend class Notebook;            // builds the one instance
    friend class DeviceInstallModel;  // tells of the node's disable

    // Back to a freshly powered notebook: node enabled, device present,
    // firmware with default answers, no faults, empty logs. The node's
    // presence belongs to the device installation, which its own Reset (or
    // the notebook's) brings back.
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
    // Completed transfers take this long on the bus (default 0).
    void SetTransferTime(uint32_t ms);
    // The driver refuses its open request.
    void SetRefuseOpen(bool refuse);
    // The device "\\.\QXSPB" exists (driver loaded); default true.
    void SetDevicePresent(bool present);
    // The driver completes a cancelled request this long after the cancel
    // (default 0: at once). CancelIoEx only asks; the request stays the
    // driver's until then.
    void SetCancelDelay(uint32_t ms);
    uint32_t CancelDelay();
    // A slave holding SCL low: while on, the bus completes no transfer,
    // cancelled or not; off again, held transfers end (as cancelled, once
    // cancelled) and new ones complete.
    void SetIgnoreCancel(bool ignore);
    bool IgnoresCancel();
    // The device leaves D0 for ms and comes back, without a broadcast
    // (hibernate, fast startup). As the driver's power-managed queue does,
    // a request that arrives meanwhile waits for D0 (or its cancel), and the
    // connection that was open is open again afterwards.
    void LoseD0For(uint32_t ms);
    bool InD0();
    VTime D0BackAt();
    // What the KMDF stack under qxsim --driver plays as well: the device's
    // D0 and a bus that stops completing transfers (SetIgnoreCancel).
    enum class DeviceChange { LeftD0, BackInD0, BusStuck, BusFree };
    void SetDeviceObserver(std::function<void(DeviceChange change)> observer);

    // ---- Device side, for the transport ----
    // Opens a handle; returns its generation (> 0), or 0 when the device is
    // absent, its node removed or disabled, or -1 when the open request is
    // refused.
    int64_t Open();
    bool HandleValid(int64_t generation);
    TransferOutcome NextWriteOutcome();
    TransferOutcome NextReadOutcome();
    // Every read and write the daemon issued to the device, whatever became of it.
    void NoteTransferIssued();
    uint64_t TransfersIssued();
    // A transfer that completes only just as its caller's wait expires, so
    // that the cancel after the wait finds nothing left to cancel.
    bool NextTransferLate(bool write);
    uint32_t TransferTime();
    // A completed write: the firmware takes the bytes.
    void Write(const uint8_t* bytes, uint32_t count);
    // Called with the bytes of every completed write as it arrives (qxsim
    // prints a line per frame); empty to stop.
    void SetFrameObserver(std::function<void(const uint8_t* bytes, size_t count)> observer);
    // Called with every completed write and read (with the bytes delivered),
    // every transfer the device did not complete, and every node disable:
    // qxsim draws the bus and the session from it. Empty to stop.
    enum class BusActivity { Write, Read, WriteFailed, ReadFailed, NodeDisabled };
    using BusObserver = std::function<void(BusActivity what, const uint8_t* bytes, size_t count)>;
    void SetBusObserver(BusObserver observer);
    // A completed read: fills buf with the prepared answer, zeros where there is none.
    void Read(uint8_t* buf, uint32_t count);
    // Bus activity: a transport call begins or ends on the calling thread.
    // Two threads inside at once is recorded as an error.
    void BusEnter(const char* operation);
    void BusLeave();

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
    // The most recent transfers (at most kTransferLogSize) and how many there were.
    static constexpr size_t kTransferLogSize = 10000;
    std::vector<TransferSeen> Transfers();
    uint64_t TransferCount();
    // The first overlapping uses (at most kBusErrorLogSize) and how many there were.
    static constexpr size_t kBusErrorLogSize = 100;
    std::vector<std::string> BusErrors();
    uint64_t BusErrorCount();
    // Keep at most this many recent reports and transfers (a soak keeps few,
    // so that the model's own memory is full within minutes); Reset goes
    // back to the sizes above.
    void SetLogLimit(size_t entries);

  private:
    ControllerModel() { ResetLocked(); }
    void ResetLocked();
    static void TakeRecord(void* self, const uint8_t* record, uint16_t size);
    void LogTransfer(TransferSeen t);
    // The device node was disabled (by the device installation, outside its lock).
    void NodeDisabled(bool was_enabled);

    std::mutex m_;
    std::function<void(const uint8_t*, size_t)> observer_;
    BusObserver bus_observer_;
    void NotifyBus(BusActivity what, const uint8_t* bytes, size_t count);
    qxproto::Responder firmware_;
    VTime write_time_;  // of the write being taken, for TakeRecord
    uint32_t transfer_time_;
    bool refuse_open_;
    bool device_present_;
    bool in_d0_ = true;
    VTime d0_back_at_ = 0;
    uint64_t d0_losses_ = 0;
    std::function<void(DeviceChange)> device_observer_;
    uint32_t cancel_delay_ms_;
    bool ignore_cancel_;
    uint64_t transfers_issued_;
    int64_t generation_;

    std::deque<LinkReportSeen> reports_;
    uint64_t report_count_;
    uint64_t new_bssid_count_;
    std::vector<LinkReportSeen> fresh_;  // taken during the write in progress
    std::function<void(const LinkReportSeen&)> report_observer_;
    size_t report_limit_;
    size_t transfer_limit_;
    std::deque<TransferSeen> transfers_;
    uint64_t transfer_count_;
    std::vector<std::string> bus_errors_;
    uint64_t bus_error_count_;
    int bus_users_;
    std::string bus_owner_;
};

}  // namespace qxsim
