// The virtual notebook's WLAN service: client handles, the interface list
// (by GUID) and ACM/MSM notifications, delivered to the registered callback
// at virtual times. By default it reports one interface, the link model's
// adapter, whose GUID formats to the adapter's name.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "sim/vkernel.h"

namespace qxsim {

using Guid = std::array<uint8_t, 16>;  // GUID in memory: Data1..3 little-endian, Data4

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (either case) into a GUID.
bool ParseGuidText(const char* text, Guid* out);
// The braced upper-case form, 38 units and a terminator, as StringFromGUID2 makes it.
void FormatGuidText(const Guid& guid, char16_t out[39]);

constexpr uint32_t kWlanSourceAcm = 0x08;
constexpr uint32_t kWlanSourceMsm = 0x10;

class WlanModel {
  public:
    using Callback = std::function<void(uint32_t source, uint32_t code, const Guid& guid)>;

    friend class Notebook;  // builds the one instance

    // Service up, the default interface list, no client, no failures.
    void Reset();

    // Interfaces: an explicit list, or (default) the link model's adapter.
    void SetInterfaces(std::vector<Guid> guids);
    void UseDefaultInterfaces();
    // Copies up to max GUIDs; returns how many interfaces there are.
    uint32_t CopyInterfaces(Guid* out, uint32_t max);

    // Failure knobs: Win32 codes returned by the next calls (0: succeed).
    void FailOpen(uint32_t code);
    void FailRegister(uint32_t code);
    void FailEnum(uint32_t code, int count);

    // The client side (the seam calls these).
    uint32_t Open(uint32_t client_version, uintptr_t* handle);
    uint32_t Close(uintptr_t handle);
    uint32_t Register(uintptr_t handle, uint32_t sources, bool ignore_duplicate, Callback callback);
    uint32_t Enum(uintptr_t handle);  // 0 when the handle is open and listing works

    // Scenario side: a notification now or at a virtual time. It reaches the
    // callback when a client registered for its source is open.
    void Notify(uint32_t source, uint32_t code, const Guid& guid);
    void NotifyAt(VTime when, uint32_t source, uint32_t code, const Guid& guid);

    // For tests.
    int OpenHandles();
    uint32_t LastClientVersion();
    uint32_t RegisteredSources();
    int Delivered();
    int EnumCalls();

  private:
    std::mutex m_;
    bool default_interfaces_ = true;
    std::vector<Guid> interfaces_;
    uint32_t open_fail_ = 0;
    uint32_t register_fail_ = 0;
    uint32_t enum_fail_ = 0;
    int enum_fail_count_ = 0;
    std::vector<uintptr_t> handles_;
    uintptr_t next_handle_ = 0x5000;
    uint32_t last_version_ = 0;
    uint32_t sources_ = 0;
    uintptr_t registered_handle_ = 0;
    Callback callback_;
    int delivered_ = 0;
    int enum_calls_ = 0;
};

}  // namespace qxsim
