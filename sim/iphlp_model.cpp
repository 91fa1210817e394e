#include "sim/notebook.h"
#include "sim/iphlp_model.h"

namespace qxsim {

namespace {
constexpr uint32_t kWifiIfIndex = 12;

SimAdapter DefaultEthernet() {
    SimAdapter a;
    a.mac = {0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
    a.adapter_name = "{0E3C4A72-5B1D-4E2F-9A61-7C2B3D4E5F60}";
    a.description = "Ethernet Connection";
    a.if_index = 7;
    return a;
}
}  // namespace

void IpHelperModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    extra_.assign(1, DefaultEthernet());
    wifi_listed_ = true;
    ai_fail_code_ = 0;
    ai_fail_count_ = 0;
    ai_calls_ = 0;
    it_fail_code_ = 0;
    it_fail_count_ = 0;
    it_short_by_ = 0;
}

std::vector<SimAdapter> IpHelperModel::Adapters() {
    LinkModel& link = Notebook::Current().Link();
    SimAdapter wifi;
    wifi.mac = link.AdapterMac();
    wifi.adapter_name = link.AdapterName();
    wifi.description = "Wireless-AC Network Adapter";
    wifi.if_index = kWifiIfIndex;
    std::lock_guard<std::mutex> lk(m_);
    std::vector<SimAdapter> out = extra_;
    if (wifi_listed_) out.push_back(wifi);
    return out;
}

void IpHelperModel::VisitAdapters(AdapterVisitor visit, void* context) {
    Mac mac{};
    char name[64];
    Notebook::Current().Link().AdapterIdentity(&mac, name, sizeof name);
    std::lock_guard<std::mutex> lk(m_);
    for (const SimAdapter& a : extra_) {
        visit(context, a.mac, a.adapter_name.c_str(), a.description.c_str(), a.if_index);
    }
    if (wifi_listed_) visit(context, mac, name, "Wireless-AC Network Adapter", kWifiIfIndex);
}

void IpHelperModel::SetExtraAdapters(std::vector<SimAdapter> adapters) {
    std::lock_guard<std::mutex> lk(m_);
    extra_ = std::move(adapters);
}

void IpHelperModel::SetWifiAdapterListed(bool listed) {
    std::lock_guard<std::mutex> lk(m_);
    wifi_listed_ = listed;
}

void IpHelperModel::FailAdaptersInfo(uint32_t code, int count) {
    std::lock_guard<std::mutex> lk(m_);
    ai_fail_code_ = code;
    ai_fail_count_ = count;
}

uint32_t IpHelperModel::TakeAdaptersInfoFailure() {
    std::lock_guard<std::mutex> lk(m_);
    ++ai_calls_;
    if (ai_fail_count_ <= 0) return 0;
    --ai_fail_count_;
    return ai_fail_code_;
}

int IpHelperModel::AdaptersInfoCalls() {
    std::lock_guard<std::mutex> lk(m_);
    return ai_calls_;
}

std::vector<SimIfRow> IpHelperModel::IfTable() {
    std::vector<SimIfRow> rows(1);
    rows[0].if_index = 1;
    rows[0].type = 24;  // MIB_IF_TYPE_LOOPBACK, with no physical address
    rows[0].phys_addr_len = 0;
    LinkCounters c = Notebook::Current().Link().Counters();
    for (const SimAdapter& a : Adapters()) {
        SimIfRow r;
        r.if_index = a.if_index;
        r.phys_addr = a.mac;
        if (a.if_index == kWifiIfIndex) {
            r.in_octets = c.rx_bytes;
            r.out_octets = c.tx_bytes;
            r.in_ucast_pkts = c.rx_packets;
            r.out_ucast_pkts = c.tx_packets;
        }
        rows.push_back(r);
    }
    return rows;
}

void IpHelperModel::FailIfTable(uint32_t code, int count) {
    std::lock_guard<std::mutex> lk(m_);
    it_fail_code_ = code;
    it_fail_count_ = count;
}

uint32_t IpHelperModel::TakeIfTableFailure() {
    std::lock_guard<std::mutex> lk(m_);
    if (it_fail_count_ <= 0) return 0;
    --it_fail_count_;
    return it_fail_code_;
}

void IpHelperModel::SetIfTableShortBy(uint32_t bytes) {
    std::lock_guard<std::mutex> lk(m_);
    it_short_by_ = bytes;
}

uint32_t IpHelperModel::IfTableShortBy() {
    std::lock_guard<std::mutex> lk(m_);
    return it_short_by_;
}

}  // namespace qxsim
