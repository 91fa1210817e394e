// Heap allocations of one steady-state cycle of the WLAN layer: the adapter
// lookup and the sample may allocate only the provider's record and the
// adapter and interface lists, and free all of them again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "daemon/controller/peer_table.h"
#include "daemon/base/daemon_state.h"
#include "daemon/wifi/wlan_monitor.h"
#include "sim/notebook.h"
#include "sim/console_model.h"
#include "sim/iphlp_model.h"
#include "sim/link_model.h"
#include "sim/wlan_model.h"
#include "tests/support/fake_provider.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QX_COUNTING 0
#else
#define QX_COUNTING 1
#endif

namespace {
bool g_counting = false;
long g_allocs = 0;
long g_frees = 0;
}  // namespace

#if QX_COUNTING
// Counting allocator: glibc's own entry points do the work.
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t n) {
    if (g_counting) ++g_allocs;
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t m) {
    if (g_counting) ++g_allocs;
    return __libc_calloc(n, m);
}
void* realloc(void* p, size_t n) {
    if (g_counting) ++g_allocs;
    return __libc_realloc(p, n);
}
void free(void* p) {
    if (g_counting && p != nullptr) ++g_frees;
    __libc_free(p);
}
}
#endif

namespace qx {
namespace {

TEST(Allocations, OneSteadyStateCycle) {
    if (!QX_COUNTING) GTEST_SKIP() << "the sanitizers own the allocator";
    qxsim::Notebook::Current().Link().Reset();
    qxsim::Notebook::Current().IpHelper().Reset();
    qxsim::Notebook::Current().Wlan().Reset();
    qxsim::Notebook::Current().Console().SetEcho(false);
    fakecsi::Reset();
    std::strcpy(SteeringContext.InterfaceName, "win32");
    WlanMonitor wlan;
    ASSERT_EQ(InitWlan(wlan, "I2C"), 0);
    auto cycle = [&] {
        RefreshInterface(wlan);
        fakecsi::S().next.RxBytes += 1500;
        return RunLinkStep(wlan, OnPeerStats);
    };
    ASSERT_EQ(cycle(), 0);  // the peer's record is made here, once
    ASSERT_EQ(cycle(), 0);

    const struct {
        const char* what;
        bool ethernet_first;  // the Wi-Fi adapter second: the first 704-byte try overflows
        long allocs;
    } rows[] = {
        {"Wi-Fi adapter alone", false, 3},        // record, adapter list, interface list
        {"behind an Ethernet adapter", true, 4},  // plus the retried adapter list
    };
    for (const auto& r : rows) {
        qxsim::Notebook::Current().IpHelper().Reset();
        if (!r.ethernet_first) qxsim::Notebook::Current().IpHelper().SetExtraAdapters({});
        cycle();
        g_allocs = g_frees = 0;
        g_counting = true;
        int32_t rc = cycle();
        g_counting = false;
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(g_allocs, r.allocs) << r.what;
        EXPECT_EQ(g_frees, g_allocs) << r.what << ": everything allocated is freed";
    }
    EXPECT_EQ(PeerCount, 1);
    CloseWlanSource(wlan);
    PurgePeers(true);
}

}  // namespace
}  // namespace qx
