// What went over the controller's bus on the virtual notebook: the recent
// transfers, the overlapping uses of the transport (two threads inside a
// transport call at once is an error the daemon must never make), and the
// observers qxsim draws the bus and the session from. The controller model
// reports each completed or failed transfer here; the transport's simulated
// half brackets each call with BusEnter and BusLeave.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/vkernel.h"

namespace qxsim {

struct TransferSeen {
    VTime when;
    std::string thread;
    bool write;
    std::vector<uint8_t> bytes;  // written bytes, or the bytes a read delivered
};

class BusRecorder {
  public:
    friend class Notebook;  // builds the one instance

    // Empty logs, nothing issued, nobody on the bus; the observers stay.
    void Reset();

    // ---- For the controller's device ----
    enum class BusActivity { Write, Read, WriteFailed, ReadFailed, NodeDisabled };
    // A completed write (the frame observer hears it first) or read (with the
    // bytes it delivered): logged on the calling thread at the current time.
    void Written(const uint8_t* bytes, uint32_t count);
    void ReadDone(const uint8_t* bytes, uint32_t count);
    // A transfer the device did not complete, or the node's disable.
    void Notify(BusActivity what);

    // ---- For the transport ----
    // Every read and write the daemon issued to the device, whatever became of it.
    void NoteTransferIssued();
    uint64_t TransfersIssued();
    // A transport call begins or ends on the calling thread. Two threads
    // inside at once is recorded as an error.
    void BusEnter(const char* operation);
    void BusLeave();

    // ---- Observers ----
    // Called with the bytes of every completed write as it arrives (qxsim
    // prints a line per frame); empty to stop.
    void SetFrameObserver(std::function<void(const uint8_t* bytes, size_t count)> observer);
    // Called with every completed write and read (with the bytes delivered),
    // every transfer the device did not complete, and every node disable:
    // qxsim draws the bus and the session from it. Empty to stop.
    using BusObserver = std::function<void(BusActivity what, const uint8_t* bytes, size_t count)>;
    void SetBusObserver(BusObserver observer);

    // ---- Logs ----
    // The most recent transfers (at most kTransferLogSize) and how many there were.
    static constexpr size_t kTransferLogSize = 10000;
    std::vector<TransferSeen> Transfers();
    uint64_t TransferCount();
    // The first overlapping uses (at most kBusErrorLogSize) and how many there were.
    static constexpr size_t kBusErrorLogSize = 100;
    std::vector<std::string> BusErrors();
    uint64_t BusErrorCount();
    // Keep at most this many recent transfers (a soak keeps few, so that the
    // model's own memory is full within minutes); Reset goes back to
    // kTransferLogSize.
    void SetLogLimit(size_t entries);

  private:
    BusRecorder() { ResetLocked(); }
    void ResetLocked();
    void LogTransfer(bool write, const uint8_t* bytes, uint32_t count);
    void NotifyBus(BusActivity what, const uint8_t* bytes, size_t count);

    std::mutex m_;
    std::function<void(const uint8_t*, size_t)> frame_observer_;
    BusObserver bus_observer_;
    uint64_t transfers_issued_;
    size_t transfer_limit_;
    std::deque<TransferSeen> transfers_;
    uint64_t transfer_count_;
    std::vector<std::string> bus_errors_;
    uint64_t bus_error_count_;
    int bus_users_;
    std::string bus_owner_;
};

}  // namespace qxsim
