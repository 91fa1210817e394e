// The overlapped-I/O seam's contract (daemon/transport/os_overlapped.h) as
// the transport builds on it, run against each half through a rig that
// makes that half's device behave one way or another: the controller model
// (_sim), QXVeltrane on the KMDF simulation (_kmdf) and, under Wine, our
// "\\.\QXSPB" double (_win32). Each rig is one file beside this one.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

// How the device ends the requests issued from now on.
enum class DeviceBehaviour {
    kAtOnce,       // completes every request inside its issue
    kPending,      // leaves them pending until they are cancelled
    kFailNow,      // fails them at once
    kCancelLate,   // pending, and completes a cancelled one 300 ms after the cancel
    kCancelNever,  // pending, and never completes a cancelled one until told otherwise
    kOpenRefused,  // refuses the transport's open
};

class OverlappedRig {
  public:
    virtual ~OverlappedRig() = default;
    // Whether waits run on the notebook's virtual clock: then every time is exact.
    virtual bool VirtualTime() const = 0;
    // Whether this half's device can be made to behave so.
    virtual bool Can(DeviceBehaviour b) const = 0;
    // Runs body on a fresh device that completes at once, the transport
    // closed; returns what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    virtual void Behave(DeviceBehaviour b) = 0;
    virtual long long NowMs() = 0;
};

// The half linked into this test.
OverlappedRig& Rig();

}  // namespace qxtest
