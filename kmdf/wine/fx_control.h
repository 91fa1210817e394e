// The control device of our framework double under Wine, "\\.\QXKMDFCTL":
// what a test, or the Configuration Manager stand-in, asks of the framework
// and of the PnP manager it plays for the one device node. Plain C++ for
// user mode and kernel mode alike.
#pragma once

#include <stddef.h>
#include <stdint.h>

// CTL_CODE(0x8474, function, METHOD_BUFFERED, FILE_ANY_ACCESS).
#define QXKMDF_CTL_CODE(fn) ((0x8474u << 16) | ((fn) << 2))
#define QXKMDF_GET_STATE QXKMDF_CTL_CODE(0x900)  // out: QxKmdfState
#define QXKMDF_GET_VIOLATIONS \
    QXKMDF_CTL_CODE(0x901)                     // out: the violations, one a line, NUL-terminated
#define QXKMDF_DISABLE QXKMDF_CTL_CODE(0x902)  // in: instance id (UTF-16, NUL); out: QxKmdfPnp
#define QXKMDF_ENABLE QXKMDF_CTL_CODE(0x903)   // in: instance id (UTF-16, NUL); out: QxKmdfPnp

// The device node the PnP manager of the double plays.
#define QXKMDF_INSTANCE L"ACPI\\VLT0949\\1"

// What the PnP manager did with a disable or enable.
enum QxKmdfOutcome : uint32_t {
    kQxKmdfDone = 0,    // disabled (or already), started (or already)
    kQxKmdfVetoed = 1,  // a handle is open: the removal was vetoed
    kQxKmdfNoNode = 2,  // not the node this PnP manager knows
    kQxKmdfFailed = 3,  // the start failed; status says why
};

struct QxKmdfPnp {
    uint32_t outcome;  // QxKmdfOutcome
    int32_t status;    // of a failed start
};

struct QxKmdfState {
    uint32_t bound;             // a driver is bound to the framework
    uint32_t present;           // the device exists (added, not removed)
    uint32_t in_d0;             // and is in D0
    uint32_t adds;              // device adds the PnP manager ran
    uint32_t starts;            // of them, started: prepare hardware and D0 entry succeeded
    uint32_t d0_exits;          // D0 exits of a removal
    uint32_t removes;           // removals (release hardware, device deleted)
    uint32_t vetoes;            // removals vetoed by an open handle
    int32_t last_start_status;  // of the last add, 0 before any
    uint32_t violations;        // contract violations seen so far
    uint32_t requests;          // user requests handed to the framework
    uint32_t outstanding;       // of them not completed now
};
static_assert(sizeof(QxKmdfState) == 48, "state record crosses to user mode");
