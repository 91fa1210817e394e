// OS seam: IP Helper's adapter list (GetAdaptersInfo).
//
// The list comes back in the system's own layout, described by
// AdapterInfoRecord, so that the walk over the chain stays portable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/os_codes.h"

namespace qx::os {

using oscode::kErrorBufferOverflow;

// IP_ADDR_STRING (48 bytes on x64).
struct AdapterAddrString {
    AdapterAddrString* Next;
    char IpAddress[16];
    char IpMask[16];
    uint32_t Context;
};
static_assert(sizeof(AdapterAddrString) == 48, "IP_ADDR_STRING is 48 bytes");

// IP_ADAPTER_INFO (704 bytes on x64).
struct AdapterInfoRecord {
    AdapterInfoRecord* Next;
    uint32_t ComboIndex;
    char AdapterName[260];
    char Description[132];
    uint32_t AddressLength;
    uint8_t Address[8];
    uint32_t Index;
    uint32_t Type;
    uint32_t DhcpEnabled;
    AdapterAddrString* CurrentIpAddress;
    AdapterAddrString IpAddressList;
    AdapterAddrString GatewayList;
    AdapterAddrString DhcpServer;
    int32_t HaveWins;
    AdapterAddrString PrimaryWinsServer;
    AdapterAddrString SecondaryWinsServer;
    int64_t LeaseObtained;
    int64_t LeaseExpires;
};
static_assert(sizeof(AdapterInfoRecord) == 704, "IP_ADAPTER_INFO is 704 bytes");
static_assert(offsetof(AdapterInfoRecord, AdapterName) == 12, "");
static_assert(offsetof(AdapterInfoRecord, AddressLength) == 404, "");
static_assert(offsetof(AdapterInfoRecord, Address) == 408, "");
static_assert(offsetof(AdapterInfoRecord, IpAddressList) == 440, "");
static_assert(offsetof(AdapterInfoRecord, LeaseExpires) == 696, "");

// GetAdaptersInfo into buffer (*size bytes). 0 on success; 111 when the list
// does not fit, with *size set to what it needs; another Win32 error otherwise.
uint32_t GetAdaptersInfo(void* buffer, uint32_t* size);

}  // namespace qx::os
