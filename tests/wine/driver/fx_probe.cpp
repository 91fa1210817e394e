// Asks our framework double under Wine ("\\.\QXKMDFCTL") what it saw and
// did, one step per argument, one line per step for the test script:
//   state                 the PnP manager's counts and the framework's
//   violations            the number of contract violations, then each one
//   started SECONDS       waits until the device is started (exit 1 if not)
//   disable | enable      the device node, as the Configuration Manager asks
// and the driver's own interface on one handle to "\\.\QXSPB", for what the
// daemon never sends:
//   open                  CreateFile and IOCTL_QXSPB_OPEN
//   lock | unlock | lockconn | unlockconn | signal | wait | close
//                         that control code, no buffers
//   writeread HEX N | duplex HEX N   a combined transfer: HEX out, N bytes back
//   write HEX | read N    a plain transfer
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/include/qxspb_public.h"
#include "kmdf/wine/fx_control.h"

namespace {

bool Control(DWORD code, const void* in, DWORD inLength, void* out, DWORD outLength, DWORD* got) {
    HANDLE h = CreateFileW(L"\\\\.\\QXKMDFCTL", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("control device: error %lu\n", GetLastError());
        return false;
    }
    const BOOL ok =
        DeviceIoControl(h, code, const_cast<void*>(in), inLength, out, outLength, got, nullptr);
    if (!ok) std::printf("control request: error %lu\n", GetLastError());
    CloseHandle(h);
    return ok != FALSE;
}

bool State(QxKmdfState* s) {
    DWORD got = 0;
    return Control(QXKMDF_GET_STATE, nullptr, 0, s, sizeof(*s), &got) && got == sizeof(*s);
}

void PrintState() {
    QxKmdfState s = {};
    if (!State(&s)) return;
    std::printf(
        "state bound=%u present=%u in_d0=%u adds=%u starts=%u d0_exits=%u removes=%u vetoes=%u "
        "last_start=0x%08x violations=%u requests=%u outstanding=%u\n",
        s.bound, s.present, s.in_d0, s.adds, s.starts, s.d0_exits, s.removes, s.vetoes,
        static_cast<unsigned>(s.last_start_status), s.violations, s.requests, s.outstanding);
}

void PrintViolations() {
    std::vector<char> text(64 * 1024);
    DWORD got = 0;
    if (!Control(QXKMDF_GET_VIOLATIONS, nullptr, 0, text.data(), static_cast<DWORD>(text.size()),
                 &got)) {
        return;
    }
    std::string all(text.data());
    unsigned count = 0;
    for (char c : all) count += c == '\n';
    std::printf("violations %u\n", count);
    size_t start = 0;
    for (size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
        std::printf("violation: %s\n", all.substr(start, end - start).c_str());
}

int WaitStarted(unsigned seconds) {
    const ULONGLONG deadline = GetTickCount64() + seconds * 1000ull;
    QxKmdfState s = {};
    do {
        HANDLE h =
            CreateFileW(L"\\\\.\\QXKMDFCTL", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            DWORD got = 0;
            const BOOL ok =
                DeviceIoControl(h, QXKMDF_GET_STATE, nullptr, 0, &s, sizeof(s), &got, nullptr);
            CloseHandle(h);
            if (ok && s.present && s.in_d0) {
                std::printf("started\n");
                return 0;
            }
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    std::printf("not started\n");
    return 1;
}

void Pnp(DWORD code, const char* what) {
    QxKmdfPnp answer = {};
    DWORD got = 0;
    if (!Control(code, QXKMDF_INSTANCE, sizeof(QXKMDF_INSTANCE), &answer, sizeof(answer), &got))
        return;
    static const char* const kOutcomes[] = {"done", "vetoed", "no node", "failed"};
    std::printf("%s %s status=0x%08x\n", what, answer.outcome < 4 ? kOutcomes[answer.outcome] : "?",
                static_cast<unsigned>(answer.status));
}

HANDLE g_device = INVALID_HANDLE_VALUE;

std::string Hex(const uint8_t* p, size_t n) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(b, sizeof(b), i ? " %02X" : "%02X", p[i]);
        s += b;
    }
    return s;
}

std::vector<uint8_t> FromHex(const char* text) {
    std::vector<uint8_t> out;
    for (const char* p = text; p[0] != 0 && p[1] != 0; p += 2) {
        const char pair[3] = {p[0], p[1], 0};
        out.push_back(static_cast<uint8_t>(std::strtoul(pair, nullptr, 16)));
    }
    return out;
}

// One request on the data handle; prints its outcome and what came back.
void Request(const char* what, DWORD code, std::vector<uint8_t> in, DWORD outLength) {
    std::vector<uint8_t> buffer(in.size() > outLength ? in.size() : outLength);
    std::copy(in.begin(), in.end(), buffer.begin());
    DWORD got = 0;
    BOOL ok;
    if (code == 0) {
        ok = WriteFile(g_device, buffer.data(), static_cast<DWORD>(in.size()), &got, nullptr);
    } else if (code == 1) {
        ok = ReadFile(g_device, buffer.data(), outLength, &got, nullptr);
    } else {
        ok = DeviceIoControl(g_device, code, in.empty() ? nullptr : buffer.data(),
                             static_cast<DWORD>(in.size()), outLength ? buffer.data() : nullptr,
                             outLength, &got, nullptr);
    }
    std::printf("%s -> %s info=%lu bytes=%s\n", what, ok ? "ok" : "error", got,
                ok ? Hex(buffer.data(), got).c_str() : std::to_string(GetLastError()).c_str());
}

bool DeviceStep(const std::string& step, int argc, char** argv, int* i) {
    static const struct {
        const char* name;
        DWORD code;
    } kCodes[] = {{"close", IOCTL_QXSPB_CLOSE},
                  {"lock", IOCTL_QXSPB_LOCK},
                  {"unlock", IOCTL_QXSPB_UNLOCK},
                  {"lockconn", IOCTL_QXSPB_LOCK_CONNECTION},
                  {"unlockconn", IOCTL_QXSPB_UNLOCK_CONNECTION},
                  {"signal", IOCTL_QXSPB_SIGNAL_INTERRUPT},
                  {"wait", IOCTL_QXSPB_WAIT_ON_INTERRUPT}};
    if (step == "open") {
        g_device = CreateFileW(QXSPB_DEVICE_PATH_W, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (g_device == INVALID_HANDLE_VALUE) {
            std::printf("open -> error %lu\n", GetLastError());
            return true;
        }
        Request("open", IOCTL_QXSPB_OPEN, {}, 0);
        return true;
    }
    for (const auto& c : kCodes) {
        if (step == c.name) {
            Request(c.name, c.code, {}, 0);
            return true;
        }
    }
    if ((step == "writeread" || step == "duplex") && *i + 2 < argc) {
        const std::vector<uint8_t> out = FromHex(argv[++*i]);
        const DWORD n = static_cast<DWORD>(std::strtoul(argv[++*i], nullptr, 10));
        Request(step.c_str(),
                step == "writeread" ? IOCTL_QXSPB_WRITE_READ : IOCTL_QXSPB_FULL_DUPLEX, out, n);
        return true;
    }
    if (step == "write" && *i + 1 < argc) {
        Request("write", 0, FromHex(argv[++*i]), 0);
        return true;
    }
    if (step == "read" && *i + 1 < argc) {
        Request("read", 1, {}, static_cast<DWORD>(std::strtoul(argv[++*i], nullptr, 10)));
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        if (step == "state") {
            PrintState();
        } else if (step == "violations") {
            PrintViolations();
        } else if (step == "started" && i + 1 < argc) {
            if (WaitStarted(static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10))) != 0)
                return 1;
        } else if (step == "disable") {
            Pnp(QXKMDF_DISABLE, "disable");
        } else if (step == "enable") {
            Pnp(QXKMDF_ENABLE, "enable");
        } else if (DeviceStep(step, argc, argv, &i)) {
        } else {
            std::printf("unknown step %s\n", step.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    if (g_device != INVALID_HANDLE_VALUE) CloseHandle(g_device);
    return 0;
}
