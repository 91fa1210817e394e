#include "sim/fault_plan.h"

namespace qxsim {

namespace {
const char* const kNames[kFaultKinds] = {
    "heap",
    "thread",
    "event",
    "transport-open",
    "transport-write-failnow",
    "transport-write-pending",
    "transport-read-failnow",
    "transport-read-pending",
    "transport-write-late",
    "transport-read-late",
    "node-disable",
    "node-enable",
    "wlan-open",
    "wlan-enum",
    "wlan-query",
    "wlan-register",
    "provider-open",
    "provider-list",
    "provider-csi",
    "provider-alloc",
    "socket-open",
    "socket-send",
    "eventlog-register",
    "eventlog-report",
    "clock",
};
}  // namespace

const char* FaultKindName(FaultKind kind) {
    const int i = static_cast<int>(kind);
    return i >= 0 && i < kFaultKinds ? kNames[i] : "?";
}

bool FaultKindFromName(const std::string& name, FaultKind* kind) {
    for (int i = 0; i < kFaultKinds; ++i) {
        if (name == kNames[i]) {
            *kind = static_cast<FaultKind>(i);
            return true;
        }
    }
    return false;
}

void FaultPlan::Reset() {
    for (Slot& s : slots_) {
        s.fail_at.store(0, std::memory_order_relaxed);
        s.from_then_on.store(false, std::memory_order_relaxed);
        s.calls.store(0, std::memory_order_relaxed);
        s.injected.store(0, std::memory_order_relaxed);
    }
}

void FaultPlan::FailCall(FaultKind kind, uint64_t n, bool from_then_on) {
    Slot& s = slots_[static_cast<int>(kind)];
    s.from_then_on.store(from_then_on, std::memory_order_relaxed);
    s.fail_at.store(n, std::memory_order_relaxed);
}

bool FaultPlan::Fails(FaultKind kind) {
    Slot& s = slots_[static_cast<int>(kind)];
    // Each call gets its own number even when two threads ask at once.
    const uint64_t call = s.calls.fetch_add(1, std::memory_order_relaxed) + 1;
    const uint64_t at = s.fail_at.load(std::memory_order_relaxed);
    if (at == 0) return false;
    const bool fail = call == at || (call > at && s.from_then_on.load(std::memory_order_relaxed));
    if (fail) s.injected.fetch_add(1, std::memory_order_relaxed);
    return fail;
}

uint64_t FaultPlan::Calls(FaultKind kind) const {
    return slots_[static_cast<int>(kind)].calls.load(std::memory_order_relaxed);
}

uint64_t FaultPlan::Injected(FaultKind kind) const {
    return slots_[static_cast<int>(kind)].injected.load(std::memory_order_relaxed);
}

}  // namespace qxsim
