// Our iphlpapi.dll (loaded with WINEDLLOVERRIDES=iphlpapi=n): GetAdaptersInfo
// lists two adapters, an Ethernet adapter and then the notebook's Wi-Fi
// adapter (notebook_ids.h), so that the tests never depend on the machine's
// own interfaces. The .def forwards every other export to Wine's copy.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include <cstring>

#include "tests/wine/doubles/notebook_ids.h"

namespace {

void Fill(IP_ADAPTER_INFO* a, const char* name, const char* description, const BYTE mac[6],
          DWORD index) {
    std::memset(a, 0, sizeof *a);
    std::strcpy(a->AdapterName, name);
    std::strcpy(a->Description, description);
    a->AddressLength = 6;
    std::memcpy(a->Address, mac, 6);
    a->Index = index;
    a->ComboIndex = index;
    a->Type = MIB_IF_TYPE_ETHERNET;
    std::strcpy(a->IpAddressList.IpAddress.String, "0.0.0.0");
    std::strcpy(a->IpAddressList.IpMask.String, "0.0.0.0");
}

}  // namespace

extern "C" {

// Tells a test which iphlpapi.dll it got.
__declspec(dllexport) DWORD WINAPI QxIphlpStandIn(void) {
    return 1;
}

DWORD WINAPI GetAdaptersInfo(PIP_ADAPTER_INFO info, PULONG size) {
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    const ULONG needed = 2 * sizeof(IP_ADAPTER_INFO);
    if (info == nullptr || *size < needed) {
        *size = needed;
        return ERROR_BUFFER_OVERFLOW;
    }
    static const BYTE ethernet[6] = {0x00, 0x1b, 0x21, 0x0a, 0x0b, 0x0c};
    static const BYTE wifi[6] = {QX_NOTEBOOK_MAC_BYTES};
    Fill(&info[0], QX_OTHER_ADAPTER_NAME, "Ethernet Connection", ethernet, 7);
    Fill(&info[1], QX_NOTEBOOK_ADAPTER_NAME, "Wireless-AC Network Adapter", wifi, 12);
    info[1].Type = IF_TYPE_IEEE80211;
    info[0].Next = &info[1];
    return ERROR_SUCCESS;
}

}  // extern "C"
