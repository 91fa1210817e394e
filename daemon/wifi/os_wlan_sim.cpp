#include <cstring>

#include "common/os_codes.h"
#include "daemon/base/os_process.h"
#include "daemon/wifi/os_wlan.h"
#include "sim/fault_plan.h"
#include "sim/wlan_model.h"
#include "sim/notebook.h"

namespace qx::os {

// As on Windows, the list is one block: a count, then the GUIDs.
struct WlanInterfaceList {
    uint32_t count;
    uint32_t reserved;
};

namespace {
constexpr uint32_t kMaxListed = 16;
using oscode::kErrorNoSystemResources;
using oscode::kErrorNotEnoughMemory;

qxsim::Guid* Guids(WlanInterfaceList* list) {
    return reinterpret_cast<qxsim::Guid*>(list + 1);
}
const qxsim::Guid* Guids(const WlanInterfaceList* list) {
    return reinterpret_cast<const qxsim::Guid*>(list + 1);
}
}  // namespace

uint32_t WlanOpen(uint32_t client_version, WlanHandle* handle) {
    if (qxsim::InjectFault(qxsim::FaultKind::kWlanOpen)) return kErrorNoSystemResources;
    uintptr_t h = 0;
    uint32_t rc = qxsim::Notebook::Current().Wlan().Open(client_version, &h);
    if (rc == 0) *handle = reinterpret_cast<WlanHandle>(h);
    return rc;
}

uint32_t WlanRegister(WlanHandle handle, uint32_t sources, bool ignore_duplicate, WlanNoticeFn fn,
                      void* context) {
    if (qxsim::InjectFault(qxsim::FaultKind::kWlanRegister)) return kErrorNoSystemResources;
    return qxsim::Notebook::Current().Wlan().Register(
        reinterpret_cast<uintptr_t>(handle), sources, ignore_duplicate,
        [fn, context](uint32_t source, uint32_t code, const qxsim::Guid& guid) {
            WlanNotice notice;
            notice.Source = source;
            notice.Code = code;
            std::memcpy(notice.InterfaceGuid, guid.data(), 16);
            fn(&notice, context);
        });
}

uint32_t WlanClose(WlanHandle handle) {
    return qxsim::Notebook::Current().Wlan().Close(reinterpret_cast<uintptr_t>(handle));
}

uint32_t WlanEnumInterfaces(WlanHandle handle, WlanInterfaceList** list) {
    if (qxsim::InjectFault(qxsim::FaultKind::kWlanEnum)) return kErrorNotEnoughMemory;
    auto& model = qxsim::Notebook::Current().Wlan();
    uint32_t rc = model.Enum(reinterpret_cast<uintptr_t>(handle));
    if (rc != 0) return rc;
    auto* l = static_cast<WlanInterfaceList*>(
        HeapAllocZeroed(sizeof(WlanInterfaceList) + kMaxListed * sizeof(qxsim::Guid)));
    if (l == nullptr) return kErrorNotEnoughMemory;
    uint32_t n = model.CopyInterfaces(Guids(l), kMaxListed);
    l->count = n < kMaxListed ? n : kMaxListed;
    *list = l;
    return 0;
}

uint32_t WlanInterfaceCount(const WlanInterfaceList* list) {
    return list->count;
}

void WlanInterfaceGuid(const WlanInterfaceList* list, uint32_t index, uint8_t guid[16]) {
    std::memcpy(guid, Guids(list)[index].data(), 16);
}

void WlanFreeList(WlanInterfaceList* list) {
    HeapFreeBlock(list);
}

int32_t FormatGuid(const uint8_t guid[16], char16_t* out, int32_t units) {
    if (units < 39) return 0;
    qxsim::Guid g;
    std::memcpy(g.data(), guid, 16);
    qxsim::FormatGuidText(g, out);
    return 39;
}

}  // namespace qx::os
