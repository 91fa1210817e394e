#include "sim/notebook.h"
#include "sim/intel_lib_model.h"

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <type_traits>

#include "common/os_codes.h"
#include "daemon/wifi/intel_provider.h"
#include "sim/fault_plan.h"

namespace qxsim {

namespace {

constexpr uint32_t kVersion = 156;
constexpr uint32_t kEntrySize = 2472;
constexpr uint32_t kMaxEntries = 20;
constexpr uint32_t kListSize = 4 + kMaxEntries * kEntrySize;
constexpr uint32_t kBssSize = 73;
constexpr uint32_t kInvalidParameter = qx::oscode::kErrorInvalidParameter;
constexpr uint32_t kInjectedFailure = qx::oscode::kErrorGenFailure;
constexpr uint32_t kNotFound = qx::oscode::kErrorNotFound;

// The exports have exactly the types the daemon calls them through: a call
// through a pointer of another function type is undefined behaviour (and
// clang's -fsanitize=function stops it), even where the arguments agree.
uint32_t ModelWifiGetAdapterList(qx::IntelRequestHeader* header, void** list) {
    return Notebook::Current().IntelLib().GetAdapterList(header, list);
}

uint32_t ModelWifiGetBSSConfigurationStatistics(uint32_t id, qx::IntelRequestHeader* header,
                                                void* bss) {
    return Notebook::Current().IntelLib().GetStatistics(id, header, bss);
}
static_assert(std::is_same_v<decltype(&ModelWifiGetAdapterList), qx::WifiGetAdapterListFn>);
static_assert(std::is_same_v<decltype(&ModelWifiGetBSSConfigurationStatistics),
                             qx::WifiGetBSSConfigurationStatisticsFn>);

bool HeaderIs(const void* header, uint32_t size) {
    uint32_t words[4];
    std::memcpy(words, header, sizeof words);
    return words[0] == kVersion && words[1] == size && words[2] == 0 && words[3] == 0;
}

void Put16(uint8_t* p, uint16_t v) {
    std::memcpy(p, &v, 2);
}
void Put32(uint8_t* p, uint32_t v) {
    std::memcpy(p, &v, 4);
}
void Put64(uint8_t* p, uint64_t v) {
    std::memcpy(p, &v, 8);
}

}  // namespace

void IntelLibModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    adapters_ = {SimIntelAdapter{1, Notebook::Current().Link().AdapterMac(), 1, true}};
    reported_count_ = -1;
    missing_.clear();
    list_fail_status_ = 0;
    list_fail_count_ = 0;
    stats_fail_status_ = 0;
    stats_fail_count_ = 0;
    bss_status_word_ = 0;
    load_attempts_ = 0;
    loads_ = 0;
    loaded_ = 0;
    list_calls_ = 0;
    stats_calls_ = 0;
    last_stats_id_ = 0;
    violations_.Clear();
}

std::vector<std::string> IntelLibModel::Violations() {
    std::lock_guard<std::mutex> lk(m_);
    return violations_.List();
}

void IntelLibModel::SetAdapters(std::vector<SimIntelAdapter> adapters) {
    std::lock_guard<std::mutex> lk(m_);
    adapters_ = std::move(adapters);
}

void IntelLibModel::SetReportedCount(int32_t count) {
    std::lock_guard<std::mutex> lk(m_);
    reported_count_ = count;
}

void IntelLibModel::SetMissingExport(const std::string& name) {
    std::lock_guard<std::mutex> lk(m_);
    missing_ = name;
}

void IntelLibModel::FailAdapterList(uint32_t status, int count) {
    std::lock_guard<std::mutex> lk(m_);
    list_fail_status_ = status;
    list_fail_count_ = count;
}

void IntelLibModel::FailStatistics(uint32_t status, int count) {
    std::lock_guard<std::mutex> lk(m_);
    stats_fail_status_ = status;
    stats_fail_count_ = count;
}

void IntelLibModel::SetBssStatusWord(uint32_t word) {
    std::lock_guard<std::mutex> lk(m_);
    bss_status_word_ = word;
}

int IntelLibModel::LoadAttempts() {
    std::lock_guard<std::mutex> lk(m_);
    return load_attempts_;
}

int IntelLibModel::Loads() {
    std::lock_guard<std::mutex> lk(m_);
    return loads_;
}

int IntelLibModel::LoadedNow() {
    std::lock_guard<std::mutex> lk(m_);
    return loaded_;
}

int IntelLibModel::ListCalls() {
    std::lock_guard<std::mutex> lk(m_);
    return list_calls_;
}

int IntelLibModel::StatisticsCalls() {
    std::lock_guard<std::mutex> lk(m_);
    return stats_calls_;
}

uint32_t IntelLibModel::LastStatisticsId() {
    std::lock_guard<std::mutex> lk(m_);
    return last_stats_id_;
}

bool IntelLibModel::Load(const wchar_t* path) {
    {
        std::lock_guard<std::mutex> lk(m_);
        ++load_attempts_;
    }
    if (Notebook::Current().Link().Vendor() != LinkVendor::kIntel) return false;
    if (std::wcscmp(path, L"C:\\Program Files\\Intel\\WiFi\\bin\\murocapi.dll") != 0) return false;
    std::lock_guard<std::mutex> lk(m_);
    ++loads_;
    ++loaded_;
    return true;
}

void* IntelLibModel::Symbol(const char* name) {
    std::lock_guard<std::mutex> lk(m_);
    if (loaded_ <= 0)
        violations_.Add(std::string("GetProcAddress(") + name + ") with the library not loaded");
    if (missing_ == name) return nullptr;
    if (std::strcmp(name, "WifiGetAdapterList") == 0) {
        return reinterpret_cast<void*>(&ModelWifiGetAdapterList);
    }
    if (std::strcmp(name, "WifiGetBSSConfigurationStatistics") == 0) {
        return reinterpret_cast<void*>(&ModelWifiGetBSSConfigurationStatistics);
    }
    return nullptr;
}

void IntelLibModel::Free() {
    std::lock_guard<std::mutex> lk(m_);
    if (loaded_ <= 0) {
        violations_.Add("FreeLibrary with the library not loaded");
        return;
    }
    --loaded_;
}

uint32_t IntelLibModel::GetAdapterList(void* header, void** list) {
    if (InjectFault(FaultKind::kProviderList)) return kInjectedFailure;
    std::lock_guard<std::mutex> lk(m_);
    if (loaded_ <= 0) violations_.Add("adapter list asked of a library that is not loaded");
    ++list_calls_;
    if (!HeaderIs(header, kListSize)) return kInvalidParameter;
    if (list_fail_count_ > 0) {
        --list_fail_count_;
        return list_fail_status_;
    }
    // Exactly the room the caller declared: a reader that trusts a larger
    // count walks off the end, which the sanitizer build reports.
    std::vector<uint8_t> memory(kListSize, 0);
    uint32_t stored = static_cast<uint32_t>(adapters_.size());
    if (stored > kMaxEntries) stored = kMaxEntries;
    uint32_t count = reported_count_ < 0 ? stored : static_cast<uint32_t>(reported_count_);
    Put32(memory.data(), count);
    for (uint32_t i = 0; i < stored; ++i) {
        uint8_t* entry = memory.data() + 4 + i * kEntrySize;
        Put32(entry, adapters_[i].id);
        std::memcpy(entry + 4, adapters_[i].mac.data(), 6);
        Put32(entry + 2444, adapters_[i].flag);
    }
    lists_.push_back(std::move(memory));
    *list = lists_.back().data();
    return 0;
}

uint32_t IntelLibModel::GetStatistics(uint32_t id, void* header, void* bss) {
    if (InjectFault(FaultKind::kProviderCsi)) return kInjectedFailure;
    SimIntelAdapter adapter;
    uint32_t word;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (loaded_ <= 0) violations_.Add("statistics asked of a library that is not loaded");
        ++stats_calls_;
        last_stats_id_ = id;
        if (!HeaderIs(header, kBssSize)) return kInvalidParameter;
        if (stats_fail_count_ > 0) {
            --stats_fail_count_;
            return stats_fail_status_;
        }
        bool found = false;
        for (const SimIntelAdapter& a : adapters_) {
            if (a.id == id) {
                adapter = a;
                found = true;
                break;
            }
        }
        if (!found) return kNotFound;
        word = bss_status_word_;
    }
    auto* out = static_cast<uint8_t*>(bss);
    std::memset(out, 0, kBssSize);
    Put32(out, word);
    if (!adapter.follows_link) return 0;  // not associated: state 0, no peer

    LinkModel& link = Notebook::Current().Link();
    if (!link.ProviderAvailable()) return kNotFound;
    LinkState s = link.Current();
    LinkCounters c = link.Counters();
    Put32(out + 4, s.connection_state);
    std::memcpy(out + 8, s.bssid.data(), 6);
    Put64(out + 14, c.tx_bytes);
    Put64(out + 22, c.tx_packets);
    Put16(out + 30, s.tx.rate_mbps);
    out[32] = s.tx.mcs;
    out[33] = s.tx.nss;
    out[34] = s.tx.bandwidth_index;
    out[36] = s.tx.short_gi;
    Put64(out + 37, c.rx_bytes);
    Put64(out + 45, c.rx_packets);
    for (int chain = 0; chain < 3; ++chain)
        Put32(out + 53 + 4 * chain, static_cast<uint32_t>(s.rssi[chain]));
    Put16(out + 65, s.rx.rate_mbps);
    out[67] = s.rx.mcs;
    out[68] = s.rx.nss;
    out[69] = s.rx.bandwidth_index;
    out[71] = s.rx.short_gi;
    return 0;
}

}  // namespace qxsim
