#include "sim/controller_model.h"

#include <cstring>
#include <memory>

#include "sim/frame_decoder.h"

namespace qxsim {

namespace {
constexpr uint8_t kTypeVersion = 2;
constexpr uint8_t kTypeEcho = 3;
constexpr uint8_t kTypeConfigWrite = 4;
constexpr uint8_t kTypeLinkReport = 7;
constexpr uint8_t kTypeSwitchTable = 9;
}  // namespace

ControllerModel& ControllerModel::Instance() {
    static ControllerModel* model = new ControllerModel();
    return *model;
}

void ControllerModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    ResetLocked();
}

void ControllerModel::ResetLocked() {
    // Firmware 1.3.7 unless a test says otherwise.
    version_[0] = 1;
    version_[1] = 3;
    version_[2] = 7;
    silent_ = false;
    wrong_echo_ = 0;
    reply_delay_ = 0;
    write_outcome_ = read_outcome_ = TransferOutcome::Complete;
    write_n_ = read_n_ = 0;
    transfer_time_ = 0;
    refuse_open_ = false;
    device_present_ = true;
    node_present_ = true;
    node_enabled_ = true;
    generation_ = 1;
    disables_ = enables_ = 0;
    reply_.clear();
    reply_ready_ = 0;
    wake_bytes_ = 0;
    setups_ = 0;
    rejected_ = 0;
    last_reject_ = 0;
    has_settings_ = false;
    access_code_.clear();
    settings_.clear();
    switch_table_.clear();
    switch_tables_ = 0;
    reports_.clear();
    transfers_.clear();
    transfer_count_ = 0;
    bus_errors_.clear();
    bus_users_ = 0;
    bus_owner_.clear();
}

void ControllerModel::SetFirmwareVersion(uint8_t major, uint8_t minor, uint8_t patch) {
    std::lock_guard<std::mutex> lk(m_);
    version_[0] = major;
    version_[1] = minor;
    version_[2] = patch;
}

void ControllerModel::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lk(m_);
    silent_ = silent;
}

void ControllerModel::SetWrongEcho(int n) {
    std::lock_guard<std::mutex> lk(m_);
    wrong_echo_ = n;
}

void ControllerModel::SetReplyDelay(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    reply_delay_ = ms;
}

void ControllerModel::SetWriteOutcome(TransferOutcome outcome, int n) {
    std::lock_guard<std::mutex> lk(m_);
    write_outcome_ = outcome;
    write_n_ = n;
}

void ControllerModel::SetReadOutcome(TransferOutcome outcome, int n) {
    std::lock_guard<std::mutex> lk(m_);
    read_outcome_ = outcome;
    read_n_ = n;
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

void ControllerModel::SetNodePresent(bool present) {
    std::lock_guard<std::mutex> lk(m_);
    node_present_ = present;
}

int64_t ControllerModel::Open() {
    std::lock_guard<std::mutex> lk(m_);
    if (!device_present_ || !node_enabled_) return 0;
    if (refuse_open_) return -1;
    return generation_;
}

bool ControllerModel::HandleValid(int64_t generation) {
    std::lock_guard<std::mutex> lk(m_);
    return device_present_ && node_enabled_ && generation == generation_;
}

TransferOutcome ControllerModel::Next(TransferOutcome& outcome, int& n) {
    if (outcome == TransferOutcome::Complete || n == 0) return TransferOutcome::Complete;
    TransferOutcome o = outcome;
    if (n > 0 && --n == 0) outcome = TransferOutcome::Complete;
    return o;
}

TransferOutcome ControllerModel::NextWriteOutcome() {
    TransferOutcome o;
    {
        std::lock_guard<std::mutex> lk(m_);
        o = Next(write_outcome_, write_n_);
    }
    if (o != TransferOutcome::Complete) NotifyBus(BusActivity::WriteFailed, nullptr, 0);
    return o;
}

TransferOutcome ControllerModel::NextReadOutcome() {
    TransferOutcome o;
    {
        std::lock_guard<std::mutex> lk(m_);
        o = Next(read_outcome_, read_n_);
    }
    if (o != TransferOutcome::Complete) NotifyBus(BusActivity::ReadFailed, nullptr, 0);
    return o;
}

uint32_t ControllerModel::TransferTime() {
    std::lock_guard<std::mutex> lk(m_);
    return transfer_time_;
}

void ControllerModel::SetFrameObserver(std::function<void(const uint8_t*, size_t)> observer) {
    std::lock_guard<std::mutex> lk(m_);
    observer_ = std::move(observer);
}

void ControllerModel::SetBusObserver(BusObserver observer) {
    std::lock_guard<std::mutex> lk(m_);
    bus_observer_ = std::move(observer);
}

// Called without the lock: the observer reads the clock.
void ControllerModel::NotifyBus(BusActivity what, const uint8_t* bytes, size_t count) {
    BusObserver observer;
    {
        std::lock_guard<std::mutex> lk(m_);
        observer = bus_observer_;
    }
    if (observer) observer(what, bytes, count);
}

void ControllerModel::Write(const uint8_t* bytes, uint32_t count) {
    std::function<void(const uint8_t*, size_t)> observer;
    {
        std::lock_guard<std::mutex> lk(m_);
        observer = observer_;
    }
    if (observer) observer(bytes, count);
    NotifyBus(BusActivity::Write, bytes, count);
    std::string thread = Kernel::Instance().CurrentThreadName();
    VTime now = Kernel::Instance().Now();
    std::lock_guard<std::mutex> lk(m_);
    LogTransfer({now, thread, true, std::vector<uint8_t>(bytes, bytes + count)});
    if (count == 1 && bytes[0] == 0x00) {
        ++wake_bytes_;
        return;
    }
    // One write may carry several frames back to back; a frame that does not
    // decode is dropped and the firmware goes on with the next one.
    size_t pos = 0;
    while (pos < count) {
        size_t len = QxdFrameLength(bytes + pos, count - pos);
        if (len == 0) {
            ++rejected_;
            last_reject_ = QXD_NO_END_FLAG;
            break;
        }
        TakeFrame(bytes + pos, len, now);
        pos += len;
    }
}

// Called with the lock held; never calls into the kernel, which may be
// calling into the model from a timer action.
void ControllerModel::TakeFrame(const uint8_t* wire, size_t count, VTime now) {
    // Large and used only here, under the lock: off the stack of a virtual thread.
    static QxdFrame frame;
    int status = QxdDecodeFrame(wire, count, &frame);
    if (status != QXD_OK) {
        ++rejected_;
        last_reject_ = status;
        return;
    }
    for (int i = 0; i < frame.record_count; ++i) {
        const QxdRecord& r = frame.records[i];
        const uint8_t* rec = frame.bytes + r.offset;
        const uint8_t* data = rec + 2;
        if (r.read_request) {
            if (silent_) continue;
            if (r.type == kTypeEcho && r.length == 6 && has_settings_) {
                reply_.assign({6, kTypeEcho});
                reply_.insert(reply_.end(), settings_.begin(), settings_.end());
                if (wrong_echo_ != 0) {
                    reply_[7] ^= 0x01;
                    if (wrong_echo_ > 0) --wrong_echo_;
                }
            } else if (r.type == kTypeVersion && r.length == 3) {
                reply_.assign({3, kTypeVersion, version_[2], version_[1], version_[0]});
            } else {
                continue;  // nothing the firmware can answer
            }
            reply_ready_ = now + reply_delay_;
            continue;
        }
        switch (r.type) {
            case kTypeConfigWrite:
                if (r.length != 10) break;
                access_code_.assign(data, data + 4);
                settings_.assign(data + 4, data + 10);
                has_settings_ = true;
                ++setups_;
                break;
            case kTypeSwitchTable:
                if (r.length != 8) break;
                switch_table_.assign(data, data + 8);
                ++switch_tables_;
                break;
            case kTypeLinkReport: {
                if (r.length < 12) break;
                LinkReportSeen s;
                s.arrival = now;
                s.count = data[0];
                s.timestamp = static_cast<uint32_t>(data[1]) | static_cast<uint32_t>(data[2]) << 8 |
                              static_cast<uint32_t>(data[3]) << 16 |
                              static_cast<uint32_t>(data[4]) << 24;
                s.flags = data[5];
                s.traffic = static_cast<uint16_t>(data[6] | data[7] << 8);
                s.rssi0 = data[8];
                s.rssi1 = data[9];
                s.record.assign(rec, rec + r.size);
                reports_.push_back(std::move(s));
                break;
            }
            default:
                break;
        }
    }
}

// A long scenario writes several frames a second: keep the recent ones only.
void ControllerModel::LogTransfer(TransferSeen t) {
    ++transfer_count_;
    if (transfers_.size() >= kTransferLogSize) transfers_.pop_front();
    transfers_.push_back(std::move(t));
}

void ControllerModel::Read(uint8_t* buf, uint32_t count) {
    std::string thread = Kernel::Instance().CurrentThreadName();
    VTime now = Kernel::Instance().Now();
    std::unique_lock<std::mutex> lk(m_);
    // A controller with nothing (yet) to say clocks out zeros.
    memset(buf, 0, count);
    if (!reply_.empty() && now >= reply_ready_) {
        size_t n = reply_.size() < count ? reply_.size() : count;
        memcpy(buf, reply_.data(), n);
        reply_.clear();
    }
    LogTransfer({now, thread, false, std::vector<uint8_t>(buf, buf + count)});
    lk.unlock();
    NotifyBus(BusActivity::Read, buf, count);
}

void ControllerModel::BusEnter(const char* operation) {
    std::string thread = Kernel::Instance().CurrentThreadName();
    VTime now = Kernel::Instance().Now();
    std::lock_guard<std::mutex> lk(m_);
    if (bus_users_ > 0) {
        bus_errors_.push_back(FormatVTime(now) + " " + thread + " " + operation + " while " +
                              bus_owner_ + " is on the transport");
    }
    ++bus_users_;
    bus_owner_ = thread;
}

void ControllerModel::BusLeave() {
    std::lock_guard<std::mutex> lk(m_);
    if (bus_users_ > 0) --bus_users_;
}

bool ControllerModel::NodePresent() {
    std::lock_guard<std::mutex> lk(m_);
    return node_present_;
}

void ControllerModel::DisableNode() {
    {
        std::lock_guard<std::mutex> lk(m_);
        ++disables_;
        if (node_enabled_) {
            node_enabled_ = false;
            // The driver's device goes away: every open handle is cut off.
            ++generation_;
            reply_.clear();
        }
    }
    NotifyBus(BusActivity::NodeDisabled, nullptr, 0);
}

void ControllerModel::EnableNode() {
    std::lock_guard<std::mutex> lk(m_);
    ++enables_;
    node_enabled_ = true;
}

bool ControllerModel::NodeEnabled() {
    std::lock_guard<std::mutex> lk(m_);
    return node_enabled_;
}

int ControllerModel::DisableCount() {
    std::lock_guard<std::mutex> lk(m_);
    return disables_;
}

int ControllerModel::EnableCount() {
    std::lock_guard<std::mutex> lk(m_);
    return enables_;
}

int ControllerModel::WakeBytes() {
    std::lock_guard<std::mutex> lk(m_);
    return wake_bytes_;
}

int ControllerModel::SetupCount() {
    std::lock_guard<std::mutex> lk(m_);
    return setups_;
}

int ControllerModel::RejectedFrames() {
    std::lock_guard<std::mutex> lk(m_);
    return rejected_;
}

int ControllerModel::LastRejectStatus() {
    std::lock_guard<std::mutex> lk(m_);
    return last_reject_;
}

bool ControllerModel::HasSettings() {
    std::lock_guard<std::mutex> lk(m_);
    return has_settings_;
}

std::vector<uint8_t> ControllerModel::AccessCode() {
    std::lock_guard<std::mutex> lk(m_);
    return access_code_;
}

std::vector<uint8_t> ControllerModel::Settings() {
    std::lock_guard<std::mutex> lk(m_);
    return settings_;
}

std::vector<uint8_t> ControllerModel::SwitchTable() {
    std::lock_guard<std::mutex> lk(m_);
    return switch_table_;
}

int ControllerModel::SwitchTables() {
    std::lock_guard<std::mutex> lk(m_);
    return switch_tables_;
}

std::vector<LinkReportSeen> ControllerModel::LinkReports() {
    std::lock_guard<std::mutex> lk(m_);
    return reports_;
}

std::vector<TransferSeen> ControllerModel::Transfers() {
    std::lock_guard<std::mutex> lk(m_);
    return std::vector<TransferSeen>(transfers_.begin(), transfers_.end());
}

uint64_t ControllerModel::TransferCount() {
    std::lock_guard<std::mutex> lk(m_);
    return transfer_count_;
}

std::vector<std::string> ControllerModel::BusErrors() {
    std::lock_guard<std::mutex> lk(m_);
    return bus_errors_;
}

}  // namespace qxsim
