#include "daemon/wifi/csi_provider.h"

#include <new>

#include "daemon/base/daemon_state.h"
#include "daemon/wifi/intel_provider.h"
#include "daemon/wifi/os_provider_mem.h"
#include "daemon/wifi/qca_provider.h"

namespace qx {

// Calls never overlap, so no lock.
CqxWifiCSI* LinkProvider = nullptr;

namespace {

// The provider lives in the providers' own memory: destroyed in place, then given back.
void DestroyProvider() {
    LinkProvider->~CqxWifiCSI();
    os::ProviderFree(LinkProvider);
    LinkProvider = nullptr;
}

// 1: created and open, now held; 0: its Open failed and it is gone again;
// -1: it could not be created.
template <typename Vendor>
int32_t TryProvider() {
    void* memory = os::ProviderAlloc(sizeof(Vendor));
    if (memory == nullptr) return -1;
    LinkProvider = new (memory) Vendor();
    if (LinkProvider->Open() != 0) return 1;
    DestroyProvider();
    return 0;
}

}  // namespace

// Vendors are tried in a fixed order, Intel first; the first whose Open
// succeeds stays for the life of the process.
int32_t SelectProvider() {
    if (LinkProvider != nullptr) return 1;
    int32_t intel = TryProvider<CqxwificsiINTC>();
    if (intel != 0) return intel > 0 ? 1 : 0;
    return TryProvider<CqxwificsiQCA>() > 0 ? 1 : 0;
}

}  // namespace qx

int qx_wifi_initCSI(uint8_t* mac) {
    if (qx::LinkProvider == nullptr && qx::SelectProvider() == 0) return 0;
    return qx::LinkProvider->GetMac(mac);
}

qx::CsiRecord* qx_wifi_getCSI(void* unused) {
    if (qx::LinkProvider == nullptr) return nullptr;
    return qx::LinkProvider->GetCsi(unused);
}

int qx_wifi_releaseCSI(qx::CsiRecord* record) {
    qx::os::ProviderFree(record);
    return 1;
}

int qx_wifi_cleanCSI(void) {
    if (qx::LinkProvider != nullptr) {
        qx::LinkProvider->Close();
        qx::DestroyProvider();
    }
    return 1;
}
