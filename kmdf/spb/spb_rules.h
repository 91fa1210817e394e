// What an SPB controller takes from a peripheral driver beyond reads and
// writes: the locks of the controller and of the connection, and the
// transfer list of a sequence or full-duplex transfer, checked as the
// controller checks it. One model for the host's simulated controllers
// (kmdf/src/fx_target.cpp) and the controller double under Wine
// (tests/wine/doubles/spb_double.cpp).
//
// Freestanding (<stddef.h>, <stdint.h>): the double is a kernel driver over
// MinGW's DDK, the simulation is built over our client headers, and neither
// can include the other's. So the transfer list is read here from its x64
// layout (SPB_TRANSFER_LIST in kmdf/include/spb.h, checked against it there).
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace spbrules {

constexpr uint32_t kLockController = 0x00041800;
constexpr uint32_t kUnlockController = 0x00041804;
constexpr uint32_t kExecuteSequence = 0x00041808;
constexpr uint32_t kLockConnection = 0x0004180C;
constexpr uint32_t kUnlockConnection = 0x00041810;
constexpr uint32_t kFullDuplex = 0x00041814;

constexpr int32_t kSuccess = 0;
constexpr int32_t kInvalidParameter = static_cast<int32_t>(0xC000000D);
constexpr int32_t kInvalidDeviceRequest = static_cast<int32_t>(0xC0000010);
constexpr int32_t kNotSupported = static_cast<int32_t>(0xC00000BB);

constexpr uint32_t kFromDevice = 1;  // SpbTransferDirectionFromDevice
constexpr uint32_t kToDevice = 2;    // SpbTransferDirectionToDevice
constexpr uint32_t kFormatSimple = 1;

// x64 layout of SPB_TRANSFER_LIST and its entries.
constexpr size_t kListSize = 48;    // sizeof(SPB_TRANSFER_LIST): one entry
constexpr size_t kCountOffset = 8;  // TransferCount
constexpr size_t kTransfersOffset = 16;
constexpr size_t kEntrySize = 32;
constexpr size_t kDirectionOffset = 0;
constexpr size_t kFormatOffset = 8;   // Buffer.Format
constexpr size_t kBufferOffset = 16;  // Buffer.Simple.Buffer
constexpr size_t kLengthOffset = 24;  // Buffer.Simple.BufferCb

// The lock states of one connection's controller. A lock taken twice, or an
// unlock of what is not locked, is refused.
struct Locks {
    bool controller;
    bool connection;

    static bool Handles(uint32_t code) {
        return code == kLockController || code == kUnlockController || code == kLockConnection ||
               code == kUnlockConnection;
    }

    int32_t Apply(uint32_t code) {
        bool* state =
            code == kLockController || code == kUnlockController ? &controller : &connection;
        const bool lock = code == kLockController || code == kLockConnection;
        if (*state == lock) return kInvalidDeviceRequest;
        *state = lock;
        return kSuccess;
    }
};

struct Transfer {
    uint32_t direction;  // kToDevice or kFromDevice
    uint8_t* buffer;
    size_t length;
};

namespace detail {
template <class T>
T At(const uint8_t* p, size_t offset) {
    T v;
    __builtin_memcpy(&v, p + offset, sizeof(v));
    return v;
}
}  // namespace detail

// Checks the transfer list of a sequence or full-duplex request and gives
// its transfers (at most capacity). A full-duplex transfer is exactly a
// write and then a read; every buffer is a simple one.
inline int32_t ReadTransferList(uint32_t code, const void* list, size_t length, Transfer* transfers,
                                uint32_t capacity, uint32_t* count) {
    *count = 0;
    if (code != kExecuteSequence && code != kFullDuplex) return kNotSupported;
    const auto* p = static_cast<const uint8_t*>(list);
    if (p == nullptr || length < kListSize) return kInvalidParameter;
    const uint32_t n = detail::At<uint32_t>(p, kCountOffset);
    if (detail::At<uint32_t>(p, 0) != kListSize || n == 0 || n > capacity ||
        length < kTransfersOffset + n * kEntrySize) {
        return kInvalidParameter;
    }
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* e = p + kTransfersOffset + i * kEntrySize;
        Transfer t;
        t.direction = detail::At<uint32_t>(e, kDirectionOffset);
        t.buffer = detail::At<uint8_t*>(e, kBufferOffset);
        t.length = detail::At<uint32_t>(e, kLengthOffset);
        if (detail::At<uint32_t>(e, kFormatOffset) != kFormatSimple ||
            (t.buffer == nullptr && t.length != 0) ||
            (t.direction != kToDevice && t.direction != kFromDevice)) {
            return kInvalidParameter;
        }
        transfers[i] = t;
    }
    if (code == kFullDuplex &&
        (n != 2 || transfers[0].direction != kToDevice || transfers[1].direction != kFromDevice)) {
        return kInvalidParameter;
    }
    *count = n;
    return kSuccess;
}

}  // namespace spbrules
