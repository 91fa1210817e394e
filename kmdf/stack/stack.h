// Brings up the driver stack on the host: QXVeltrane loaded on the simulated
// framework, its device added and started, and what sits on the bus.
#pragma once

#include <ntddk.h>

namespace kmdfsim {

enum class BusDevice {
    Echo,        // a read returns the last write
    Controller,  // the notebook's antenna controller model
};

// Resets the simulation, loads the driver and starts its device. Queues and
// bus work inline, so a transfer runs wholly on the calling thread and a
// caller on a virtual thread never waits on another real thread. Returns
// the start status.
NTSTATUS StartDriverStack(BusDevice device);
// Unloads the driver and clears the simulation.
void StopDriverStack();

}  // namespace kmdfsim
