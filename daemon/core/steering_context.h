// The context record shared by main, the steering worker, the WLAN layer and
// the power and console event handlers; the process's one instance,
// SteeringContext, is in daemon_state.h.
#pragma once

#include <atomic>
#include <cstdint>

namespace qx {

// Flags and counters that several threads touch without a lock are atomics of
// the same width, used with relaxed ordering: the record keeps its layout and
// a stale read only delays a decision by one poll.
struct SteeringContextT {
    std::atomic<uint8_t> Running{0};
    std::atomic<uint8_t> Suspended{0};
    std::atomic<uint8_t> ShutdownRequested{0};
    std::atomic<int32_t> UpdatePeriodMs{0};
    uint8_t AdapterMac[6] = {};
    char InterfaceName[256] = {};
    void* WlanClient = nullptr;
    std::atomic<int32_t> WlanReady{0};
    std::atomic<int32_t> StartCount{0};
    std::atomic<int32_t> InitFailures{0};
};

// Shorthands for the relaxed accesses used everywhere.
template <typename T>
inline T Get(const std::atomic<T>& a) {
    return a.load(std::memory_order_relaxed);
}
template <typename T, typename V>
inline void Put(std::atomic<T>& a, V v) {
    a.store(static_cast<T>(v), std::memory_order_relaxed);
}

}  // namespace qx
