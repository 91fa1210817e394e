// Record and frame builders of the controller's commands: pure byte layout,
// no I/O, so that they build and test anywhere.
#include "daemon/controller/commands.h"

namespace qx {

namespace {

uint8_t NibblePair(uint32_t low, uint32_t high) {
    return static_cast<uint8_t>((high << 4) | low);
}

// Record + separator + close, the frame shape of the commands that carry one record.
int32_t FinishSingleRecordFrame(FrameBuffer& buf, int32_t record_len) {
    if (record_len < 0) return record_len;
    uint8_t pos = 0;
    if (FinishRecord(buf, &pos, static_cast<uint8_t>(record_len)) < 0) return kFrameTooLong;
    return CloseFrame(buf, pos);
}

}  // namespace

void PackNibblePairs(uint32_t value, uint8_t out[2]) {
    out[0] = NibblePair(value & 0xFF, (value >> 8) & 0xFF);
    out[1] = NibblePair((value >> 16) & 0xFF, (value >> 24) & 0xFF);
}

void ConfigAccessCode(uint8_t out[4]) {
    // Built at run time from the four constant bytes the firmware expects.
    for (int i = 0; i < qxproto::kAccessCodeLen; ++i) out[i] = qxproto::kConfigAccessCode[i];
}

ControllerSettings BuildControllerSettings(const ControllerConfig& config) {
    ControllerSettings cfg{};
    cfg.Head = 4;
    cfg.Zero = 0;
    cfg.SteeringMode = static_cast<uint8_t>(config.SteeringMode);
    cfg.WLimit = static_cast<uint8_t>(config.WLimit);
    cfg.SLimit = static_cast<uint8_t>(config.SLimit);
    uint32_t chains = static_cast<uint32_t>(config.AntennaChainConfig);
    for (int i = 0; i < 4; ++i)
        cfg.AntennaChain[i] = static_cast<int32_t>((chains >> (8 * i)) & 0xFF);
    return cfg;
}

void SettingsBytes(const ControllerSettings& cfg, uint8_t out[6]) {
    // The block's first two values share one byte: 4 in the high nibble, 0 in the low.
    out[0] = NibblePair(static_cast<uint32_t>(cfg.Zero), static_cast<uint32_t>(cfg.Head));
    out[1] = cfg.SteeringMode;
    out[2] = cfg.WLimit;
    out[3] = cfg.SLimit;
    out[4] = NibblePair(static_cast<uint32_t>(cfg.AntennaChain[0]),
                        static_cast<uint32_t>(cfg.AntennaChain[1]));
    out[5] = NibblePair(static_cast<uint32_t>(cfg.AntennaChain[2]),
                        static_cast<uint32_t>(cfg.AntennaChain[3]));
}

int32_t PutConfigWrite(FrameBuffer& buf, uint8_t pos, const ControllerSettings& cfg) {
    uint8_t data[kConfigWriteLen];
    ConfigAccessCode(data);
    SettingsBytes(cfg, data + 4);
    return PutRecord(buf, pos, kTypeConfigWrite, data, kConfigWriteLen);
}

int32_t PutMSwitchTableRecord(FrameBuffer& buf, uint8_t pos, const uint8_t m2s[16]) {
    uint8_t data[kMSwitchTableLen];
    for (int g = 0; g < 4; ++g) {
        const uint8_t* group = m2s + 4 * g;
        data[2 * g] = NibblePair(group[0], group[1]);
        data[2 * g + 1] = NibblePair(group[2], group[3]);
    }
    return PutRecord(buf, pos, kTypeMSwitchTable, data, kMSwitchTableLen);
}

int32_t PutLinkReportRecord(FrameBuffer& buf, uint8_t pos, uint64_t timestamp_ms,
                            const LinkReportEntry& entry) {
    constexpr uint8_t kEntries = 1;
    constexpr uint8_t kLen = qxproto::LinkReportLen(kEntries);
    // Written straight into the frame: this runs every steering cycle.
    if (pos + 2u + kLen > kFrameBufferSize)
        return PutRecord(buf, pos, kTypeLinkReport, nullptr, kLen);
    uint8_t* d = &buf[pos];
    uint32_t ts = static_cast<uint32_t>(timestamp_ms);
    d[0] = kLen;
    d[1] = kTypeLinkReport;
    d[2] = kEntries;
    d[3] = static_cast<uint8_t>(ts);
    d[4] = static_cast<uint8_t>(ts >> 8);
    d[5] = static_cast<uint8_t>(ts >> 16);
    d[6] = static_cast<uint8_t>(ts >> 24);
    // Wire order: flags, traffic (little-endian), both RSSI bytes, reserved.
    d[7] = static_cast<uint8_t>((entry.NewBssid ? qxproto::kLinkEntryNewBssid : 0x00) |
                                (entry.Flags2 & 0x7F));
    d[8] = static_cast<uint8_t>(entry.Traffic);
    d[9] = static_cast<uint8_t>(entry.Traffic >> 8);
    d[10] = entry.Rssi0;
    d[11] = entry.Rssi1;
    d[12] = entry.Reserved[0];
    d[13] = entry.Reserved[1];
    return 2 + kLen;
}

int32_t ConfigFrame(FrameBuffer& buf, const ControllerSettings& cfg) {
    uint8_t pos = 0;
    int32_t len = PutConfigWrite(buf, pos, cfg);
    if (len < 0 || FinishRecord(buf, &pos, static_cast<uint8_t>(len)) < 0) return kFrameTooLong;
    len = PutReadRequest(buf, pos, kConfigEchoLen, kTypeConfigEcho);
    if (len < 0 || FinishRecord(buf, &pos, static_cast<uint8_t>(len)) < 0) return kFrameTooLong;
    int32_t frame = CloseFrame(buf, pos);
    if (frame < 0) return frame;
    return MakeRwSize(static_cast<uint8_t>(frame), 2 + kConfigEchoLen);
}

int32_t VersionQuery(FrameBuffer& buf) {
    int32_t frame =
        FinishSingleRecordFrame(buf, PutReadRequest(buf, 0, kVersionLen, kTypeControllerVersion));
    if (frame < 0) return frame;
    return MakeRwSize(static_cast<uint8_t>(frame), 2 + kVersionLen);
}

int32_t MSwitchTable(FrameBuffer& buf, const uint8_t m2s[16]) {
    return FinishSingleRecordFrame(buf, PutMSwitchTableRecord(buf, 0, m2s));
}

int32_t LinkReport(FrameBuffer& buf, uint64_t timestamp_ms, const LinkReportEntry& entry) {
    return FinishSingleRecordFrame(buf, PutLinkReportRecord(buf, 0, timestamp_ms, entry));
}

}  // namespace qx
