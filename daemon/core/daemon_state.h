// The daemon's process-wide records: one instance each, for the life of the
// process. Functions either take what they work on as parameters or use
// these records; what main shares with the worker and the event handlers
// besides (WorkerState, WlanMonitor) is main's and is handed in.
//
// Who writes what, and on which thread (everyone else only reads):
//
//   DaemonSettings    main, on its thread, during start-up, before any worker
//                     or WLAN notification thread exists; the end-of-process
//                     shutdown frees InterfaceName on the thread that runs it.
//                     Verbosity is read by every thread that logs (the
//                     console handler may log while main still parses).
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
//
// Records private to the module that keeps them, reached only through its
// functions:
//
//   peer table        PeerTable, PeerCount, UpdateInProgress,
//                     LastReportedBssid (daemon/controller/peer_table.h):
//                     the worker thread.
//   transport state   the open device and the abandoned requests
//                     (daemon/transport/transport.cpp): whoever holds the
//                     controller, the worker or the shutdown, in turn.
//   provider          the one link-statistics provider
//                     (daemon/wifi/csi_provider.cpp): InitWlan on main, the
//                     worker's samples, the shutdown; calls never overlap.
//   event source      (daemon/base/logging.cpp): main at start-up and on its
//                     exit path; read by every thread that logs.
//   telemetry         the UDP endpoint (daemon/core/telemetry.cpp): opened by
//                     InitWlan on main, closed by the shutdown.
//   event handlers    main's WorkerState for the power and console handlers,
//                     the session-end handler, the power callback, the sleep
//                     causes (daemon/core/power_events.cpp): main before the
//                     handlers are installed; the sleep causes by the power
//                     window and display threads.
//   power window      the window monitor (os_power_window_*.cpp):
//                     qx_winevent_init and qx_winevent_cleanup.
#pragma once

#include <atomic>
#include <cstdint>

#include "daemon/core/settings.h"
#include "daemon/core/steering_context.h"

namespace qx {

extern DaemonSettingsT DaemonSettings;
extern SteeringContextT SteeringContext;

inline int32_t Verbosity() {
    return DaemonSettings.Verbosity.load(std::memory_order_relaxed);
}

}  // namespace qx
