#include "sim/notebook.h"
#include "sim/wlan_model.h"

#include <algorithm>

#include "common/os_codes.h"
#include "sim/link_model.h"

namespace qxsim {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Text positions of the 16 bytes in their textual order (Data1..Data4).
constexpr int kBytePos[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};
// Memory index of the byte shown at each textual position: Data1..3 are little-endian.
constexpr int kMemIndex[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};

}  // namespace

bool ParseGuidText(const char* text, Guid* out) {
    for (int i = 0; i < 38; ++i) {
        if (text[i] == '\0') return false;
    }
    if (text[0] != '{' || text[37] != '}' || text[38] != '\0') return false;
    if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return false;
    for (int i = 0; i < 16; ++i) {
        int hi = HexValue(text[kBytePos[i]]);
        int lo = HexValue(text[kBytePos[i] + 1]);
        if (hi < 0 || lo < 0) return false;
        (*out)[kMemIndex[i]] = static_cast<uint8_t>(hi << 4 | lo);
    }
    return true;
}

void FormatGuidText(const Guid& guid, char16_t out[39]) {
    static const char kHex[] = "0123456789ABCDEF";
    const char* shape = "{00000000-0000-0000-0000-000000000000}";
    for (int i = 0; i < 38; ++i) out[i] = static_cast<char16_t>(shape[i]);
    out[38] = 0;
    for (int i = 0; i < 16; ++i) {
        uint8_t b = guid[kMemIndex[i]];
        out[kBytePos[i]] = static_cast<char16_t>(kHex[b >> 4]);
        out[kBytePos[i] + 1] = static_cast<char16_t>(kHex[b & 15]);
    }
}

void WlanModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    default_interfaces_ = true;
    interfaces_.clear();
    open_fail_ = register_fail_ = enum_fail_ = 0;
    enum_fail_count_ = 0;
    handles_.clear();
    last_version_ = 0;
    sources_ = 0;
    registered_handle_ = 0;
    callback_ = nullptr;
    delivered_ = 0;
    enum_calls_ = 0;
}

void WlanModel::SetInterfaces(std::vector<Guid> guids) {
    std::lock_guard<std::mutex> lk(m_);
    default_interfaces_ = false;
    interfaces_ = std::move(guids);
}

void WlanModel::UseDefaultInterfaces() {
    std::lock_guard<std::mutex> lk(m_);
    default_interfaces_ = true;
    interfaces_.clear();
}

uint32_t WlanModel::CopyInterfaces(Guid* out, uint32_t max) {
    bool use_default;
    {
        std::lock_guard<std::mutex> lk(m_);
        use_default = default_interfaces_;
        if (!use_default) {
            uint32_t n = static_cast<uint32_t>(interfaces_.size());
            std::copy_n(interfaces_.begin(), std::min(n, max), out);
            return n;
        }
    }
    Mac mac;
    char name[64];
    Notebook::Current().Link().AdapterIdentity(&mac, name, sizeof name);
    Guid g{};
    if (!ParseGuidText(name, &g)) return 0;
    if (max > 0) out[0] = g;
    return 1;
}

void WlanModel::FailOpen(uint32_t code) {
    std::lock_guard<std::mutex> lk(m_);
    open_fail_ = code;
}

void WlanModel::FailRegister(uint32_t code) {
    std::lock_guard<std::mutex> lk(m_);
    register_fail_ = code;
}

void WlanModel::FailEnum(uint32_t code, int count) {
    std::lock_guard<std::mutex> lk(m_);
    enum_fail_ = code;
    enum_fail_count_ = count;
}

uint32_t WlanModel::Open(uint32_t client_version, uintptr_t* handle) {
    std::lock_guard<std::mutex> lk(m_);
    last_version_ = client_version;
    if (open_fail_ != 0) return open_fail_;
    if (client_version != 1 && client_version != 2) return qx::oscode::kErrorInvalidParameter;
    *handle = next_handle_++;
    handles_.push_back(*handle);
    return 0;
}

uint32_t WlanModel::Close(uintptr_t handle) {
    std::lock_guard<std::mutex> lk(m_);
    auto it = std::find(handles_.begin(), handles_.end(), handle);
    if (it == handles_.end()) return qx::oscode::kErrorInvalidHandle;
    handles_.erase(it);
    if (registered_handle_ == handle) {
        registered_handle_ = 0;
        sources_ = 0;
        callback_ = nullptr;
    }
    return 0;
}

uint32_t WlanModel::Register(uintptr_t handle, uint32_t sources, bool /*ignore_duplicate*/,
                             Callback callback) {
    std::lock_guard<std::mutex> lk(m_);
    if (std::find(handles_.begin(), handles_.end(), handle) == handles_.end())
        return qx::oscode::kErrorInvalidHandle;
    if (register_fail_ != 0) return register_fail_;
    registered_handle_ = handle;
    sources_ = sources;
    callback_ = std::move(callback);
    return 0;
}

uint32_t WlanModel::Enum(uintptr_t handle) {
    std::lock_guard<std::mutex> lk(m_);
    ++enum_calls_;
    if (std::find(handles_.begin(), handles_.end(), handle) == handles_.end())
        return qx::oscode::kErrorInvalidHandle;
    if (enum_fail_count_ > 0) {
        --enum_fail_count_;
        return enum_fail_;
    }
    return 0;
}

void WlanModel::Notify(uint32_t source, uint32_t code, const Guid& guid) {
    Callback cb;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (registered_handle_ == 0 || (sources_ & source) == 0 || !callback_) return;
        cb = callback_;
        ++delivered_;
    }
    cb(source, code, guid);
}

void WlanModel::NotifyAt(VTime when, uint32_t source, uint32_t code, const Guid& guid) {
    Notebook::Current().Kernel().At(when,
                                    [this, source, code, guid] { Notify(source, code, guid); });
}

int WlanModel::OpenHandles() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(handles_.size());
}

uint32_t WlanModel::LastClientVersion() {
    std::lock_guard<std::mutex> lk(m_);
    return last_version_;
}

uint32_t WlanModel::RegisteredSources() {
    std::lock_guard<std::mutex> lk(m_);
    return sources_;
}

int WlanModel::Delivered() {
    std::lock_guard<std::mutex> lk(m_);
    return delivered_;
}

int WlanModel::EnumCalls() {
    std::lock_guard<std::mutex> lk(m_);
    return enum_calls_;
}

}  // namespace qxsim
