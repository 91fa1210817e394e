// The peer table fed with station samples, roams (other peers marked stale),
// link losses, purges and cycle takes in any order. After every step: the
// list's links agree both ways, the count is the list's length and at most
// 128, every peer is in it once, and a cycle take returns the interface's
// oldest record that is not stale (else its oldest).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "daemon/controller/peer_table.h"

#include "tests/fuzz/fuzz_input.h"

namespace {

using qxfuzz::Check;
using qxfuzz::Reader;

void MacOf(uint8_t id, uint8_t out[6]) {
    const uint8_t mac[6] = {0x10, 0x6f, 0x3f, 0xa1, 0xb2, id};
    std::memcpy(out, mac, 6);
}

// Duplicates are looked for at the end only: that walk is quadratic.
void CheckTable(bool duplicates) {
    int32_t count = 0;
    const qx::PeerRecord* last = nullptr;
    for (const qx::PeerRecord* p = qx::PeerTable; p != nullptr; p = p->Next) {
        Check(++count <= qx::kMaxPeers, "more records than the table holds (or a cycle)");
        if (p != qx::PeerTable) Check(p->Prev == last, "a Prev link that disagrees");
        for (const qx::PeerRecord* q = qx::PeerTable; duplicates && q != p; q = q->Next)
            Check(std::memcmp(q->PeerMac, p->PeerMac, 6) != 0, "a peer listed twice");
        last = p;
    }
    Check(count == qx::PeerCount, "the count is not the list's length");
    if (qx::PeerTable != nullptr)
        Check(qx::PeerTable->Prev == last, "the head's Prev is not the last");
}

void CheckTake(const uint8_t adapter[6]) {
    const qx::PeerRecord* want = nullptr;
    for (const qx::PeerRecord* p = qx::PeerTable; p != nullptr; p = p->Next) {
        if (std::memcmp(p->AdapterMac, adapter, 6) != 0) continue;
        if (p->Stale == 0) {
            want = p;
            break;
        }
        if (want == nullptr) want = p;
    }
    qx::PeerRecord out{};
    const int32_t rc = qx::TakeCycleStats(adapter, &out);
    Check((rc == 0) == (want != nullptr), "a take that found or missed wrongly");
    if (want != nullptr)
        Check(std::memcmp(out.PeerMac, want->PeerMac, 6) == 0 && out.Stale == want->Stale,
              "a take of another record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qx::ResetPeerTable();
    Reader in{data, size};
    uint8_t adapters[2][6];
    MacOf(0xA0, adapters[0]);
    MacOf(0xA1, adapters[1]);
    for (int step = 0; step < 400 && in.n > 0; ++step) {
        const uint8_t op = in.Byte() % 8;
        uint8_t peer[6];
        // Mostly a few peers, sometimes any of 256 so that the table fills.
        const uint8_t id = in.Byte();
        MacOf(id & 0x80 ? id : id % 6, peer);
        const uint8_t* adapter = adapters[in.Byte() & 1];
        switch (op) {
            case 0:
            case 1:
            case 2: {
                qx::PeerRecord r{};
                std::memcpy(r.PeerMac, peer, 6);
                std::memcpy(r.AdapterMac, adapter, 6);
                r.Stats.LinkState = 1;
                r.Stats.RxDeltaTag = static_cast<uint16_t>(in.Byte() | in.Byte() << 8);
                r.Stats.Rssi[0] = static_cast<int8_t>(in.Byte());
                const int32_t before = qx::PeerCount;
                const bool known = qx::FindPeer(peer) != nullptr;
                const int32_t rc = qx::OnPeerStats(&r);
                if (rc == 0 && !known) Check(qx::PeerCount == before + 1, "a new peer not counted");
                if (rc != 0)
                    Check(!known && before == qx::kMaxPeers, "a sample refused below the limit");
                break;
            }
            case 3:
                qx::MarkPeerStale(peer);
                break;
            case 4:
                qx::MarkOtherPeersStale(adapter, peer);
                break;  // a roam
            case 5: {
                const bool all = in.Byte() & 1;
                const int32_t kept = qx::PurgePeers(all);
                Check(kept == qx::PeerCount, "purge returns another count");
                if (all)
                    Check(qx::PeerCount == 0 && qx::PeerTable == nullptr, "purge all kept some");
                for (const qx::PeerRecord* p = qx::PeerTable; p != nullptr; p = p->Next)
                    Check(p->Stale == 0, "a stale record survived the purge");
                break;
            }
            case 6:
                CheckTake(adapter);
                break;
            default:
                // The worker's report in progress: samples leave records alone.
                qx::UpdateInProgress.store(in.Byte() & 1, std::memory_order_relaxed);
                break;
        }
        CheckTable(false);
    }
    CheckTable(true);
    qx::UpdateInProgress.store(0, std::memory_order_relaxed);
    qx::PurgePeers(true);
    Check(qx::PeerCount == 0 && qx::PeerTable == nullptr, "records left after purging all");
    return 0;
}
