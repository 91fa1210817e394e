// The daemon's process-wide records: one instance each, for the life of the
// process, all declared here and nowhere else. A function either uses these
// records or takes what it works on as parameters, never a parameter for
// something it could also reach here. What main shares with the worker and
// the event handlers besides (WorkerState, WlanMonitor) is main's and is
// handed in.
//
// The header sits on the floor of the daemon so that every folder can name
// the records without including the one above it; each record is defined by
// the module that keeps it.
//
// Who writes what, and on which thread (everyone else only reads):
//
//   DaemonSettings    main, on its thread, during start-up, before any worker
//                     or WLAN notification thread exists; the end-of-process
//                     shutdown frees InterfaceName on the thread that runs it.
//                     Verbosity is read by every thread that logs (the
//                     console handler may log while main still parses).
//                     Defined in daemon_state.cpp.
//   SteeringContext   Running: the worker (its run), main (start-up), the
//                     power window thread and the power manager's display
//                     thread (standing aside, waking), the shutdown.
//                     Suspended: the power handlers (those two threads).
//                     ShutdownRequested: the console handler's thread and the
//                     session end on the power window thread.
//                     UpdatePeriodMs: InitWlan on main, then the WLAN
//                     notification thread. StartCount, InitFailures: main and
//                     the worker. InterfaceName: main at start-up and in
//                     InitWlan. AdapterMac: InitWlan on main, then the worker
//                     at each interface refresh.
//                     WlanClient, WlanReady: InitWlan on main, the shutdown.
//                     Defined in daemon_state.cpp.
//   the peer table    PeerTable, PeerCount, LastReportedBssid: the worker
//                     thread alone. UpdateInProgress: the worker, read by
//                     the peer callback on the same thread.
//                     Defined in controller/peer_table.cpp.
//   TransportState    whoever holds the controller, the worker or the
//                     shutdown, in turn (WorkerState::ControllerFree); the
//                     transport keeps no lock of its own.
//                     Defined in transport/transport.cpp.
//   LinkProvider      InitWlan on main, the worker's samples, the shutdown;
//                     calls never overlap.
//                     Defined in wifi/csi_provider.cpp.
//
// Records private to the module that keeps them, reached only through its
// functions:
//
//   event source      (base/logging.cpp): main at start-up and on its exit
//                     path; read by every thread that logs.
//   telemetry         the UDP endpoint (base/telemetry.cpp): opened by
//                     InitWlan on main, closed by the shutdown.
//   event handlers    main's WorkerState for the power and console handlers,
//                     the session-end handler, the power callback, the sleep
//                     causes (core/power_events.cpp): main before the
//                     handlers are installed; the sleep causes by the power
//                     window and display threads.
//   power window      the window monitor (core/os_power_window_*.cpp):
//                     qx_winevent_init and qx_winevent_cleanup.
#pragma once

#include <atomic>
#include <cstdint>

namespace qx {

namespace os {
struct IoDevice;
struct IoRequest;
}  // namespace os
struct PeerRecord;
class CqxWifiCSI;

constexpr int kInterfaceNameSize = 256;
constexpr int kDriverInterfaceSize = 32;

// What the command line set; the defaults are the daemon's own.
struct DaemonSettingsT {
    char* InterfaceName = nullptr;  // 256-byte buffer allocated by main
    char DriverInterface[kDriverInterfaceSize] = {};
    int32_t UpdateRateMs = 100;
    int32_t OptionP = 0;
    int32_t DebugMask = 0;
    int32_t SteeringMode = 0;
    int32_t AntennaEnable = -1;
    int32_t TestMode = 0;
    int32_t MSwitch = 134480138;  // 0x0804010A
    int32_t SLimit = 50;
    int32_t WLimit = 10;
    int32_t CycleRateMs = 4000;
    int32_t BiDirectionalSpi = 0;
    int32_t AntennaChainConfig = 770;  // 0x302
    uint32_t RemoteUdpAddress = 0;
    // Read by every thread that logs, the console handler among them, which
    // may run while main still parses: atomic, same width, relaxed.
    std::atomic<int32_t> Verbosity{0};
    uint8_t OptionZ = 0;
    uint8_t FillTxRateFromRx = 0;
    uint8_t ForceLoad = 0;
    uint8_t UseAverageCsi = 0;
};

// Flags and counters that several threads touch without a lock are atomics of
// the same width, used with relaxed ordering: the record keeps its layout and
// a stale read only delays a decision by one poll.
struct SteeringContextT {
    std::atomic<uint8_t> Running{0};
    std::atomic<uint8_t> Suspended{0};
    std::atomic<uint8_t> ShutdownRequested{0};
    std::atomic<int32_t> UpdatePeriodMs{0};
    uint8_t AdapterMac[6] = {};
    char InterfaceName[kInterfaceNameSize] = {};
    void* WlanClient = nullptr;
    std::atomic<int32_t> WlanReady{0};
    std::atomic<int32_t> StartCount{0};
    std::atomic<int32_t> InitFailures{0};
};

// The byte channel's state: the open device, or null, and the requests the
// driver kept after their cancel. The kernel may still write into those, so
// they are freed only once they have completed and stay reachable from here
// until then. A stuck bus keeps every run's first transfer, at most one each,
// and refuses the rest: a few slots are plenty.
constexpr int kAbandonedSlots = 16;
struct TransportStateT {
    os::IoDevice* Device = nullptr;
    os::IoRequest* Abandoned[kAbandonedSlots] = {};
};

extern DaemonSettingsT DaemonSettings;
extern SteeringContextT SteeringContext;

// The peer table: a head pointer and its record count.
extern PeerRecord* PeerTable;
extern int32_t PeerCount;
// Set by the worker around SteeringUpdate; OnPeerStats leaves records alone then.
extern std::atomic<int32_t> UpdateInProgress;
// PeerMac of the most recently built report entry.
extern uint8_t LastReportedBssid[6];

extern TransportStateT TransportState;

// The one link-statistics provider of the process, or null.
extern CqxWifiCSI* LinkProvider;

inline int32_t Verbosity() {
    return DaemonSettings.Verbosity.load(std::memory_order_relaxed);
}

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
