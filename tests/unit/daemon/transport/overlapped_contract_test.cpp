// The outcomes of one write and one read over each half of the overlapped-I/O
// seam: what the transport returns, what it puts in iostat, and how long each
// call takes, for every way the device can end a request. Every half must
// give the same lines; a half whose device cannot behave some way skips it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "daemon/transport/transport.h"
#include "tests/unit/daemon/transport/overlapped_contract.h"

namespace qxtest {
namespace {

using B = DeviceBehaviour;

TEST(OverlappedContractTest, OutcomesOfOneWriteAndOneRead) {
    struct Case {
        const char* name;
        bool open;
        B behaviour;
        const char* result;  // "write ret status, read ret status, then ret"
        long long write_ms, read_ms;
    } cases[] = {
        {"never opened", false, B::kAtOnce, "write -1 7, read -1 7, then -1", 0, 0},
        {"at once", true, B::kAtOnce, "write 0 0, read 0 0, then 0", 0, 0},
        // A write still pending at 1000 ms is cancelled and fails; a read at
        // 2000 ms is cancelled too, and still counts as issued.
        {"pending", true, B::kPending, "write -1 -1, read 0 -1, then 0", 1000, 2000},
        {"fail at once", true, B::kFailNow, "write -1 -2, read -1 -2, then 0", 0, 0},
        // CancelIoEx only asks: the call waits for the late completion.
        {"cancel completed late", true, B::kCancelLate, "write -1 -1, read 0 -1, then 0", 1300,
         2300},
        // A bus that never lets go: the write gives up after the cancel's own
        // wait, the read behind it is not even issued, and once the bus lets
        // go the next write goes through.
        {"cancel never completed", true, B::kCancelNever, "write -1 -1, read -1 7, then 0", 2000,
         0},
        // A refused open leaves the transport closed: iostat untouched.
        {"open refused", true, B::kOpenRefused, "write -1 7, read -1 7, then -1", 0, 0},
    };
    OverlappedRig& rig = Rig();
    for (const auto& c : cases) {
        if (!rig.Can(c.behaviour)) continue;
        std::string out = rig.Run([&] {
            if (c.behaviour == B::kOpenRefused) rig.Behave(c.behaviour);
            if (c.open) qx::TransportOpen();
            if (c.behaviour != B::kOpenRefused) rig.Behave(c.behaviour);
            qx::iostat_t st = {7, 7};
            uint8_t buf[8] = {0x00};
            long long t0 = rig.NowMs();
            int w = qx::TransportWrite(buf, 1, &st);
            long long t1 = rig.NowMs();
            int rd = qx::TransportRead(buf, 5, &st);
            long long t2 = rig.NowMs();
            int wst = st.wr_status, rst = st.rd_status;
            rig.Behave(B::kAtOnce);
            int then = qx::TransportWrite(buf, 1, nullptr);
            qx::TransportClose();
            char line[128];
            std::snprintf(line, sizeof(line), "write %d %d, read %d %d, then %d|%lld %lld", w, wst,
                          rd, rst, then, t1 - t0, t2 - t1);
            return std::string(line);
        });
        long long write_ms = -1, read_ms = -1;
        size_t bar = out.find('|');
        if (bar != std::string::npos)
            std::sscanf(out.c_str() + bar + 1, "%lld %lld", &write_ms, &read_ms);
        EXPECT_EQ(out.substr(0, bar), c.result) << c.name;
        if (rig.VirtualTime()) {
            EXPECT_EQ(write_ms, c.write_ms) << c.name;
            EXPECT_EQ(read_ms, c.read_ms) << c.name;
        } else {
            // Real time: a wait may end a little early, and a loaded machine late.
            EXPECT_GE(write_ms, c.write_ms - 30) << c.name;
            EXPECT_LT(write_ms, c.write_ms + 600) << c.name;
            EXPECT_GE(read_ms, c.read_ms - 30) << c.name;
            EXPECT_LT(read_ms, c.read_ms + 600) << c.name;
        }
    }
}

}  // namespace
}  // namespace qxtest
