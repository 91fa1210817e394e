// Drives the daemon's real transport and device-node reset under Wine, one
// step per argument, and prints one line per step for the test script:
//   open | close | mode K=V,... | log | reset | which
//   disable | enable | quietdisable | quietenable
//   write HEX | writenull HEX | read N | readnull N | setup A,W,S,N,O | sleep MS
// One iostat record lives across all steps, preset to 7/7 so that a field
// the transport must not touch shows it.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "daemon/controller/commands.h"
#include "daemon/transport/transport.h"
#include "protocol/responder.h"
#include "tests/wine/doubles/qxspb_ctl.h"

namespace {

qx::iostat_t g_iostat = {7, 7};

bool ParseHex(const char* text, std::vector<uint8_t>* out) {
    std::string digits;
    for (const char* p = text; *p; ++p)
        if (*p != ' ' && *p != ':') digits += *p;
    if (digits.size() % 2 != 0) return false;
    for (size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        std::string pair = digits.substr(i, 2);
        unsigned long v = std::strtoul(pair.c_str(), &end, 16);
        if (*end != '\0') return false;
        out->push_back(static_cast<uint8_t>(v));
    }
    return true;
}

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof(b), i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

HANDLE OpenControl() {
    return CreateFileW(L"\\\\.\\QXSPBCTL", GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

bool Control(DWORD code, void* in, DWORD in_len, void* out, DWORD out_len) {
    HANDLE h = OpenControl();
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("control device: error %lu\n", GetLastError());
        return false;
    }
    DWORD got = 0;
    BOOL ok = DeviceIoControl(h, code, in, in_len, out, out_len, &got, nullptr);
    if (!ok) std::printf("control request: error %lu\n", GetLastError());
    CloseHandle(h);
    return ok != FALSE;
}

// How a transfer ends; a fault lasts until the next mode step.
qxproto::Outcome ModeValue(const std::string& v) {
    if (v == "pending") return qxproto::Outcome::Pending;
    if (v == "fail") return qxproto::Outcome::FailNow;
    return qxproto::Outcome::Complete;
}

// mode write=pending,read=fail,open=refuse,echo=wrong,silent,delay=30,version=5.4.2,
// cancel=300|never|now (the version as d0.d1.d2, the order of the reply
// bytes; cancel: how long the double takes to complete a cancelled request).
// What a step leaves out is the controller's power-on setting.
bool SetMode(const char* spec) {
    QxDoubleMode m = {};
    qxproto::Responder power_on;
    power_on.ClearFaults();
    m.controller = power_on.settings;
    std::string s = spec;
    size_t pos = 0;
    while (pos < s.size()) {
        size_t comma = s.find(',', pos);
        std::string item =
            s.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? s.size() : comma + 1;
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq),
                    val = eq == std::string::npos ? "" : item.substr(eq + 1);
        if (key == "write") {
            m.controller.write_outcome = ModeValue(val);
            m.controller.write_count = -1;
        } else if (key == "read") {
            m.controller.read_outcome = ModeValue(val);
            m.controller.read_count = -1;
        } else if (key == "open") {
            m.refuse_open = val == "refuse";
        } else if (key == "echo") {
            m.controller.wrong_echo = val == "wrong" ? -1 : 0;
        } else if (key == "silent") {
            m.controller.silent = 1;
        } else if (key == "delay") {
            m.controller.reply_delay_ms =
                static_cast<uint32_t>(std::strtoul(val.c_str(), nullptr, 10));
        } else if (key == "cancel") {
            m.cancel_delay_ms = val == "never"
                                    ? kQxCancelNever
                                    : static_cast<uint32_t>(std::strtoul(val.c_str(), nullptr, 10));
        } else if (key == "version") {
            unsigned a = 0, b = 0, c = 0;
            std::sscanf(val.c_str(), "%u.%u.%u", &a, &b, &c);
            m.controller.version[0] = static_cast<uint8_t>(a);
            m.controller.version[1] = static_cast<uint8_t>(b);
            m.controller.version[2] = static_cast<uint8_t>(c);
        }
    }
    return Control(QXCTL_SET_MODE, &m, sizeof(m), nullptr, 0);
}

void PrintLog() {
    static QxDoubleLog log;
    if (!Control(QXCTL_GET_LOG, nullptr, 0, &log, sizeof(log))) return;
    const qxproto::ResponderLog& c = log.controller;
    std::printf("log opens=%u writes=%u reads=%u cancelled=%u frames_ok=%u frames_bad=%u\n",
                log.opens, log.writes, log.reads, log.cancelled, c.frames_ok, c.frames_bad);
    std::printf(
        "log config_writes=%u echo_reads=%u version_reads=%u switch_tables=%u link_reports=%u\n",
        c.config_writes, c.echo_reads, c.version_reads, c.switch_tables, c.link_reports);
    std::printf("log handles=%d\n", log.handles);
    std::printf("log settings=%s switch_table=%s\n", Hex(c.settings, 6).c_str(),
                Hex(c.switch_table, 8).c_str());
    std::printf("log wake_bytes=%u ignored_records=%u\n", c.wake_bytes, c.ignored_records);
    for (uint32_t i = 0; i < log.trace_len && i + log.trace[i] < log.trace_len;) {
        std::printf("log write %s\n", Hex(log.trace + i + 1, log.trace[i]).c_str());
        i += 1u + log.trace[i];
    }
}

ULONGLONG Now() {
    return GetTickCount64();
}

// Which cfgmgr32.dll the process bound to: ours has a marker export.
void PrintWhich() {
    HMODULE m = GetModuleHandleW(L"cfgmgr32.dll");
    if (m == nullptr)
        std::printf("cfgmgr32 not loaded\n");
    else
        std::printf("cfgmgr32 %s\n",
                    GetProcAddress(m, "qx_cfgmgr32_standin") != nullptr ? "standin" : "wine");
}

// setup A,W,S,N,O: SetupController with -a -w -s -n -o as given.
void RunSetup(const char* spec) {
    qx::ControllerConfig config = {1, 0, 10, 50, 1, 770, 134480138};
    std::sscanf(spec, "%d,%d,%d,%d,%d", &config.SteeringMode, &config.WLimit, &config.SLimit,
                &config.AntennaChainConfig, &config.MSwitch);
    uint8_t fwrev[3] = {9, 9, 9};
    ULONGLONG t0 = Now();
    int r = qx::SetupController(config, fwrev);
    std::printf("setup -> %d fwrev=%d.%d.%d ms=%llu\n", r, fwrev[0], fwrev[1], fwrev[2],
                Now() - t0);
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string step = argv[i];
        const char* arg = i + 1 < argc ? argv[i + 1] : "";
        if (step == "open") {
            std::printf("open -> %d\n", qx::TransportOpen());
        } else if (step == "close") {
            qx::TransportClose();
            std::printf("close\n");
        } else if (step == "mode") {
            ++i;
            std::printf("mode %s\n", SetMode(arg) ? "set" : "failed");
        } else if (step == "log") {
            PrintLog();
        } else if (step == "reset") {
            std::printf("reset %s\n",
                        Control(QXCTL_RESET, nullptr, 0, nullptr, 0) ? "done" : "failed");
        } else if (step == "disable") {
            qx::DisableControllerNode(true);
        } else if (step == "enable") {
            qx::EnableControllerNode(true);
        } else if (step == "quietdisable") {
            qx::DisableControllerNode(false);
        } else if (step == "quietenable") {
            qx::EnableControllerNode(false);
        } else if (step == "which") {
            PrintWhich();
        } else if (step == "setup") {
            ++i;
            RunSetup(arg);
        } else if (step == "sleep") {
            ++i;
            Sleep(static_cast<DWORD>(std::strtoul(arg, nullptr, 10)));
            std::printf("slept\n");
        } else if (step == "write" || step == "writenull") {
            ++i;
            std::vector<uint8_t> bytes;
            if (!ParseHex(arg, &bytes)) {
                std::printf("bad hex: %s\n", arg);
                return 2;
            }
            ULONGLONG t0 = Now();
            int r = qx::TransportWrite(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                       step == "write" ? &g_iostat : nullptr);
            std::printf("%s -> %d wr=%d rd=%d ms=%llu\n", step.c_str(), r, g_iostat.wr_status,
                        g_iostat.rd_status, Now() - t0);
        } else if (step == "read" || step == "readnull") {
            ++i;
            uint32_t n = static_cast<uint32_t>(std::strtoul(arg, nullptr, 10));
            std::vector<uint8_t> buf(n + 1, 0xEE);
            ULONGLONG t0 = Now();
            int r = qx::TransportRead(buf.data(), n, step == "read" ? &g_iostat : nullptr);
            std::printf("%s -> %d wr=%d rd=%d ms=%llu bytes=%s\n", step.c_str(), r,
                        g_iostat.wr_status, g_iostat.rd_status, Now() - t0,
                        Hex(buf.data(), n).c_str());
        } else {
            std::printf("unknown step %s\n", step.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
