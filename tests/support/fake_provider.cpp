#include "tests/support/fake_provider.h"

#include <cstdlib>
#include <cstring>

namespace fakecsi {

State& S() {
    static State s;
    return s;
}

qx::CsiRecord UsableRecord() {
    qx::CsiRecord r;
    std::memset(&r, 0, sizeof r);
    r.ConnectionState = 1;
    const uint8_t bssid[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3};
    std::memcpy(r.PeerMac, bssid, 6);
    r.RxRate = 72;
    r.RxMcs = 7;
    r.RxNss = 1;
    r.TxRate = 65;
    r.TxMcs = 7;
    r.TxNss = 1;
    r.Rssi[0] = -50;
    r.Rssi[1] = -60;
    r.Rssi[2] = r.Rssi[3] = -100;
    return r;
}

void Reset() {
    S() = State{};
    S().next = UsableRecord();
}

}  // namespace fakecsi

using fakecsi::S;

int qx_wifi_initCSI(uint8_t* mac) {
    ++S().init_calls;
    if (!S().present) return 0;
    std::memcpy(mac, S().mac, 6);
    return 1;
}

qx::CsiRecord* qx_wifi_getCSI(void* /*unused*/) {
    ++S().get_calls;
    if (S().on_get) S().on_get(S().get_calls);
    if (!S().deliver) return nullptr;
    S().next.RxBytes += S().rx_step;
    auto* r = static_cast<qx::CsiRecord*>(std::malloc(sizeof(qx::CsiRecord)));
    if (r == nullptr) return nullptr;
    *r = S().next;
    ++S().live_records;
    return r;
}

int qx_wifi_releaseCSI(qx::CsiRecord* record) {
    ++S().release_calls;
    if (record != nullptr) {
        --S().live_records;
        std::free(record);
    }
    return 1;
}

int qx_wifi_cleanCSI(void) {
    ++S().clean_calls;
    return 1;
}
