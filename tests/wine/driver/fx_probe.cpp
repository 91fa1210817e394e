// Asks our framework double under Wine ("\\.\QXKMDFCTL") what it saw and
// did, one step per argument, one line per step for the test script:
//   state                 the PnP manager's counts and the framework's
//   violations            the number of contract violations, then each one
//   started SECONDS       waits until the device is started (exit 1 if not)
//   disable | enable      the device node, as the Configuration Manager asks
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
        } else {
            std::printf("unknown step %s\n", step.c_str());
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
