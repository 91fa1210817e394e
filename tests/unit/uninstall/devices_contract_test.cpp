// The device seam's one contract: what the uninstaller's removal of the
// controller's nodes and driver package relies on, the same on every half.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/unit/uninstall/devices_contract.h"
#include "tests/support/contract_rows.h"
#include "tests/support/text16.h"
#include "uninstall/os_devices.h"
#include "uninstall/os_registry.h"

namespace qxtest {
namespace {

using namespace qx::os;

// The selected device's instance ID.
std::string Id(DeviceList* list) {
    char16_t id[261] = {};
    return DevicesInstanceId(list, id, 261) ? Narrow(id) : "no id";
}

// Every device's instance ID, then "end".
std::string ListAll() {
    DeviceListOwner list = DevicesOpen(kDevicesEnumerator);
    if (!list) return "no list";
    std::string out;
    for (uint32_t i = 0; DevicesSelect(list.get(), i); ++i) out += Id(list.get()) + " ";
    return out + "end";
}

// The hardware IDs with `bytes` of room, each followed by '|'.
std::string HardwareIds(uint32_t bytes) {
    DeviceListOwner list = DevicesOpen(kDevicesEnumerator);
    if (!list || !DevicesSelect(list.get(), 0)) return "no device";
    char16_t ids[64] = {};
    if (!DevicesHardwareIds(list.get(), ids, bytes)) return "failed";
    std::string out;
    for (const char16_t* id = ids; *id != 0; id += std::char_traits<char16_t>::length(id) + 1)
        out += Narrow(id) + "|";
    return out;
}

// The first device's driver key's InfPath.
std::string InfPath() {
    DeviceListOwner list = DevicesOpen(kDevicesEnumerator);
    if (!list || !DevicesSelect(list.get(), 0)) return "no device";
    RegKey key = DevicesOpenDriverKey(list.get());
    if (!key) return "no key";
    char16_t inf[32] = {};
    uint32_t type = 0;
    uint32_t bytes = sizeof inf - sizeof(char16_t);
    const int32_t rc = RegistryQueryValue(key.get(), u"InfPath", &type, inf, &bytes);
    return rc == kRegOk ? Narrow(inf) : std::to_string(rc);
}

std::string Uninstall(const char16_t* inf) {
    uint32_t error = 0;
    return DriverPackageUninstall(inf, &error) ? "0" : std::to_string(error);
}

TEST(DevicesContractTest, EachHalfAnswersAsWindows) {
    DevicesRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"no devices", [] { return ListAll(); }, "end"},
        {"each device in order, then no more",
         [&rig] {
             rig.AddDevice(u"ACPI\\VLT0949\\2", u"");
             rig.AddDevice(u"ACPI\\VLT0949\\1", u"");
             return ListAll();
         },
         "ACPI\\VLT0949\\1 ACPI\\VLT0949\\2 end"},
        {"a longer device ID is another enumerator's",
         [&rig] {
             rig.AddDevice(u"ACPI\\VLT09490\\1", u"");
             return ListAll();
         },
         "end"},
        {"hardware IDs",
         [&rig] {
             rig.AddDevice(u"ACPI\\VLT0949\\1", u"");
             return HardwareIds(128);
         },
         "ACPI\\VLT0949|*VLT0949|"},
        {"hardware IDs with too little room",
         [&rig] {
             rig.AddDevice(u"ACPI\\VLT0949\\1", u"");
             return HardwareIds(20);
         },
         "failed"},
        {"the driver key's InfPath",
         [&rig] {
             rig.AddDevice(u"ACPI\\VLT0949\\1", u"oem71.inf");
             return InfPath();
         },
         "oem71.inf"},
        {"no driver key",
         [&rig] {
             rig.AddDevice(u"ACPI\\VLT0949\\1", u"");
             return InfPath();
         },
         "no key"},
        {"removed, no restart asked, and gone from the next list",
         [&rig] {
             rig.AddDevice(u"ACPI\\VLT0949\\1", u"");
             DeviceListOwner list = DevicesOpen(kDevicesEnumerator);
             uint32_t error = 0;
             if (!DevicesSelect(list.get(), 0)) return std::string("no device");
             std::string out = DevicesRemove(list.get(), &error) ? "removed " : "failed ";
             out += DevicesNeedRestart(list.get()) ? "restart " : "no restart ";
             return out + ListAll();
         },
         "removed no restart end"},
        {"a removal keeps the list's indexes",
         [&rig] {
             rig.AddDevice(u"ACPI\\VLT0949\\1", u"");
             rig.AddDevice(u"ACPI\\VLT0949\\2", u"");
             DeviceListOwner list = DevicesOpen(kDevicesEnumerator);
             uint32_t error = 0;
             if (!DevicesSelect(list.get(), 0) || !DevicesRemove(list.get(), &error))
                 return std::string("not removed");
             std::string out;
             for (uint32_t i = 1; DevicesSelect(list.get(), i); ++i) out += Id(list.get()) + " ";
             return out + "end";
         },
         "ACPI\\VLT0949\\2 end"},
        {"a driver package, uninstalled, then no more",
         [&rig] {
             rig.AddDriverPackage(u"oem71.inf");
             std::string out = Uninstall(u"OEM71.INF") + " ";
             out += rig.HasDriverPackage(u"oem71.inf") ? "there " : "gone ";
             return out + Uninstall(u"oem71.inf");
         },
         "0 gone 2"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
