// The antenna controller's device on the virtual notebook: the driver's
// device "\\.\QXSPB" in front of the firmware (sim/firmware_model.h), with
// the bus time, the driver's open, its power state and the handles'
// generations. Whether the device is there follows the device node's
// verdict: the node is the device installation's (one node, one state:
// there, enabled, started), and disabling it cuts off every handle opened
// before, as removing the driver's device does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/firmware_model.h"
#include "sim/vkernel.h"

namespace qxsim {

struct TransferSeen {
    VTime when;
    std::string thread;
    bool write;
    std::vector<uint8_t> bytes;  // written bytes, or the bytes a read delivered
};

class ControllerModel {
  public:
    friend class Notebook;            // builds the one instance
    friend class DeviceInstallModel;  // tells of the node's disable

    // Back to a freshly powered notebook: node enabled, device present,
    // firmware with default answers (the firmware's Reset), no faults, empty
    // logs. The node's presence belongs to the device installation, which its
    // own Reset (or the notebook's) brings back.
    void Reset();

    // ---- Knobs ----
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

    // ---- What went over the bus ----
    // The most recent transfers (at most kTransferLogSize) and how many there were.
    static constexpr size_t kTransferLogSize = 10000;
    std::vector<TransferSeen> Transfers();
    uint64_t TransferCount();
    // The first overlapping uses (at most kBusErrorLogSize) and how many there were.
    static constexpr size_t kBusErrorLogSize = 100;
    std::vector<std::string> BusErrors();
    uint64_t BusErrorCount();
    // Keep at most this many recent transfers (a soak keeps few, so that the
    // model's own memory is full within minutes); Reset goes back to the
    // size above.
    void SetLogLimit(size_t entries);

  private:
    ControllerModel() { ResetLocked(); }
    void ResetLocked();
    void LogTransfer(TransferSeen t);
    // The device node was disabled (by the device installation, outside its lock).
    void NodeDisabled(bool was_enabled);

    std::mutex m_;
    std::function<void(const uint8_t*, size_t)> observer_;
    BusObserver bus_observer_;
    void NotifyBus(BusActivity what, const uint8_t* bytes, size_t count);
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

    size_t transfer_limit_;
    std::deque<TransferSeen> transfers_;
    uint64_t transfer_count_;
    std::vector<std::string> bus_errors_;
    uint64_t bus_error_count_;
    int bus_users_;
    std::string bus_owner_;
};

}  // namespace qxsim
