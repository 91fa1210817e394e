#include "sim/notebook.h"
#include "sim/link_model.h"

namespace qxsim {

void LinkModel::AdvanceLocked(VTime now) {
    if (!started_) {
        started_ = true;
        counted_until_ = now;
        return;
    }
    if (now <= counted_until_) return;
    const uint64_t ms = static_cast<uint64_t>(now - counted_until_);
    counted_until_ = now;
    const bool up = state_.connection_state == 1 || state_.connection_state == 2;
    if (!up) return;
    const uint64_t per_s[4] = {state_.rx_bytes_per_s, state_.tx_bytes_per_s,
                               state_.rx_packets_per_s, state_.tx_packets_per_s};
    uint64_t* out[4] = {&counters_.rx_bytes, &counters_.tx_bytes, &counters_.rx_packets,
                        &counters_.tx_packets};
    for (int i = 0; i < 4; ++i) {
        const uint64_t milli = per_s[i] * ms + rem_[i];
        *out[i] += milli / 1000;
        rem_[i] = milli % 1000;
    }
}

void LinkModel::Reset() {
    VTime now = Notebook::Current().Kernel().Now();
    std::lock_guard<std::mutex> lk(m_);
    adapter_mac_ = kNotebookAdapterMac;
    adapter_name_ = kNotebookAdapterName;
    state_ = LinkState{};
    counters_ = LinkCounters{};
    for (auto& r : rem_) r = 0;
    started_ = true;
    counted_until_ = now;
    vendor_ = LinkVendor::kIntel;
    provider_available_ = true;
}

Mac LinkModel::AdapterMac() {
    std::lock_guard<std::mutex> lk(m_);
    return adapter_mac_;
}

std::string LinkModel::AdapterName() {
    std::lock_guard<std::mutex> lk(m_);
    return adapter_name_;
}

void LinkModel::SetAdapter(const Mac& mac, const std::string& adapter_name) {
    std::lock_guard<std::mutex> lk(m_);
    adapter_mac_ = mac;
    adapter_name_ = adapter_name;
}

void LinkModel::AdapterIdentity(Mac* mac, char* name, size_t size) {
    std::lock_guard<std::mutex> lk(m_);
    *mac = adapter_mac_;
    if (size == 0) return;
    size_t n = adapter_name_.size() < size - 1 ? adapter_name_.size() : size - 1;
    adapter_name_.copy(name, n);
    name[n] = '\0';
}

LinkState LinkModel::Current() {
    std::lock_guard<std::mutex> lk(m_);
    return state_;
}

void LinkModel::Set(const LinkState& state) {
    Change([&state](LinkState& s) { s = state; });
}

void LinkModel::Change(const std::function<void(LinkState&)>& change) {
    VTime now = Notebook::Current().Kernel().Now();
    std::lock_guard<std::mutex> lk(m_);
    AdvanceLocked(now);  // what passed so far counts at the old rates
    change(state_);
}

void LinkModel::ChangeAt(VTime when, std::function<void(LinkState&)> change) {
    Notebook::Current().Kernel().At(when, [this, change = std::move(change)] { Change(change); });
}

void LinkModel::RoamAt(VTime when, const Mac& bssid) {
    ChangeAt(when, [bssid](LinkState& s) {
        s.bssid = bssid;
        s.connection_state = 1;
    });
}

void LinkModel::LinkLossAt(VTime when) {
    ChangeAt(when, [](LinkState& s) { s.connection_state = 0; });
}

void LinkModel::LinkBackAt(VTime when, const Mac& bssid) {
    ChangeAt(when, [bssid](LinkState& s) {
        LinkState fresh;
        fresh.bssid = bssid;
        s = fresh;
    });
}

LinkCounters LinkModel::Counters() {
    VTime now = Notebook::Current().Kernel().Now();
    std::lock_guard<std::mutex> lk(m_);
    AdvanceLocked(now);
    return counters_;
}

void LinkModel::SetCounters(const LinkCounters& counters) {
    VTime now = Notebook::Current().Kernel().Now();
    std::lock_guard<std::mutex> lk(m_);
    AdvanceLocked(now);
    counters_ = counters;
    for (auto& r : rem_) r = 0;
}

LinkVendor LinkModel::Vendor() {
    std::lock_guard<std::mutex> lk(m_);
    return vendor_;
}

void LinkModel::SetVendor(LinkVendor vendor) {
    std::lock_guard<std::mutex> lk(m_);
    vendor_ = vendor;
}

bool LinkModel::ProviderAvailable() {
    std::lock_guard<std::mutex> lk(m_);
    return provider_available_;
}

void LinkModel::SetProviderAvailable(bool available) {
    std::lock_guard<std::mutex> lk(m_);
    provider_available_ = available;
}

void LinkModel::ProviderLossAt(VTime when, bool available) {
    Notebook::Current().Kernel().At(when, [this, available] { SetProviderAvailable(available); });
}

}  // namespace qxsim
