#include "sim/bus_recorder.h"

#include "sim/notebook.h"

namespace qxsim {

void BusRecorder::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    ResetLocked();
}

void BusRecorder::ResetLocked() {
    transfers_issued_ = 0;
    transfer_limit_ = kTransferLogSize;
    transfers_.clear();
    transfer_count_ = 0;
    bus_errors_.clear();
    bus_error_count_ = 0;
    bus_users_ = 0;
    bus_owner_.clear();
}

void BusRecorder::NoteTransferIssued() {
    std::lock_guard<std::mutex> lk(m_);
    ++transfers_issued_;
}

uint64_t BusRecorder::TransfersIssued() {
    std::lock_guard<std::mutex> lk(m_);
    return transfers_issued_;
}

void BusRecorder::SetFrameObserver(std::function<void(const uint8_t*, size_t)> observer) {
    std::lock_guard<std::mutex> lk(m_);
    frame_observer_ = std::move(observer);
}

void BusRecorder::SetBusObserver(BusObserver observer) {
    std::lock_guard<std::mutex> lk(m_);
    bus_observer_ = std::move(observer);
}

// Called without the lock: the observer reads the clock.
void BusRecorder::NotifyBus(BusActivity what, const uint8_t* bytes, size_t count) {
    BusObserver observer;
    {
        std::lock_guard<std::mutex> lk(m_);
        observer = bus_observer_;
    }
    if (observer) observer(what, bytes, count);
}

void BusRecorder::Notify(BusActivity what) {
    NotifyBus(what, nullptr, 0);
}

void BusRecorder::Written(const uint8_t* bytes, uint32_t count) {
    std::function<void(const uint8_t*, size_t)> observer;
    {
        std::lock_guard<std::mutex> lk(m_);
        observer = frame_observer_;
    }
    if (observer) observer(bytes, count);
    NotifyBus(BusActivity::Write, bytes, count);
    LogTransfer(true, bytes, count);
}

void BusRecorder::ReadDone(const uint8_t* bytes, uint32_t count) {
    LogTransfer(false, bytes, count);
    NotifyBus(BusActivity::Read, bytes, count);
}

// A long scenario writes several frames a second: keep the recent ones only.
void BusRecorder::LogTransfer(bool write, const uint8_t* bytes, uint32_t count) {
    std::string thread = Notebook::Current().Kernel().CurrentThreadName();
    VTime now = Notebook::Current().Kernel().Now();
    std::lock_guard<std::mutex> lk(m_);
    ++transfer_count_;
    while (transfers_.size() >= transfer_limit_) transfers_.pop_front();
    transfers_.push_back({now, thread, write, std::vector<uint8_t>(bytes, bytes + count)});
}

void BusRecorder::BusEnter(const char* operation) {
    std::string thread = Notebook::Current().Kernel().CurrentThreadName();
    VTime now = Notebook::Current().Kernel().Now();
    std::lock_guard<std::mutex> lk(m_);
    if (bus_users_ > 0 && ++bus_error_count_ <= kBusErrorLogSize) {
        bus_errors_.push_back(FormatVTime(now) + " " + thread + " " + operation + " while " +
                              bus_owner_ + " is on the transport");
    }
    ++bus_users_;
    bus_owner_ = thread;
}

void BusRecorder::BusLeave() {
    std::lock_guard<std::mutex> lk(m_);
    if (bus_users_ > 0) --bus_users_;
}

std::vector<TransferSeen> BusRecorder::Transfers() {
    std::lock_guard<std::mutex> lk(m_);
    return std::vector<TransferSeen>(transfers_.begin(), transfers_.end());
}

uint64_t BusRecorder::TransferCount() {
    std::lock_guard<std::mutex> lk(m_);
    return transfer_count_;
}

std::vector<std::string> BusRecorder::BusErrors() {
    std::lock_guard<std::mutex> lk(m_);
    return bus_errors_;
}

uint64_t BusRecorder::BusErrorCount() {
    std::lock_guard<std::mutex> lk(m_);
    return bus_error_count_;
}

void BusRecorder::SetLogLimit(size_t entries) {
    std::lock_guard<std::mutex> lk(m_);
    transfer_limit_ = entries > 0 ? entries : 1;
    while (transfers_.size() > transfer_limit_) transfers_.pop_front();
}

}  // namespace qxsim
