#include "sim/notebook.h"
#include "sim/qca_device_model.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace qxsim {

namespace {

constexpr uint32_t kControlCode = 0x220207;

uint8_t SignalByte(int32_t dbm) {
    int32_t v = dbm + 95;
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// The chain bytes of a signal word in the driver's order: 1, 0, 3, 2.
void PutChains(uint8_t* word, const int32_t dbm[4]) {
    word[1] = SignalByte(dbm[0]);
    word[0] = SignalByte(dbm[1]);
    word[3] = SignalByte(dbm[2]);
    word[2] = SignalByte(dbm[3]);
}

void Put24(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
}

}  // namespace

void QcaDeviceModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    type_ = kVht;
    logged_ = true;
    fail_text_.clear();
    fail_count_ = 0;
    raw_.clear();
    open_attempts_ = 0;
    opens_ = 0;
    handles_.clear();
    logging_ = false;
    commands_.clear();
    command_count_ = 0;
    violations_.Clear();
}

std::vector<std::string> QcaDeviceModel::Violations() {
    std::lock_guard<std::mutex> lk(m_);
    return violations_.List();
}

void QcaDeviceModel::SetPpduType(uint8_t type) {
    std::lock_guard<std::mutex> lk(m_);
    type_ = type;
}

void QcaDeviceModel::SetPpduLogged(bool logged) {
    std::lock_guard<std::mutex> lk(m_);
    logged_ = logged;
}

void QcaDeviceModel::FailCommand(const std::string& text, int count) {
    std::lock_guard<std::mutex> lk(m_);
    fail_text_ = text;
    fail_count_ = count;
}

void QcaDeviceModel::SetRawRecord(std::vector<uint8_t> record) {
    std::lock_guard<std::mutex> lk(m_);
    raw_ = std::move(record);
    raw_.resize(raw_.empty() ? 0 : 132);
}

int QcaDeviceModel::OpenAttempts() {
    std::lock_guard<std::mutex> lk(m_);
    return open_attempts_;
}

int QcaDeviceModel::Opens() {
    std::lock_guard<std::mutex> lk(m_);
    return opens_;
}

int QcaDeviceModel::OpenHandles() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(handles_.size());
}

bool QcaDeviceModel::Logging() {
    std::lock_guard<std::mutex> lk(m_);
    return logging_;
}

std::vector<std::string> QcaDeviceModel::Commands() {
    std::lock_guard<std::mutex> lk(m_);
    return std::vector<std::string>(commands_.begin(), commands_.end());
}

uint64_t QcaDeviceModel::CommandCount() {
    std::lock_guard<std::mutex> lk(m_);
    return command_count_;
}

std::array<uint8_t, 132> QcaDeviceModel::Record() {
    std::lock_guard<std::mutex> lk(m_);
    return RecordLocked();
}

std::array<uint8_t, 132> QcaDeviceModel::RecordLocked() {
    std::array<uint8_t, 132> r{};
    if (!raw_.empty()) {
        std::copy(raw_.begin(), raw_.end(), r.begin());
        return r;
    }
    if (!logged_) return r;
    LinkModel& link = Notebook::Current().Link();
    LinkState s = link.Current();
    bool associated = s.connection_state == 1 || s.connection_state == 2;
    r[4] = associated ? 1 : 0;
    PutChains(&r[7], s.rssi);
    PutChains(&r[23], s.rssi_average);
    r[14] = type_;
    const LinkRate& rx = s.rx;
    uint32_t streams = rx.nss > 0 ? rx.nss - 1u : 0u;
    if (type_ == 8 || type_ == 9) {
        // HT-SIG1: MCS 0..31 (streams in bits 3-4), 40 MHz in bit 7; HT-SIG2: short GI in bit 7.
        uint32_t sig1 =
            (rx.mcs & 0x7u) | ((streams & 0xFu) << 3) | (rx.bandwidth_index >= 1 ? 0x80u : 0u);
        uint32_t sig2 = rx.short_gi != 0 ? 0x80u : 0u;
        Put24(&r[15], sig1);
        Put24(&r[19], sig2);
    } else if (type_ == 12 || type_ == 13) {
        // VHT-SIG-A1: bandwidth in bits 0-1, streams minus one in bits 10-12;
        // VHT-SIG-A2: short GI in bit 0, MCS in bits 4-7.
        uint32_t sig1 = (rx.bandwidth_index & 0x3u) | ((streams & 0x7u) << 10);
        uint32_t sig2 = (rx.short_gi & 0x1u) | ((rx.mcs & 0xFu) << 4);
        Put24(&r[15], sig1);
        Put24(&r[19], sig2);
    }
    std::memcpy(&r[27], s.bssid.data(), 6);
    Mac own = link.AdapterMac();
    std::memcpy(&r[33], own.data(), 6);
    return r;
}

uintptr_t QcaDeviceModel::Open(const wchar_t* path) {
    {
        std::lock_guard<std::mutex> lk(m_);
        ++open_attempts_;
    }
    if (Notebook::Current().Link().Vendor() != LinkVendor::kQca) return 0;
    if (std::wcscmp(path, L"\\\\.\\ATH_WIFIDEV.00") != 0) return 0;
    std::lock_guard<std::mutex> lk(m_);
    ++opens_;
    uintptr_t h = next_handle_;
    next_handle_ += 4;
    handles_.push_back(h);
    return h;
}

bool QcaDeviceModel::Control(uintptr_t handle, uint32_t code, const void* in, uint32_t in_size,
                             void* out, uint32_t out_size, uint32_t* returned) {
    *returned = 0;
    bool available = Notebook::Current().Link().ProviderAvailable();
    std::lock_guard<std::mutex> lk(m_);
    if (std::find(handles_.begin(), handles_.end(), handle) == handles_.end()) {
        violations_.Add("DeviceIoControl on a handle that is not open");
        return false;
    }
    if (code != kControlCode || in == nullptr || in_size != 16) return false;
    char text[17] = {};
    std::memcpy(text, in, 16);
    std::string command(text);
    ++command_count_;
    if (commands_.size() >= kCommandLogSize) commands_.pop_front();
    commands_.push_back(command);
    if (fail_count_ > 0 && (fail_text_.empty() || fail_text_ == command)) {
        --fail_count_;
        return false;
    }
    if (!available) return false;
    if (command == "ppdulog_start") {
        logging_ = true;
    } else if (command == "ppdulog_stop") {
        logging_ = false;
    } else if (command == "ppdulog_read") {
        if (out == nullptr || out_size < 132) return false;
        std::array<uint8_t, 132> r = RecordLocked();
        std::memcpy(out, r.data(), r.size());
        *returned = 132;
        return true;
    } else {
        return false;
    }
    return true;
}

void QcaDeviceModel::Close(uintptr_t handle) {
    std::lock_guard<std::mutex> lk(m_);
    auto it = std::find(handles_.begin(), handles_.end(), handle);
    if (it == handles_.end()) {
        violations_.Add("CloseHandle on a handle that is not open");
        return;
    }
    handles_.erase(it);
}

}  // namespace qxsim
