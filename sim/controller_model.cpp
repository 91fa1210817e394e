#include "sim/notebook.h"
#include "sim/controller_model.h"

#include "sim/bus_recorder.h"
#include "sim/device_install_model.h"
#include "sim/fault_plan.h"
#include "sim/firmware_model.h"

namespace qxsim {

void ControllerModel::Reset() {
    {
        std::lock_guard<std::mutex> lk(m_);
        ResetLocked();
    }
    // The firmware, the bus's logs and the node's Plug and Play side power
    // on with the device.
    Notebook::Current().Firmware().Reset();
    Notebook::Current().Bus().Reset();
    Notebook::Current().DeviceInstall().RestartController();
}

void ControllerModel::ResetLocked() {
    transfer_time_ = 0;
    refuse_open_ = false;
    device_present_ = true;
    in_d0_ = true;
    d0_back_at_ = 0;
    device_observer_ = nullptr;
    cancel_delay_ms_ = 0;
    ignore_cancel_ = false;
    generation_ = 1;
}

void ControllerModel::SetTransferTime(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    transfer_time_ = ms;
}

void ControllerModel::SetRefuseOpen(bool refuse) {
    std::lock_guard<std::mutex> lk(m_);
    refuse_open_ = refuse;
}

void ControllerModel::SetDevicePresent(bool present) {
    std::lock_guard<std::mutex> lk(m_);
    device_present_ = present;
    if (!present) ++generation_;
}

void ControllerModel::LoseD0For(uint32_t ms) {
    auto& kernel = Notebook::Current().Kernel();
    std::function<void(DeviceChange)> observer;
    uint64_t loss;
    {
        std::lock_guard<std::mutex> lk(m_);
        in_d0_ = false;
        d0_back_at_ = kernel.Now() + ms;
        loss = ++d0_losses_;
        observer = device_observer_;
    }
    if (observer) observer(DeviceChange::LeftD0);
    kernel.At(kernel.Now() + ms, [this, loss] {
        std::function<void(DeviceChange)> back;
        {
            std::lock_guard<std::mutex> lk(m_);
            if (loss != d0_losses_ || in_d0_) return;  // a later loss owns the return
            in_d0_ = true;
            back = device_observer_;
        }
        if (back) back(DeviceChange::BackInD0);
    });
}

bool ControllerModel::InD0() {
    std::lock_guard<std::mutex> lk(m_);
    return in_d0_;
}

VTime ControllerModel::D0BackAt() {
    std::lock_guard<std::mutex> lk(m_);
    return d0_back_at_;
}

void ControllerModel::SetDeviceObserver(std::function<void(DeviceChange change)> observer) {
    std::lock_guard<std::mutex> lk(m_);
    device_observer_ = std::move(observer);
}

void ControllerModel::SetCancelDelay(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    cancel_delay_ms_ = ms;
}

uint32_t ControllerModel::CancelDelay() {
    std::lock_guard<std::mutex> lk(m_);
    return cancel_delay_ms_;
}

void ControllerModel::SetIgnoreCancel(bool ignore) {
    std::function<void(DeviceChange)> observer;
    {
        std::lock_guard<std::mutex> lk(m_);
        ignore_cancel_ = ignore;
        observer = device_observer_;
    }
    if (observer) observer(ignore ? DeviceChange::BusStuck : DeviceChange::BusFree);
}

bool ControllerModel::IgnoresCancel() {
    std::lock_guard<std::mutex> lk(m_);
    return ignore_cancel_;
}

int64_t ControllerModel::Open() {
    if (InjectFault(FaultKind::kTransportOpen)) return -1;  // the driver refuses the open
    // A removed, disabled or still starting node has no driver's device:
    // nothing to open. Asked before the lock is taken, so that the two
    // models' locks never nest.
    const bool node_started = Notebook::Current().DeviceInstall().ControllerStarted();
    std::lock_guard<std::mutex> lk(m_);
    if (!node_started || !device_present_) return 0;
    if (refuse_open_) return -1;
    return generation_;
}

bool ControllerModel::HandleValid(int64_t generation) {
    const bool node_enabled = Notebook::Current().DeviceInstall().ControllerEnabled();
    std::lock_guard<std::mutex> lk(m_);
    return device_present_ && node_enabled && generation == generation_;
}

TransferOutcome ControllerModel::NextWriteOutcome() {
    TransferOutcome o = Notebook::Current().Firmware().NextWriteOutcome();
    {
        std::lock_guard<std::mutex> lk(m_);
        if (ignore_cancel_) o = TransferOutcome::Pending;
    }
    if (InjectFault(FaultKind::kTransportWritePending)) o = TransferOutcome::Pending;
    if (InjectFault(FaultKind::kTransportWriteFailNow)) o = TransferOutcome::FailNow;
    if (o != TransferOutcome::Complete)
        Notebook::Current().Bus().Notify(BusRecorder::BusActivity::WriteFailed);
    return o;
}

TransferOutcome ControllerModel::NextReadOutcome() {
    TransferOutcome o = Notebook::Current().Firmware().NextReadOutcome();
    {
        std::lock_guard<std::mutex> lk(m_);
        if (ignore_cancel_) o = TransferOutcome::Pending;
    }
    if (InjectFault(FaultKind::kTransportReadPending)) o = TransferOutcome::Pending;
    if (InjectFault(FaultKind::kTransportReadFailNow)) o = TransferOutcome::FailNow;
    if (o != TransferOutcome::Complete)
        Notebook::Current().Bus().Notify(BusRecorder::BusActivity::ReadFailed);
    return o;
}

bool ControllerModel::NextTransferLate(bool write) {
    return InjectFault(write ? FaultKind::kTransportWriteLate : FaultKind::kTransportReadLate);
}

uint32_t ControllerModel::TransferTime() {
    std::lock_guard<std::mutex> lk(m_);
    return transfer_time_;
}

void ControllerModel::Write(const uint8_t* bytes, uint32_t count) {
    Notebook::Current().Bus().Written(bytes, count);
    Notebook::Current().Firmware().Write(bytes, count, Notebook::Current().Kernel().Now());
}

void ControllerModel::Read(uint8_t* buf, uint32_t count) {
    Notebook::Current().Firmware().Read(buf, count, Notebook::Current().Kernel().Now());
    Notebook::Current().Bus().ReadDone(buf, count);
}

void ControllerModel::NodeDisabled(bool was_enabled) {
    if (was_enabled) {
        {
            std::lock_guard<std::mutex> lk(m_);
            // The driver's device goes away: every open handle is cut off.
            ++generation_;
        }
        Notebook::Current().Firmware().DropReply();
    }
    Notebook::Current().Bus().Notify(BusRecorder::BusActivity::NodeDisabled);
}

}  // namespace qxsim
