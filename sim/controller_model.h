// The antenna controller's device on the virtual notebook: the driver's
// device "\\.\QXSPB" in front of the firmware (sim/firmware_model.h), with
// the bus time, the driver's open, its power state and the handles'
// generations. Whether the device is there follows the device node's
// verdict: the node is the device installation's (one node, one state:
// there, enabled, started), and disabling it cuts off every handle opened
// before, as removing the driver's device does. What went over the bus is
// the bus recorder's (sim/bus_recorder.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "sim/bus_recorder.h"
#include "sim/firmware_model.h"
#include "sim/vkernel.h"

namespace qxsim {

class ControllerModel {
  public:
    friend class Notebook;            // builds the one instance
    friend class DeviceInstallModel;  // tells of the node's disable

    // Back to a freshly powered notebook: node enabled, device present,
    // firmware with default answers (the firmware's Reset), no faults, empty
    // bus logs (the bus recorder's Reset). The node's presence belongs to the device installation,
    // which its own Reset (or the notebook's) brings back.
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
    // A transfer that completes only just as its caller's wait expires, so
    // that the cancel after the wait finds nothing left to cancel.
    bool NextTransferLate(bool write);
    uint32_t TransferTime();
    // A completed write: the firmware takes the bytes.
    void Write(const uint8_t* bytes, uint32_t count);
    // A completed read: fills buf with the prepared answer, zeros where there is none.
    void Read(uint8_t* buf, uint32_t count);

  private:
    ControllerModel() { ResetLocked(); }
    void ResetLocked();
    // The device node was disabled (by the device installation, outside its lock).
    void NodeDisabled(bool was_enabled);

    std::mutex m_;
    uint32_t transfer_time_;
    bool refuse_open_;
    bool device_present_;
    bool in_d0_ = true;
    VTime d0_back_at_ = 0;
    uint64_t d0_losses_ = 0;
    std::function<void(DeviceChange)> device_observer_;
    uint32_t cancel_delay_ms_;
    bool ignore_cancel_;
    int64_t generation_;
};

}  // namespace qxsim
