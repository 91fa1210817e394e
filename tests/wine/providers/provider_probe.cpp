// Drives the exported provider functions in the order its arguments name and
// prints what they return, one line per call:
//   init     qx_wifi_initCSI: "init <result> <mac>"
//   get      qx_wifi_getCSI, then qx_wifi_releaseCSI: "none" or the record
//   clean    qx_wifi_cleanCSI: "clean <result>"
//   release0 qx_wifi_releaseCSI(NULL): "release <result>"
#include <cstdio>
#include <cstring>

#include "daemon/wifi/csi_provider.h"

namespace {

void PrintMac(const uint8_t* m) {
    std::printf("%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
}

void PrintRecord(const qx::CsiRecord* r) {
    std::printf("record status %u state %u peer ", r->Status, r->ConnectionState);
    PrintMac(r->PeerMac);
    std::printf("\n tx %llu bytes %llu packets rate %u mcs %u nss %u bw %u sgi %u\n",
                static_cast<unsigned long long>(r->TxBytes), static_cast<unsigned long long>(r->TxPackets),
                r->TxRate, r->TxMcs, r->TxNss, r->TxBandwidth, r->TxShortGi);
    std::printf(" rx %llu bytes %llu packets rate %u mcs %u nss %u bw %u sgi %u\n",
                static_cast<unsigned long long>(r->RxBytes), static_cast<unsigned long long>(r->RxPackets),
                r->RxRate, r->RxMcs, r->RxNss, r->RxBandwidth, r->RxShortGi);
    std::printf(" rssi %d %d %d %d avg %d %d %d %d\n", r->Rssi[0], r->Rssi[1], r->Rssi[2], r->Rssi[3],
                r->RssiAverage[0], r->RssiAverage[1], r->RssiAverage[2], r->RssiAverage[3]);
}

}  // namespace

int main(int argc, char** argv) {
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
        } else {
            std::printf("unknown step %s\n", argv[i]);
            return 2;
        }
        std::fflush(stdout);
    }
    return 0;
}
