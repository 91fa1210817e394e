// QXVeltrane's I/O surface on the KMDF simulation, with the simulation's rule
// checks on: handles opened and closed, any control code with any buffer
// sizes, reads and writes of any length, interrupt waits and signals, bus
// locks, cancellations, and a bus that completes inline, later, holds
// transfers, fails, refuses the address or stops short - in any order.
//
// After every input: the driver unloads with no framework object or request
// left behind and not one contract violation.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kmdf/inf/inf_properties.h"
#include "kmdf/kmdfsim.h"
#include "kmdf/stub/fx_stub.h"
#include "kmdf/usermode.h"
#include "qxveltrane.h"

#include "tests/fuzz/fuzz_input.h"

namespace {

using qxfuzz::Reader;

namespace um = kmdfsim::um;

void Check(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "%s\n", what);
    for (const auto& v : kmdfsim::Violations())
        std::fprintf(stderr, "  violation: %s\n", v.c_str());
    std::abort();
}

// An issued request and the buffers it owns until it completes.
struct Pending {
    um::Handle* handle;
    um::Io* io;
    std::vector<uint8_t> in, out;
};

const ULONG kCodes[] = {
    IOCTL_QXSPB_OPEN,
    IOCTL_QXSPB_CLOSE,
    IOCTL_QXSPB_LOCK,
    IOCTL_QXSPB_UNLOCK,
    IOCTL_QXSPB_WRITE_READ,
    IOCTL_QXSPB_LOCK_CONNECTION,
    IOCTL_QXSPB_UNLOCK_CONNECTION,
    IOCTL_QXSPB_SIGNAL_INTERRUPT,
    IOCTL_QXSPB_WAIT_ON_INTERRUPT,
    IOCTL_QXSPB_FULL_DUPLEX,
};

std::vector<uint8_t> Bytes(Reader& in, size_t count) {
    std::vector<uint8_t> b(count);
    for (auto& x : b) x = in.Byte();
    return b;
}

void ReleaseAll(std::vector<Pending>& pending, um::Handle* of) {
    for (size_t i = 0; i < pending.size();) {
        if (of != nullptr && pending[i].handle != of) {
            ++i;
            continue;
        }
        if (std::getenv("QX_FUZZ_TRACE") != nullptr)
            std::fprintf(stderr, "release %zu (done %d, held %d, cancels %d)\n", i,
                         um::Done(pending[i].io) ? 1 : 0, kmdfsim::Spb().Held(),
                         kmdfsim::Spb().Cancels());
        um::Release(pending[i].io);  // cancels and waits when still pending
        pending.erase(pending.begin() + static_cast<long>(i));
    }
}

int RunOnce(const uint8_t* data, size_t size);

}  // namespace

// QX_FUZZ_REPEAT=N runs each input N times: a finding that depends on thread
// timing then shows again when replayed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int repeat =
        std::getenv("QX_FUZZ_REPEAT") ? std::atoi(std::getenv("QX_FUZZ_REPEAT")) : 1;
    for (int i = 0; i < repeat; ++i) RunOnce(data, size);
    return 0;
}

namespace {

int RunOnce(const uint8_t* data, size_t size) {
    static kmdfsim::DeviceProperties properties = [] {
        kmdfsim::DeviceProperties p;
        std::string error;
        Check(kmdfsim::DevicePropertiesFromInf(kmdfsim::VeltraneInfPath(), &p, &error),
              "the INF did not read");
        // Several handles at once: the driver must be right with them too.
        p.exclusive = false;
        return p;
    }();
    Reader in{data, size};
    kmdfsim::Reset();
    kmdfsim::SetDeviceProperties(properties);
    Check(kmdfsim::LoadDriver(FxDriverEntry) == STATUS_SUCCESS, "the driver did not load");
    Check(kmdfsim::AddDevice() == STATUS_SUCCESS, "the device did not start");
    const uint8_t mode = in.Byte() % 3;
    kmdfsim::Spb().SetMode(mode == 0   ? kmdfsim::SpbMode::Inline
                           : mode == 1 ? kmdfsim::SpbMode::Async
                                       : kmdfsim::SpbMode::Hold,
                           mode == 1 ? 50 : 0);

    // QX_FUZZ_TRACE=1 tells each step when a finding is replayed.
    static const bool trace = std::getenv("QX_FUZZ_TRACE") != nullptr;
    std::vector<um::Handle*> handles;
    std::vector<Pending> pending;
    for (int step = 0; step < 48 && in.n > 0; ++step) {
        const uint8_t op = in.Byte() % 12;
        um::Handle* h = handles.empty() ? nullptr : handles[in.Byte() % handles.size()];
        if (trace)
            std::fprintf(stderr, "step %d: op %u, handle %p, %zu pending\n", step, op,
                         static_cast<void*>(h), pending.size());
        switch (op) {
            case 0:
                if (handles.size() < 4) {
                    if (um::Handle* opened = um::Open(QXSPB_DEVICE_PATH)) handles.push_back(opened);
                }
                break;
            case 1:
                if (h != nullptr) {
                    // As a program does: cancel what is in flight, then close.
                    ReleaseAll(pending, h);
                    um::Close(h);
                    for (size_t i = 0; i < handles.size(); ++i) {
                        if (handles[i] == h) handles.erase(handles.begin() + static_cast<long>(i));
                    }
                }
                break;
            case 2:
            case 3:
            case 4: {
                if (h == nullptr || pending.size() >= 16) break;
                const uint8_t pick = in.Byte();
                // Mostly the driver's codes, sometimes a neighbour or any code.
                ULONG code = kCodes[pick % 10];
                if (pick >= 240)
                    code = static_cast<ULONG>(in.Byte() | in.Byte() << 8 | in.Byte() << 16 |
                                              in.Byte() << 24);
                else if (pick >= 220)
                    code += 4 * (pick % 3) + 1;
                Pending p{h, nullptr, Bytes(in, in.Byte() % 40),
                          std::vector<uint8_t>(in.Byte() % 40)};
                p.io = um::DeviceControl(h, code, p.in.empty() ? nullptr : p.in.data(),
                                         static_cast<uint32_t>(p.in.size()),
                                         p.out.empty() ? nullptr : p.out.data(),
                                         static_cast<uint32_t>(p.out.size()));
                if (trace)
                    std::fprintf(stderr, "  control %08X in %zu out %zu\n",
                                 static_cast<unsigned>(code), p.in.size(), p.out.size());
                pending.push_back(std::move(p));
                break;
            }
            case 5:
            case 6: {
                if (h == nullptr || pending.size() >= 16) break;
                const size_t length = in.Byte() + (in.Byte() & 1 ? 256 : 0);
                if (trace)
                    std::fprintf(stderr, "  %s of %zu bytes\n", op == 5 ? "read" : "write", length);
                Pending p{h, nullptr, {}, {}};
                if (op == 5) {
                    p.out.resize(length);
                    p.io = um::Read(h, p.out.data(), static_cast<uint32_t>(length));
                } else {
                    p.in = Bytes(in, length);
                    p.io = um::Write(h, p.in.data(), static_cast<uint32_t>(length));
                }
                pending.push_back(std::move(p));
                break;
            }
            case 7:
                if (!pending.empty()) um::Cancel(pending[in.Byte() % pending.size()].io);
                break;
            case 8:
                if (!pending.empty()) {
                    const size_t i = in.Byte() % pending.size();
                    um::Release(pending[i].io);
                    pending.erase(pending.begin() + static_cast<long>(i));
                }
                break;
            case 9: {
                auto& spb = kmdfsim::Spb();
                const uint8_t what = in.Byte() % 4;
                if (what == 0) spb.ReleaseHeld(1 + in.Byte() % 3);
                if (what == 1) spb.FailNext(STATUS_IO_DEVICE_ERROR);
                if (what == 2) spb.NakNext();
                if (what == 3) spb.ShortNext(in.Byte() % 8);
                break;
            }
            case 10:
                kmdfsim::FireInterrupt();
                break;
            default:
                // A poll, as GetOverlappedResult without waiting: never blocks.
                if (!pending.empty()) (void)um::Wait(pending[in.Byte() % pending.size()].io, 0);
                break;
        }
    }
    ReleaseAll(pending, nullptr);
    for (um::Handle* h : handles) um::Close(h);
    kmdfsim::WaitInterruptsIdle(1000);
    kmdfsim::UnloadDriver();
    Check(kmdfsim::OutstandingRequests() == 0, "requests outstanding after unload");
    Check(kmdfsim::LiveObjects() == 0, "framework objects left after unload");
    Check(kmdfsim::Violations().empty(), "framework contract violations");
    kmdfsim::Reset();
    return 0;
}

}  // namespace
