#include "sim/firmware_model.h"

namespace qxsim {

void FirmwareModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    ResetLocked();
}

void FirmwareModel::ResetLocked() {
    firmware_.Reset();
    write_time_ = 0;
    reports_.clear();
    report_limit_ = kReportLogSize;
    report_count_ = 0;
    new_bssid_count_ = 0;
    fresh_.clear();
}

void FirmwareModel::SetFirmwareVersion(uint8_t major, uint8_t minor, uint8_t patch) {
    std::lock_guard<std::mutex> lk(m_);
    // On the wire as d0 d1 d2, the revision reading d2.d1.d0.
    firmware_.settings.version[0] = patch;
    firmware_.settings.version[1] = minor;
    firmware_.settings.version[2] = major;
}

void FirmwareModel::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.silent = silent ? 1 : 0;
}

void FirmwareModel::SetWrongEcho(int n) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.wrong_echo = n;
}

void FirmwareModel::SetReplyDelay(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.reply_delay_ms = ms;
}

void FirmwareModel::SetWriteOutcome(TransferOutcome outcome, int n) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.write_outcome = outcome;
    firmware_.settings.write_count = n;
}

void FirmwareModel::SetReadOutcome(TransferOutcome outcome, int n) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.settings.read_outcome = outcome;
    firmware_.settings.read_count = n;
}

TransferOutcome FirmwareModel::NextWriteOutcome() {
    std::lock_guard<std::mutex> lk(m_);
    return firmware_.NextWriteOutcome();
}

TransferOutcome FirmwareModel::NextReadOutcome() {
    std::lock_guard<std::mutex> lk(m_);
    return firmware_.NextReadOutcome();
}

void FirmwareModel::Write(const uint8_t* bytes, uint32_t count, VTime now) {
    std::vector<LinkReportSeen> fresh;
    std::function<void(const LinkReportSeen&)> report_observer;
    {
        std::lock_guard<std::mutex> lk(m_);
        write_time_ = now;
        const qxproto::RecordSink sink = {&FirmwareModel::TakeRecord, this};
        firmware_.Write(bytes, count, now, &sink);
        fresh.swap(fresh_);
        report_observer = report_observer_;
    }
    if (report_observer) {
        for (const auto& r : fresh) report_observer(r);
    }
}

void FirmwareModel::Read(uint8_t* buf, uint32_t count, VTime now) {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.Read(buf, count, now);
}

void FirmwareModel::DropReply() {
    std::lock_guard<std::mutex> lk(m_);
    firmware_.DropReply();
}

void FirmwareModel::SetReportObserver(std::function<void(const LinkReportSeen&)> observer) {
    std::lock_guard<std::mutex> lk(m_);
    report_observer_ = std::move(observer);
}

// Called by the firmware, with the lock held, for every record it took; never
// calls into the kernel, which may be calling into the model from a timer action.
void FirmwareModel::TakeRecord(void* self, const uint8_t* record, uint16_t size) {
    auto* model = static_cast<FirmwareModel*>(self);
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

int FirmwareModel::WakeBytes() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.wake_bytes);
}

int FirmwareModel::SetupCount() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.config_writes);
}

int FirmwareModel::RejectedFrames() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.frames_bad);
}

int FirmwareModel::LastRejectStatus() {
    std::lock_guard<std::mutex> lk(m_);
    return firmware_.log.last_reject;
}

int FirmwareModel::IgnoredRecords() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.ignored_records);
}

bool FirmwareModel::HasSettings() {
    std::lock_guard<std::mutex> lk(m_);
    return firmware_.log.has_settings != 0;
}

std::vector<uint8_t> FirmwareModel::AccessCode() {
    std::lock_guard<std::mutex> lk(m_);
    const auto& log = firmware_.log;
    if (!log.has_settings) return {};
    return std::vector<uint8_t>(log.access_code, log.access_code + sizeof log.access_code);
}

std::vector<uint8_t> FirmwareModel::Settings() {
    std::lock_guard<std::mutex> lk(m_);
    const auto& log = firmware_.log;
    if (!log.has_settings) return {};
    return std::vector<uint8_t>(log.settings, log.settings + sizeof log.settings);
}

std::vector<uint8_t> FirmwareModel::SwitchTable() {
    std::lock_guard<std::mutex> lk(m_);
    const auto& log = firmware_.log;
    if (log.switch_tables == 0) return {};
    return std::vector<uint8_t>(log.switch_table, log.switch_table + sizeof log.switch_table);
}

int FirmwareModel::SwitchTables() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(firmware_.log.switch_tables);
}

std::vector<LinkReportSeen> FirmwareModel::LinkReports() {
    std::lock_guard<std::mutex> lk(m_);
    return std::vector<LinkReportSeen>(reports_.begin(), reports_.end());
}

uint64_t FirmwareModel::LinkReportCount() {
    std::lock_guard<std::mutex> lk(m_);
    return report_count_;
}

uint64_t FirmwareModel::NewBssidReportCount() {
    std::lock_guard<std::mutex> lk(m_);
    return new_bssid_count_;
}

void FirmwareModel::SetLogLimit(size_t entries) {
    std::lock_guard<std::mutex> lk(m_);
    report_limit_ = entries > 0 ? entries : 1;
    while (reports_.size() > report_limit_) reports_.pop_front();
}

}  // namespace qxsim
