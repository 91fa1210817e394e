#include "daemon/controller/peer_table.h"

#include <cstdio>
#include <cstring>

#include "daemon/controller/commands.h"
#include "daemon/controller/os_clock.h"
#include "daemon/base/os_process.h"
#include "daemon/transport/transport.h"

namespace qx {

PeerRecord* PeerTable = nullptr;
int32_t PeerCount = 0;
std::atomic<int32_t> UpdateInProgress{0};
uint8_t LastReportedBssid[6] = {};

namespace {

// 1601-01-01 to 1970-01-01 in 100-ns units.
constexpr uint64_t kUnixEpochFileTime = 116444736000000000ull;

bool SameMac(const uint8_t a[6], const uint8_t b[6]) {
    return std::memcmp(a, b, 6) == 0;
}

void Unlink(PeerRecord* p) {
    if (p->Prev == p) {
        PeerTable = nullptr;
    } else if (p == PeerTable) {
        PeerTable = p->Next;
        PeerTable->Prev = p->Prev;  // the new head names the last record
    } else {
        p->Prev->Next = p->Next;
        if (p->Next != nullptr) {
            p->Next->Prev = p->Prev;
        } else {
            PeerTable->Prev = p->Prev;  // p was the last record
        }
    }
}

}  // namespace

void ResetPeerTable() {
    // Dropping only the head would lose the records still linked and leave
    // PeerCount counting them; the purge frees them and keeps the count in step.
    PurgePeers(true);
}

PeerRecord* FindPeer(const uint8_t mac[6]) {
    for (PeerRecord* p = PeerTable; p != nullptr; p = p->Next) {
        if (SameMac(p->PeerMac, mac)) return p;
    }
    return nullptr;
}

PeerRecord* FindPeerForInterface(const uint8_t mac[6]) {
    for (PeerRecord* p = PeerTable; p != nullptr; p = p->Next) {
        if (SameMac(p->AdapterMac, mac)) return p;
    }
    return nullptr;
}

int32_t OnPeerStats(PeerRecord* record) {
    PeerRecord* p = FindPeer(record->PeerMac);
    if (p == nullptr) {
        if (PeerCount >= kMaxPeers) return -1;
        p = static_cast<PeerRecord*>(os::HeapAllocZeroed(sizeof(PeerRecord)));
        if (p == nullptr) return -1;
        *p = *record;
        p->Next = nullptr;
        if (PeerTable == nullptr) {
            p->Prev = p;
            PeerTable = p;
        } else {
            PeerRecord* last = PeerTable->Prev;
            last->Next = p;
            p->Prev = last;
            PeerTable->Prev = p;
        }
        ++PeerCount;
    }
    if (UpdateInProgress.load(std::memory_order_relaxed) == 0) {
        PeerRecord* next = p->Next;
        PeerRecord* prev = p->Prev;
        *p = *record;  // Stale goes back to 0 with the copy
        p->Next = next;
        p->Prev = prev;
        p->Updated = 1;
    }
    return 0;
}

int32_t TakeCycleStats(const uint8_t adapter_mac[6], PeerRecord* out) {
    // After a roam the old access point's record stays in the table, stale,
    // until the next purge. Taking it (it is the older one) would feed the
    // controller a frozen link for up to a hundred cycles, so the interface's
    // current access point - a record that is not stale - comes first.
    PeerRecord* p = nullptr;
    for (PeerRecord* q = PeerTable; q != nullptr; q = q->Next) {
        if (!SameMac(q->AdapterMac, adapter_mac)) continue;
        if (q->Stale == 0) {
            p = q;
            break;
        }
        if (p == nullptr) p = q;
    }
    if (p == nullptr) return -1;
    *out = *p;
    return 0;
}

void MarkPeerStale(const uint8_t mac[6]) {
    for (PeerRecord* p = PeerTable; p != nullptr; p = p->Next) {
        if (SameMac(p->PeerMac, mac)) p->Stale = 1;
    }
}

void MarkOtherPeersStale(const uint8_t adapter_mac[6], const uint8_t peer[6]) {
    for (PeerRecord* p = PeerTable; p != nullptr; p = p->Next) {
        if (SameMac(p->AdapterMac, adapter_mac) && !SameMac(p->PeerMac, peer)) p->Stale = 1;
    }
}

int32_t PurgePeers(bool all) {
    int32_t kept = 0;
    PeerRecord* p = PeerTable;
    while (p != nullptr) {
        PeerRecord* next = p->Next;
        if (p->Stale != 0 || all) {
            Unlink(p);
            os::HeapFreeBlock(p);
        } else {
            ++kept;
        }
        p = next;
    }
    PeerCount = kept;
    return kept;
}

uint8_t RssiToReportByte(int8_t dbm) {
    int32_t x = 4 * static_cast<int32_t>(dbm);
    if (x < -400) x = -400;
    if (x > -145) x = -145;
    return static_cast<uint8_t>(x + 400);
}

uint16_t TrafficValue(uint32_t rx_packets, uint32_t tx_packets) {
    const uint32_t sum = rx_packets + tx_packets;  // wraps before the halving
    return static_cast<uint16_t>(sum / 2);
}

void UnixTimeNow(tv_t* out) {
    uint64_t ft = 0;
    uint16_t ms = 0;
    if (!os::SystemTimeAsFileTime(&ft, &ms)) {
        out->tv_sec = 0;
        out->tv_usec = 0;
        return;
    }
    out->tv_sec = static_cast<int32_t>((ft - kUnixEpochFileTime) / 10000000ull);
    out->tv_usec = static_cast<int32_t>(ms) * 1000;
}

int32_t SteeringUpdate(PeerRecord* record, int32_t debug_mask, int32_t test_mode) {
    tv_t tv;
    UnixTimeNow(&tv);
    ts_t t{static_cast<int64_t>(tv.tv_sec), tv.tv_usec * 1000};
    if ((test_mode & kTestModeNoReport) != 0) return 0;
    return SendLinkReport(t, record, debug_mask);
}

int32_t SendLinkReport(const ts_t& t, const PeerRecord* record, int32_t debug_mask) {
    const int64_t ms = t.tv_sec * 1000 + t.tv_nsec / 1000000;
    LinkReportEntry entry;
    std::memset(&entry, 0, sizeof entry);
    entry.Traffic = TrafficValue(record->Stats.RxPackets, record->Stats.TxPackets);
    entry.Flags2 = 0;
    entry.NewBssid = SameMac(record->PeerMac, LastReportedBssid) ? 0 : 1;
    std::memcpy(LastReportedBssid, record->PeerMac, 6);
    entry.Rssi0 = RssiToReportByte(record->Stats.Rssi[0]);
    entry.Rssi1 = RssiToReportByte(record->Stats.Rssi[1]);
    if ((debug_mask & kDebugNoReportWrite) != 0) return 0;

    FrameBuffer wr_buf;  // on the caller's stack: nothing shared between threads
    const int32_t len = LinkReport(wr_buf, static_cast<uint64_t>(ms), entry);
    if (len < 0) return -1;
    return TransportWrite(wr_buf, static_cast<uint32_t>(len), nullptr) < 0 ? -1 : 0;
}

void FormatMac(const uint8_t mac[6], char* out) {
    std::snprintf(out, 18, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
}

}  // namespace qx
