#include <cstring>

#include "common/os_codes.h"
#include "daemon/wifi/os_iphlp.h"
#include "sim/fault_plan.h"
#include "sim/iphlp_model.h"
#include "sim/notebook.h"

namespace qx::os {

namespace {

struct Fill {
    AdapterInfoRecord* first;
    uint32_t room;  // records that fit
    uint32_t count;
};

void CopyCut(char* dst, size_t room, const char* src) {
    size_t n = std::strlen(src);
    if (n >= room) n = room - 1;
    std::memcpy(dst, src, n);
    dst[n] = '\0';
}

void Put(void* context, const qxsim::Mac& mac, const char* name, const char* description,
         uint32_t index) {
    auto* f = static_cast<Fill*>(context);
    uint32_t i = f->count++;
    if (i >= f->room) return;
    AdapterInfoRecord* r = f->first + i;
    std::memset(r, 0, sizeof *r);
    if (i > 0) f->first[i - 1].Next = r;
    r->ComboIndex = index;
    CopyCut(r->AdapterName, sizeof r->AdapterName, name);
    CopyCut(r->Description, sizeof r->Description, description);
    r->AddressLength = 6;
    std::memcpy(r->Address, mac.data(), 6);
    r->Index = index;
    r->Type = 71;  // IF_TYPE_IEEE80211 or Ethernet: the daemon does not look
    CopyCut(r->IpAddressList.IpAddress, 16, "0.0.0.0");
    CopyCut(r->IpAddressList.IpMask, 16, "0.0.0.0");
}

}  // namespace

uint32_t GetAdaptersInfo(void* buffer, uint32_t* size) {
    if (qxsim::InjectFault(qxsim::FaultKind::kWlanQuery)) return oscode::kErrorNotEnoughMemory;
    auto& model = qxsim::Notebook::Current().IpHelper();
    if (uint32_t code = model.TakeAdaptersInfoFailure(); code != 0) {
        if (code == kErrorBufferOverflow) *size += sizeof(AdapterInfoRecord);
        return code;
    }
    // No buffer has no room, whatever the size says: Windows then only
    // hands back the size.
    Fill f{static_cast<AdapterInfoRecord*>(buffer),
           buffer == nullptr ? 0 : *size / static_cast<uint32_t>(sizeof(AdapterInfoRecord)), 0};
    model.VisitAdapters(Put, &f);
    if (f.count == 0) return oscode::kErrorNoData;
    if (f.count > f.room) {
        *size = f.count * static_cast<uint32_t>(sizeof(AdapterInfoRecord));
        return kErrorBufferOverflow;
    }
    return 0;
}

}  // namespace qx::os
