// Drives the exported provider functions in the order its arguments name and
// prints what they return, one line per call:
//   init     qx_wifi_initCSI: "init <result> <mac>"
//   get      qx_wifi_getCSI, then qx_wifi_releaseCSI: "none" or the record
//   clean    qx_wifi_cleanCSI: "clean <result>"
//   release0 qx_wifi_releaseCSI(NULL): "release <result>"
// and, through the control device of our QCA double:
//   qcarec HEX     the record the PPDU log returns (zero-filled to 132 bytes)
//   qcafail CMD N  the next N log commands CMD fail ("any" for every command)
//   qcalog         "qcalog starts=.. stops=.. reads=.. bad=.. logging=.. handles=.."
// It restricts its library search first, as the daemon does, so that the
// providers load their libraries here as they do in quellix.exe.
#include "common/win/win32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "daemon/wifi/csi_provider.h"
#include "tests/wine/doubles/qca_ctl.h"

namespace {

void PrintMac(const uint8_t* m) {
    std::printf("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
}

void PrintRecord(const qx::CsiRecord* r) {
    std::printf("record status %u state %u peer ", r->Status, r->ConnectionState);
    PrintMac(r->PeerMac);
    std::printf("\n tx %llu bytes %llu packets rate %u mcs %u nss %u bw %u sgi %u\n",
                static_cast<unsigned long long>(r->TxBytes),
                static_cast<unsigned long long>(r->TxPackets), r->TxRate, r->TxMcs, r->TxNss,
                r->TxBandwidth, r->TxShortGi);
    std::printf(" rx %llu bytes %llu packets rate %u mcs %u nss %u bw %u sgi %u\n",
                static_cast<unsigned long long>(r->RxBytes),
                static_cast<unsigned long long>(r->RxPackets), r->RxRate, r->RxMcs, r->RxNss,
                r->RxBandwidth, r->RxShortGi);
    std::printf(" rssi %d %d %d %d avg %d %d %d %d\n", r->Rssi[0], r->Rssi[1], r->Rssi[2],
                r->Rssi[3], r->RssiAverage[0], r->RssiAverage[1], r->RssiAverage[2],
                r->RssiAverage[3]);
}

bool QcaControl(DWORD code, const void* in, DWORD in_size, void* out, DWORD out_size) {
    HANDLE h = CreateFileW(L"\\\\.\\ATHWIFICTL", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        std::printf("no QCA control device (%lu)\n", GetLastError());
        return false;
    }
    DWORD got = 0;
    BOOL ok =
        DeviceIoControl(h, code, const_cast<void*>(in), in_size, out, out_size, &got, nullptr);
    if (!ok) std::printf("QCA control 0x%lx failed (%lu)\n", code, GetLastError());
    CloseHandle(h);
    return ok != FALSE;
}

void QcaRecord(const char* hex) {
    uint8_t record[kQcaRecordSize] = {};
    for (size_t i = 0; i < kQcaRecordSize && hex[2 * i] != 0 && hex[2 * i + 1] != 0; ++i) {
        char pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        record[i] = static_cast<uint8_t>(std::strtoul(pair, nullptr, 16));
    }
    QcaControl(QCACTL_SET_RECORD, record, sizeof record, nullptr, 0);
}

void QcaFail(const char* command, const char* count) {
    QcaDoubleFail fail{};
    if (std::strcmp(command, "any") != 0)
        std::strncpy(fail.command, command, sizeof fail.command - 1);
    fail.count = static_cast<uint32_t>(std::strtoul(count, nullptr, 10));
    QcaControl(QCACTL_FAIL, &fail, sizeof fail, nullptr, 0);
}

void QcaLog() {
    QcaDoubleLog log{};
    if (!QcaControl(QCACTL_GET_LOG, nullptr, 0, &log, sizeof log)) return;
    std::printf("qcalog starts=%u stops=%u reads=%u bad=%u logging=%u handles=%u\n", log.starts,
                log.stops, log.reads, log.bad, log.logging, log.handles);
}

}  // namespace

int main(int argc, char** argv) {
    qx::win::RestrictLibrarySearch();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "init") == 0) {
            uint8_t mac[6] = {0xee, 0xee, 0xee, 0xee, 0xee, 0xee};
            int rc = qx_wifi_initCSI(mac);
            std::printf("init %d ", rc);
            PrintMac(mac);
            std::printf("\n");
        } else if (std::strcmp(argv[i], "get") == 0) {
            qx::CsiRecord* r = qx_wifi_getCSI(nullptr);
            if (r == nullptr) {
                std::printf("none\n");
            } else {
                PrintRecord(r);
                qx_wifi_releaseCSI(r);
            }
        } else if (std::strcmp(argv[i], "clean") == 0) {
            std::printf("clean %d\n", qx_wifi_cleanCSI());
        } else if (std::strcmp(argv[i], "release0") == 0) {
            std::printf("release %d\n", qx_wifi_releaseCSI(nullptr));
        } else if (std::strcmp(argv[i], "qcarec") == 0 && i + 1 < argc) {
            QcaRecord(argv[++i]);
        } else if (std::strcmp(argv[i], "qcafail") == 0 && i + 2 < argc) {
            QcaFail(argv[i + 1], argv[i + 2]);
            i += 2;
        } else if (std::strcmp(argv[i], "qcalog") == 0) {
            QcaLog();
        } else {
            std::printf("unknown step %s\n", argv[i]);
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
