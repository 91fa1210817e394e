// Our stand-in for Intel's Wi-Fi management library, installed in the test
// prefix at the library's fixed path. It manages one adapter, the notebook's
// (notebook_ids.h), and answers the two calls the daemon makes with the
// request checks a real library would make (header version and size).
// Its answers come from HKCU\Software\QuellixTest\Murocapi:
//   Count (DWORD)        entry count written into the list (default 1)
//   Flag (DWORD)         the adapter entry's query flag (default 1)
//   ListStatus (DWORD)   status of WifiGetAdapterList (default 0)
//   StatsStatus (DWORD)  status of WifiGetBSSConfigurationStatistics (default 0)
//   Bss (REG_BINARY)     the statistics result, up to 73 bytes (default: an
//                        association with the notebook's access point)
//   Flowing (DWORD)      nonzero: the default result's byte and packet counters
//                        grow with time, as on a link carrying traffic
// and it counts the calls there: ListCalls, StatsCalls (DWORD).
// Built with QX_MUROCAPI_HELPER it is a library with a dependency of its own,
// as vendor libraries are: it imports murohelp.dll, which lies beside it, and
// takes the default signal strength of chain 0 from there.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "tests/wine/doubles/notebook_ids.h"
#include "tests/wine/doubles/standin_state.h"

#ifdef QX_MUROCAPI_HELPER
extern "C" __declspec(dllimport) int32_t QxMurohelpChain0Rssi();
#endif

namespace {

constexpr wchar_t kStateKey[] = L"Software\\QuellixTest\\Murocapi";
constexpr uint32_t kVersion = 156;
constexpr uint32_t kEntrySize = 2472;
constexpr uint32_t kListSize = 4 + 20 * kEntrySize;
constexpr uint32_t kBssSize = 73;
constexpr uint32_t kAdapterId = 0x2A;

struct Header {
    uint32_t version;
    uint32_t size;
    uint8_t zero[8];
};

DWORD ReadValue(const wchar_t* name, DWORD fallback) {
    return qxdouble::ReadStateValue(kStateKey, name, fallback);
}

// The bytes of a binary value; false when it is not set.
bool ReadBinary(const wchar_t* name, uint8_t* out, DWORD room) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kStateKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = room, type = 0;
    LONG rc = RegQueryValueExW(key, name, nullptr, &type, out, &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS && type == REG_BINARY;
}

void Count(const wchar_t* name) {
    DWORD value = ReadValue(name, 0) + 1;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kStateKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
}

bool HeaderIs(const void* header, uint32_t size) {
    if (header == nullptr) return false;
    Header h;
    std::memcpy(&h, header, sizeof h);
    static const uint8_t zero[8] = {};
    return h.version == kVersion && h.size == size && std::memcmp(h.zero, zero, 8) == 0;
}

void Put(uint8_t* p, uint64_t v, int size) {
    for (int i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void DefaultBss(uint8_t* b) {
    static const uint8_t bssid[6] = {QX_NOTEBOOK_BSSID_BYTES};
    std::memset(b, 0, kBssSize);
    Put(b + 4, 1, 4);
    std::memcpy(b + 8, bssid, 6);
    Put(b + 14, 250000, 8);  // bytes sent
    Put(b + 22, 300, 8);     // packets sent
    Put(b + 30, 390, 2);     // 390 Mbit/s, MCS 8, 1 stream, 80 MHz, short GI
    b[32] = 8;
    b[33] = 1;
    b[34] = 2;
    b[36] = 1;
    Put(b + 37, 1250000, 8);  // bytes received
    Put(b + 45, 900, 8);      // packets received
#ifdef QX_MUROCAPI_HELPER
    Put(b + 53, static_cast<uint32_t>(QxMurohelpChain0Rssi()), 4);
#else
    Put(b + 53, static_cast<uint32_t>(-52), 4);
#endif
    Put(b + 57, static_cast<uint32_t>(-58), 4);
    Put(b + 61, static_cast<uint32_t>(-100), 4);
    Put(b + 65, 433, 2);  // 433 Mbit/s, MCS 9, 1 stream, 80 MHz, short GI
    b[67] = 9;
    b[68] = 1;
    b[69] = 2;
    b[71] = 1;
}

// Traffic since the first statistics call: 1.25 MB/s received and 250 kB/s
// sent, in 1400-byte packets, so that every sample brings a new byte delta.
void AddTraffic(uint8_t* b) {
    static ULONGLONG first = GetTickCount64();
    const uint64_t ms = GetTickCount64() - first;
    Put(b + 14, 250000 + ms * 250, 8);
    Put(b + 22, 300 + ms * 250 / 1400, 8);
    Put(b + 37, 1250000 + ms * 1250, 8);
    Put(b + 45, 900 + ms * 1250 / 1400, 8);
}

// The list lives in the library, as Intel's does; callers only read it.
uint8_t g_list[kListSize];

}  // namespace

extern "C" {

uint32_t WifiGetAdapterList(void* header, void** list) {
    Count(L"ListCalls");
    if (!HeaderIs(header, kListSize) || list == nullptr) return ERROR_INVALID_PARAMETER;
    DWORD status = ReadValue(L"ListStatus", 0);
    if (status != 0) return status;
    static const uint8_t mac[6] = {QX_NOTEBOOK_MAC_BYTES};
    std::memset(g_list, 0, sizeof g_list);
    Put(g_list, ReadValue(L"Count", 1), 4);
    uint8_t* entry = g_list + 4;
    Put(entry, kAdapterId, 4);
    std::memcpy(entry + 4, mac, 6);
    Put(entry + 2444, ReadValue(L"Flag", 1), 4);
    *list = g_list;
    return 0;
}

uint32_t WifiGetBSSConfigurationStatistics(uint32_t adapter_id, void* header, void* bss) {
    Count(L"StatsCalls");
    if (!HeaderIs(header, kBssSize) || bss == nullptr) return ERROR_INVALID_PARAMETER;
    if (adapter_id != kAdapterId) return ERROR_NOT_FOUND;
    DWORD status = ReadValue(L"StatsStatus", 0);
    if (status != 0) return status;
    uint8_t result[kBssSize];
    DefaultBss(result);
    if (ReadValue(L"Flowing", 0) != 0) AddTraffic(result);
    ReadBinary(L"Bss", result, kBssSize);
    std::memcpy(bss, result, kBssSize);
    return 0;
}

}  // extern "C"
