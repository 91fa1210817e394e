// The antenna controller's commands and its set-up sequence: wake byte,
// configuration write with echo check, version query, antenna switch table,
// and the layout of the per-cycle link report.
#pragma once

#include <cstddef>
#include <cstdint>

#include "daemon/controller/frame_codec.h"

namespace qx {

// Record types and lengths come from the protocol library, shared with every
// model of the controller.
using qxproto::kConfigEchoLen;
using qxproto::kConfigWriteLen;
using qxproto::kLinkEntryWireLen;
using qxproto::kMSwitchTableLen;
using qxproto::kTypeConfigEcho;
using qxproto::kTypeConfigWrite;
using qxproto::kTypeControllerVersion;
using qxproto::kTypeLinkReport;
using qxproto::kTypeMSwitchTable;
using qxproto::kVersionLen;
constexpr uint8_t WakeByte = qxproto::kWakeByte;  // sent alone, never framed

// The seven settings handed to SetupController, built by controller
// initialisation from the command line.
struct ControllerConfig {
    int32_t ControllerMode;      // always 1; not sent
    int32_t SteeringMode;        // -a
    int32_t WLimit;              // -w
    int32_t SLimit;              // -s
    int32_t ReportEnabled;       // always 1; not sent
    int32_t AntennaChainConfig;  // -n
    int32_t MSwitch;             // -o
};
static_assert(sizeof(ControllerConfig) == 28, "seven 32-bit settings");
static_assert(offsetof(ControllerConfig, SteeringMode) == 4, "field order");
static_assert(offsetof(ControllerConfig, AntennaChainConfig) == 20, "field order");
static_assert(offsetof(ControllerConfig, MSwitch) == 24, "field order");

// cfg: the controller settings block, the source of the ConfigWrite and of the
// echo check.
struct ControllerSettings {
    int32_t Head;             // 4
    int32_t Zero;             // 0
    uint8_t SteeringMode;     // low byte of -a
    uint8_t WLimit;           // low byte of -w
    uint8_t SLimit;           // low byte of -s
    int32_t AntennaChain[4];  // bytes b0..b3 of AntennaChainConfig
};

// One peer entry of a link report as the peer table fills it. On the wire the
// traffic value moves ahead of the RSSI bytes (see LinkReport).
struct LinkReportEntry {
    uint8_t NewBssid;     // 1 when the peer differs from the previous report's
    uint8_t Flags2;       // always 0
    uint8_t Rssi0;        // chain-0 RSSI report byte
    uint8_t Rssi1;        // chain-1 RSSI report byte
    uint8_t Reserved[2];  // 0
    uint16_t Traffic;
};
static_assert(sizeof(LinkReportEntry) == 8, "in-memory link-report entry");
static_assert(offsetof(LinkReportEntry, Rssi0) == 2, "entry layout");
static_assert(offsetof(LinkReportEntry, Traffic) == 6, "entry layout");

ControllerSettings BuildControllerSettings(const ControllerConfig& config);
// The six settings bytes of the ConfigWrite (and of the expected echo),
// before escaping.
void SettingsBytes(const ControllerSettings& cfg, uint8_t out[6]);
// Nibble-pair packing: (b1 << 4 | b0) and (b3 << 4 | b2), truncated to 8 bits.
void PackNibblePairs(uint32_t value, uint8_t out[2]);
// The four-byte code every ConfigWrite starts with.
void ConfigAccessCode(uint8_t out[4]);

// Record builders: write the record at pos, return 2 + L or kFrameTooLong.
int32_t PutConfigWrite(FrameBuffer& buf, uint8_t pos, const ControllerSettings& cfg);
int32_t PutMSwitchTableRecord(FrameBuffer& buf, uint8_t pos, const uint8_t m2s[16]);
int32_t PutLinkReportRecord(FrameBuffer& buf, uint8_t pos, uint64_t timestamp_ms,
                            const LinkReportEntry& entry);

// Frame builders, each building a whole frame at offset 0 of buf.
// ConfigFrame and VersionQuery return an rw_size (read size in the high byte);
// MSwitchTable and LinkReport return the frame length. kFrameTooLong on refusal.
int32_t ConfigFrame(FrameBuffer& buf, const ControllerSettings& cfg);
int32_t VersionQuery(FrameBuffer& buf);
int32_t MSwitchTable(FrameBuffer& buf, const uint8_t m2s[16]);
// timestamp_ms: milliseconds since 1970-01-01 UTC; its low 32 bits are sent.
int32_t LinkReport(FrameBuffer& buf, uint64_t timestamp_ms, const LinkReportEntry& entry);

// Set-up sequence: wake byte, configuration (5 attempts), version, switch table.
// Returns 0 when the configuration was acknowledged, -1 otherwise (then fwrev
// is untouched and nothing more is sent).
int32_t SetupController(const ControllerConfig& config, uint8_t fwrev[3]);
// Writes the configuration frame and checks the echo, up to `attempts` times.
// Returns 0 on a matching echo, -1 after the last attempt.
int32_t ConfigureController(const ControllerSettings& cfg, int attempts);
// Asks for the firmware revision: fwrev = d2, d1, d0 of the reply (0.0.0 when
// no reply came; untouched when the query could not be written). Returns 0.
int32_t ReadControllerVersion(uint8_t fwrev[3]);
// Sends the antenna switch table built from MSwitch; the outcome is not checked.
void SendMSwitch(int32_t mswitch);

}  // namespace qx
