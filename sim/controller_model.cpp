#include "sim/notebook.h"
#include "sim/controller_model.h"

#include "sim/device_install_model.h"
#include "sim/fault_plan.h"

namespace qxsim {

void ControllerModel::Reset() {
    {
        std::lock_guard<std::mutex> lk(m_);
        ResetLocked();
    }
    // The node's Plug and Play side powers on with the device it carries.
    Notebook::Current().DeviceInstall().RestartController();
}

void ControllerModel::ResetLocked() {
    firmware_.Reset();
    write_time_ = 0;
    transfer_time_ = 0;
    refuse_open_ = false;
    device_present_ = true;
    in_d0_ = true;
    d0_back_at_ = 0;
    device_observer_ = nullptr;
    cancel_delay_ms_ = 0;
    ignore_cancel_ = false;
    transfers_issued_ = 0;
    generation_ = 1;
    reports_.clear();
    report_limit_ = kReportLogSize;
    transfer_limit_ = kTransferLogSize;
    report_count_ = 0;
    new_bssid_count_ = 0;
    fresh_.clear();
    transfers_.clear();
    transfer_count_ = 0;
    bus_errors_.clear();
    bus_error_count_ = 0;
    bus_users_ = 0;
    bus_owner_.clear();
}

void ControllerModel::SetFirmwareVersion(uint8_t major, uint8_t minor, uint8_t patch) {
    std::lock_guard<std::mutex> lk(m_);
    // On the wire as d0 d1 d2, the revision reading d2.d1.d0.
    firmware_.settings.version[0] = patch;
    firmware_.settings.version[1] = minor;
    firmware_.settings.version[2] = major;
}

void ControllerModel::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.silent = silent ? 1 : 0;
}

void ControllerModel::SetWrongEcho(int n) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.wrong_echo = n;
}

void ControllerModel::SetReplyDelay(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.reply_delay_ms = ms;
}

void ControllerModel::SetWriteOutcome(TransferOutcome outcome, int n) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.write_outcome = outcome;
    firmware_.settings.write_count = n;
}

void ControllerModel::SetReadOutcome(TransferOutcome outcome, int n) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.read_outcome = outcome;
    firmware_.settings.read_count = n;
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

void ControllerModel::NoteTransferIssued() {
    std::lock_guard<std::mutex> lk(m_);
    ++transfers_issued_;
}

uint64_t ControllerModel::TransfersIssued() {
    std::lock_guard<std::mutex> lk(m_);
    return transfers_issued_;
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
    TransferOutcome o;
    {
        std::lock_guard<std::mutex> lk(m_);
        o = firmware_.NextWriteOutcome();
        if (ignore_cancel_) o = TransferOutcome::Pending;
    }
    if (InjectFault(FaultKind::kTransportWritePending)) o = TransferOutcome::Pending;
    if (InjectFault(FaultKind::kTransportWriteFailNow)) o = TransferOutcome::FailNow;
    if (o != TransferOutcome::Complete) NotifyBus(BusActivity::WriteFailed, nullptr, 0);
    return o;
}

TransferOutcome ControllerModel::NextReadOutcome() {
    TransferOutcome o;
    {
        std::lock_guard<std::mutex> lk(m_);
        o = firmware_.NextReadOutcome();
        if (ignore_cancel_) o = TransferOutcome::Pending;
    }
    if (InjectFault(FaultKind::kTransportReadPending)) o = TransferOutcome::Pending;
    if (InjectFault(FaultKind::kTransportReadFailNow)) o = TransferOutcome::FailNow;
    if (o != TransferOutcome::Complete) NotifyBus(BusActivity::ReadFailed, nullptr, 0);
    return o;
}

bool ControllerModel::NextTransferLate(bool write) {
    return InjectFault(write ? FaultKind::kTransportWriteLate : FaultKind::kTransportReadLate);
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
    std::string thread = Notebook::Current().Kernel().CurrentThreadName();
    VTime now = Notebook::Current().Kernel().Now();
    std::vector<LinkReportSeen> fresh;
    std::function<void(const LinkReportSeen&)> report_observer;
    {
        std::lock_guard<std::mutex> lk(m_);
        LogTransfer({now, thread, true, std::vector<uint8_t>(bytes, bytes + count)});
        write_time_ = now;
        const qxproto::RecordSink sink = {&ControllerModel::TakeRecord, this};
        firmware_.Write(bytes, count, now, &sink);
        fresh.swap(fresh_);
        report_observer = report_observer_;
    }
    if (report_observer) {
        for (const auto& r : fresh) report_observer(r);
    }
}

void ControllerModel::SetReportObserver(std::function<void(const LinkReportSeen&)> observer) {
    std::lock_guard<std::mutex> lk(m_);
    report_observer_ = std::move(observer);
}

// Called by the firmware, with the lock held, for every record it took; never
// calls into the kernel, which may be calling into the model from a timer action.
void ControllerModel::TakeRecord(void* self, const uint8_t* record, uint16_t size) {
    auto* model = static_cast<ControllerModel*>(self);
    if (record[1] != qxproto::kTypeLinkReport) return;
    const qxproto::LinkEntry first = qxproto::LinkReportEntry(record, 0);
    LinkReportSeen s;
    s.arrival = model->write_time_;
    s.count = record[2];
    s.timestamp = qxproto::LinkReportTimestamp(record);
    s.flags = first.flags;
    s.traffic = first.traffic;
    s.rssi0 = first.rssi0;
    s.rssi1 = first.rssi1;
    s.record.assign(record, record + size);
    ++model->report_count_;
    if ((s.flags & 0x80) != 0) ++model->new_bssid_count_;
    if (model->report_observer_) model->fresh_.push_back(s);
    while (model->reports_.size() >= model->report_limit_) model->reports_.pop_front();
    model->reports_.push_back(std::move(s));
}

// A long scenario writes several frames a second: keep the recent ones only.
void ControllerModel::LogTransfer(TransferSeen t) {
    ++transfer_count_;
    while (transfers_.size() >= transfer_limit_) transfers_.pop_front();
    transfers_.push_back(std::move(t));
}

void ControllerModel::Read(uint8_t* buf, uint32_t count) {
    std::string thread = Notebook::Current().Kernel().CurrentThreadName();
    VTime now = Notebook::Current().Kernel().Now();
    std::unique_lock<std::mutex> lk(m_);
    firmware_.Read(buf, count, now);
    LogTransfer({now, thread, false, std::vector<uint8_t>(buf, buf + count)});
    lk.unlock();
    NotifyBus(BusActivity::Read, buf, count);
}

void ControllerModel::BusEnter(const char* operation) {
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

void ControllerModel::BusLeave() {
    std::lock_guard<std::mutex> lk(m_);
    if (bus_users_ > 0) --bus_users_;
}

void ControllerModel::NodeDisabled(bool was_enabled) {
    if (was_enabled) {
        std::lock_guard<std::mutex> lk(m_);
        // The driver's device goes away: every open handle is cut off.
        ++generation_;
        firmware_.DropReply();
    }
    NotifyBus(BusActivity::NodeDisabled, nullptr, 0);
}

int ControllerModel::WakeBytes() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.wake_bytes);
}

int ControllerModel::SetupCount() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.config_writes);
}

int ControllerModel::RejectedFrames() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.frames_bad);
}

int ControllerModel::LastRejectStatus() {
    std::lock_guard<std::mutex> lk(m_);
    return firmware_.log.last_reject;
}

int ControllerModel::IgnoredRecords() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.ignored_records);
}

bool ControllerModel::HasSettings() {
    std::lock_guard<std::mutex> lk(m_);
    return firmware_.log.has_settings != 0;
}

std::vector<uint8_t> ControllerModel::AccessCode() {
    std::lock_guard<std::mutex> lk(m_);
    const auto& log = firmware_.log;
    if (!log.has_settings) return {};
    return std::vector<uint8_t>(log.access_code, log.access_code + sizeof log.access_code);
}

std::vector<uint8_t> ControllerModel::Settings() {
    std::lock_guard<std::mutex> lk(m_);
    const auto& log = firmware_.log;
    if (!log.has_settings) return {};
    return std::vector<uint8_t>(log.settings, log.settings + sizeof log.settings);
}

std::vector<uint8_t> ControllerModel::SwitchTable() {
    std::lock_guard<std::mutex> lk(m_);
    const auto& log = firmware_.log;
    if (log.switch_tables == 0) return {};
    return std::vector<uint8_t>(log.switch_table, log.switch_table + sizeof log.switch_table);
}

int ControllerModel::SwitchTables() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.switch_tables);
}

std::vector<LinkReportSeen> ControllerModel::LinkReports() {
    std::lock_guard<std::mutex> lk(m_);
    return std::vector<LinkReportSeen>(reports_.begin(), reports_.end());
}

uint64_t ControllerModel::LinkReportCount() {
    std::lock_guard<std::mutex> lk(m_);
    return report_count_;
}

uint64_t ControllerModel::NewBssidReportCount() {
    std::lock_guard<std::mutex> lk(m_);
    return new_bssid_count_;
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

void ControllerModel::SetLogLimit(size_t entries) {
    std::lock_guard<std::mutex> lk(m_);
    report_limit_ = transfer_limit_ = entries > 0 ? entries : 1;
    while (reports_.size() > report_limit_) reports_.pop_front();
    while (transfers_.size() > transfer_limit_) transfers_.pop_front();
}

uint64_t ControllerModel::BusErrorCount() {
    std::lock_guard<std::mutex> lk(m_);
    return bus_error_count_;
}

}  // namespace qxsim
