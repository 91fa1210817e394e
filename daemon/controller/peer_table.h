// Link statistics of the steered interface: the per-cycle station sample, the
// table of peers (access points) it was taken against, and the steering
// update that turns the interface's record into one link report.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "daemon/base/daemon_state.h"

namespace qx {

// The link sample of one cycle, filled by the WLAN layer.
struct StationSample {
    uint8_t PeerMac[6];   // the associated access point
    uint8_t LinkState;    // 1 or 2: usable link; 0: none
    uint16_t RxDeltaTag;  // low 16 bits of RxBytesDelta
    uint64_t RxBytesDelta;
    uint64_t TxBytesDelta;
    uint32_t RxPackets;  // low 32 bits of the cumulative counters
    uint32_t TxPackets;
    uint32_t RxAirtime;  // microseconds
    uint32_t TxAirtime;
    int8_t Rssi[2];  // dBm, chains 0 and 1
    int8_t RssiAlt[2];
    uint32_t ProviderOk;
    uint32_t TxRateMbps;
    uint8_t TxMcs;
    uint8_t TxNss;
    uint8_t TxBandwidthMHz;
    uint8_t TxShortGi;
    uint32_t RxRateMbps;
    uint8_t RxMcs;
    uint8_t RxNss;
    uint8_t RxBandwidthMHz;
    uint8_t RxShortGi;
};
static_assert(offsetof(StationSample, LinkState) == 6, "field order");
static_assert(offsetof(StationSample, RxDeltaTag) == 8, "field order");
static_assert(offsetof(StationSample, RxBytesDelta) == 16, "field order");
static_assert(offsetof(StationSample, RxPackets) == 32, "field order");
static_assert(offsetof(StationSample, Rssi) == 48, "field order");
static_assert(offsetof(StationSample, ProviderOk) == 52, "field order");
static_assert(offsetof(StationSample, RxRateMbps) == 64, "field order");
static_assert(sizeof(StationSample) == 72, "station sample");

// One peer of the steered interface; also the shape of the record the WLAN
// layer hands in (then Updated, Stale and both links are zero).
struct PeerRecord {
    uint8_t PeerMac[6];
    uint8_t AdapterMac[6];
    StationSample Stats;
    int32_t Updated;   // 1 once refreshed from a sample
    int32_t Stale;     // removed at the next purge
    PeerRecord* Next;  // insertion order, null for the last
    PeerRecord* Prev;  // the head's Prev is the last record
};
static_assert(offsetof(PeerRecord, Stats) == 16, "field order");
static_assert(offsetof(PeerRecord, Updated) == 88, "field order");

constexpr int32_t kMaxPeers = 128;

// The table itself (PeerTable, PeerCount, UpdateInProgress, LastReportedBssid)
// is one of the records in daemon/base/daemon_state.h.

// Test-mode bits that suppress the report, and the debug bit that builds it
// without writing it.
constexpr int32_t kTestModeNoReport = 0x100 | 0x200 | 0x1000;
constexpr int32_t kDebugNoReportWrite = 0x20000;

// Seconds and microseconds since 1970-01-01 UTC.
struct tv_t {
    int32_t tv_sec;
    int32_t tv_usec;
};
// Seconds and nanoseconds, the form the update works with.
struct ts_t {
    int64_t tv_sec;
    int32_t tv_nsec;
};

// Empties the table: every record still linked is freed and PeerCount is 0.
void ResetPeerTable();
// Merges a sample into the table; 0, or -1 when the table is full or no
// record could be allocated (the sample is dropped).
int32_t OnPeerStats(PeerRecord* record);
PeerRecord* FindPeer(const uint8_t mac[6]);
PeerRecord* FindPeerForInterface(const uint8_t mac[6]);
// Copies the record of the interface's current access point (links
// included): its oldest record that is not stale, else its oldest record.
// 0, or -1 when the interface has none.
int32_t TakeCycleStats(const uint8_t adapter_mac[6], PeerRecord* out);
void MarkPeerStale(const uint8_t mac[6]);
// Marks every record of the adapter whose peer is not `peer` stale.
void MarkOtherPeersStale(const uint8_t adapter_mac[6], const uint8_t peer[6]);
// Removes stale records (all of them when `all`); returns the number kept.
int32_t PurgePeers(bool all);

// 0, or the negative transport result.
int32_t SteeringUpdate(PeerRecord* record, int32_t debug_mask, int32_t test_mode);
int32_t SendLinkReport(const ts_t& t, const PeerRecord* record, int32_t debug_mask);

// Signal strength as quarter-dB steps above -100 dBm, clamped to 0..255.
uint8_t RssiToReportByte(int8_t dbm);
// (rx + tx) / 2 over a wrapping 32-bit sum, truncated to 16 bits.
uint16_t TrafficValue(uint32_t rx_packets, uint32_t tx_packets);

void UnixTimeNow(tv_t* out);
// "%02x:%02x:%02x:%02x:%02x:%02x"; out holds at least 18 bytes.
void FormatMac(const uint8_t mac[6], char* out);

}  // namespace qx
