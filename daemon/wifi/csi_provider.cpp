#include "daemon/wifi/csi_provider.h"

#include <new>

#include "daemon/wifi/intel_provider.h"
#include "daemon/wifi/os_provider_mem.h"
#include "daemon/wifi/qca_provider.h"

namespace qx {

namespace {

// The one provider of the process; calls never overlap, so no lock.
CqxWifiCSI* g_provider = nullptr;

// The provider lives in the providers' own memory: destroyed in place, then given back.
void DestroyProvider() {
    g_provider->~CqxWifiCSI();
    os::ProviderFree(g_provider);
    g_provider = nullptr;
}

// 1: created and open, now held; 0: its Open failed and it is gone again;
// -1: it could not be created.
template <typename Provider>
int32_t TryProvider() {
    void* memory = os::ProviderAlloc(sizeof(Provider));
    if (memory == nullptr) return -1;
    g_provider = new (memory) Provider();
    if (g_provider->Open() != 0) return 1;
    DestroyProvider();
    return 0;
}

}  // namespace

// Vendors are tried in a fixed order, Intel first; the first whose Open
// succeeds stays for the life of the process.
int32_t SelectProvider() {
    if (g_provider != nullptr) return 1;
    int32_t intel = TryProvider<CqxwificsiINTC>();
    if (intel != 0) return intel > 0 ? 1 : 0;
    return TryProvider<CqxwificsiQCA>() > 0 ? 1 : 0;
}

}  // namespace qx

int qx_wifi_initCSI(uint8_t* mac) {
    if (qx::g_provider == nullptr && qx::SelectProvider() == 0) return 0;
    return qx::g_provider->GetMac(mac);
}

qx::CsiRecord* qx_wifi_getCSI(void* unused) {
    if (qx::g_provider == nullptr) return nullptr;
    return qx::g_provider->GetCsi(unused);
}

int qx_wifi_releaseCSI(qx::CsiRecord* record) {
    qx::os::ProviderFree(record);
    return 1;
}

int qx_wifi_cleanCSI(void) {
    if (qx::g_provider != nullptr) {
        qx::g_provider->Close();
        qx::DestroyProvider();
    }
    return 1;
}
