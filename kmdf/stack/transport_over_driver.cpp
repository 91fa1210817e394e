// The daemon's host transport routed through QXVeltrane on the simulated
// framework: "\\.\QXSPB", the open code, and bounded writes and reads with
// cancellation, down the driver to the simulated SPB controller. Linked
// ahead of qx_daemon, these definitions replace the direct controller-model
// transport.
#include "daemon/transport/transport.h"
#include "kmdf/usermode.h"

namespace qx {

int TransportOpen() {
    return kmdfsim::um::TransportOpen();
}

void TransportClose() {
    kmdfsim::um::TransportClose();
}

int TransportWrite(const uint8_t* buf, uint32_t len, iostat_t* iostat) {
    return kmdfsim::um::TransportWrite(buf, len, iostat != nullptr ? &iostat->wr_status : nullptr);
}

int TransportRead(uint8_t* buf, uint32_t len, iostat_t* iostat) {
    return kmdfsim::um::TransportRead(buf, len, iostat != nullptr ? &iostat->rd_status : nullptr);
}

}  // namespace qx
