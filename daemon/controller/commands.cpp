// The controller's set-up sequence over the transport.
#include "daemon/controller/commands.h"

#include <cstring>

#include "daemon/base/os_thread.h"
#include "daemon/transport/transport.h"

namespace qx {

namespace {

constexpr int kConfigureAttempts = 5;

// Reply byte 0 and 1 are the echo record's header, bytes 2..7 the controller's
// copy of the settings. Compared with the settings as built, not with wr_buf,
// where escaping may have moved them.
bool EchoMatches(const uint8_t* reply, const uint8_t settings[6]) {
    if (reply[0] != kConfigEchoLen || reply[1] != kTypeConfigEcho) return false;
    for (int i = 0; i < 6; ++i) {
        if (reply[2 + i] != settings[i]) return false;
    }
    return true;
}

}  // namespace

int32_t ConfigureController(const ControllerSettings& cfg, int attempts) {
    uint8_t settings[6];
    SettingsBytes(cfg, settings);
    FrameBuffer wr_buf;
    FrameBuffer rd_buf;
    // Zeroed once, so that a reply that never arrives is not judged on
    // whatever the stack held. Not cleared between attempts.
    memset(rd_buf, 0, sizeof rd_buf);
    iostat_t iostat = {0, 0};
    for (int attempt = 0; attempt < attempts; ++attempt) {
        int32_t rw_size = ConfigFrame(wr_buf, cfg);
        if (rw_size < 0) return -1;
        TransportWrite(wr_buf, RwWriteSize(rw_size), &iostat);
        if (iostat.wr_status < 0) continue;  // nothing reached the controller: retry at once
        os::SleepMs(20);
        TransportRead(rd_buf, RwReadSize(rw_size), &iostat);
        if (EchoMatches(rd_buf, settings)) return 0;
        os::SleepMs(1100);
    }
    return -1;
}

int32_t ReadControllerVersion(uint8_t fwrev[3]) {
    FrameBuffer wr_buf;
    FrameBuffer rd_buf;
    memset(wr_buf, 0, sizeof wr_buf);
    memset(rd_buf, 0, sizeof rd_buf);
    int32_t rw_size = VersionQuery(wr_buf);
    if (rw_size < 0) return 0;
    iostat_t iostat = {0, 0};
    TransportWrite(wr_buf, RwWriteSize(rw_size), &iostat);
    if (iostat.wr_status < 0) return 0;
    os::SleepMs(10);
    TransportRead(rd_buf, RwReadSize(rw_size), &iostat);
    fwrev[0] = rd_buf[4];
    fwrev[1] = rd_buf[3];
    fwrev[2] = rd_buf[2];
    return 0;
}

void SendMSwitch(int32_t mswitch) {
    // Groups 0 and 1 carry MSwitch; groups 2 and 3 stay zero nibbles.
    uint8_t m2s[16] = {};
    uint32_t value = static_cast<uint32_t>(mswitch);
    for (int g = 0; g < 2; ++g) {
        for (int i = 0; i < 4; ++i) m2s[4 * g + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    FrameBuffer wr_buf;
    int32_t len = MSwitchTable(wr_buf, m2s);
    if (len < 0) return;
    TransportWrite(wr_buf, static_cast<uint32_t>(len), nullptr);
}

int32_t SetupController(const ControllerConfig& config, uint8_t fwrev[3]) {
    ControllerSettings cfg = BuildControllerSettings(config);
    uint8_t start_buf[1] = {WakeByte};
    TransportWrite(start_buf, 1, nullptr);
    os::SleepMs(50);
    if (ConfigureController(cfg, kConfigureAttempts) != 0) return -1;
    os::SleepMs(50);
    ReadControllerVersion(fwrev);
    os::SleepMs(10);
    SendMSwitch(config.MSwitch);
    os::SleepMs(10);
    return 0;
}

}  // namespace qx
