// Fault injection for the virtual notebook: "fail the N-th call of kind K".
//
// Every seam of the notebook that can fail on a real machine (the heap, thread
// and event creation, the controller's device and node, the WLAN service, the
// vendor sources, the socket, the event log, the clock) asks the plan once per
// call. The plan counts the calls of each kind from the last Reset and answers
// true for the call it was told to fail (or for every call from that one on);
// the seam then fails that call the way Windows would. A clean run with
// nothing armed gives the counts a sweep walks through.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "sim/notebook.h"

namespace qxsim {

enum class FaultKind : int {
    kHeapAlloc,              // the process heap (HeapAlloc)
    kThreadCreate,           // CreateThread
    kEventCreate,            // CreateEventW
    kTransportOpen,          // the driver refuses the open of "\\.\QXSPB"
    kTransportWriteFailNow,  // a write fails at once (nothing left to cancel)
    kTransportWritePending,  // a write stays pending until it is cancelled
    kTransportReadFailNow,   // a read fails at once (nothing left to cancel)
    kTransportReadPending,   // a read stays pending until it is cancelled
    kTransportWriteLate,     // a write completes just as its wait expires
    kTransportReadLate,      // a read completes just as its wait expires
    kNodeDisable,            // CM_Disable_DevNode
    kNodeEnable,             // CM_Enable_DevNode
    kWlanOpen,               // WlanOpenHandle
    kWlanEnum,               // WlanEnumInterfaces
    kWlanQuery,              // GetAdaptersInfo, the adapter query behind the binding
    kWlanRegister,           // WlanRegisterNotification
    kProviderOpen,           // the vendor library's load, the vendor device's open
    kProviderList,           // the vendor adapter list, the interface table
    kProviderCsi,            // the vendor statistics call, the PPDU log command
    kProviderAlloc,          // the providers' own allocations (objects and records)
    kSocketOpen,             // socket()
    kSocketSend,             // sendto()
    kEventLogRegister,       // RegisterEventSourceW
    kEventLogReport,         // ReportEventW
    kClock,                  // GetSystemTimeAsFileTime's wall clock
    kCount
};

constexpr int kFaultKinds = static_cast<int>(FaultKind::kCount);

// "heap", "thread", "transport-write-pending" and so on: stable names for
// command lines and reports.
const char* FaultKindName(FaultKind kind);
// The kind of a name; false when there is none.
bool FaultKindFromName(const std::string& name, FaultKind* kind);

class FaultPlan {
  public:
    friend class Notebook;  // builds the one instance

    // Nothing armed, every count back to zero. One call, so that whoever
    // resets the notebook resets this with it.
    void Reset();

    // The n-th call (counting from 1) of this kind fails; with `from_then_on`
    // every later call fails too. Arming a kind again replaces its plan;
    // n 0 disarms it. Counts are not touched.
    void FailCall(FaultKind kind, uint64_t n, bool from_then_on = false);

    // Called by the seam once per call: counts it and tells whether it fails.
    bool Fails(FaultKind kind);

    // Calls of the kind since Reset, and how many of them were failed.
    uint64_t Calls(FaultKind kind) const;
    uint64_t Injected(FaultKind kind) const;

  private:
    FaultPlan() = default;
    struct Slot {
        std::atomic<uint64_t> calls{0};
        std::atomic<uint64_t> injected{0};
        std::atomic<uint64_t> fail_at{0};  // 0: not armed
        std::atomic<bool> from_then_on{false};
    };
    Slot slots_[kFaultKinds];
};

// The seam's one-liner: `if (qxsim::InjectFault(FaultKind::kX)) return <failure>;`
inline bool InjectFault(FaultKind kind) {
    return Notebook::Current().Faults().Fails(kind);
}

}  // namespace qxsim
