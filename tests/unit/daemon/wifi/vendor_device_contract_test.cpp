// The vendor-device seam's one contract: what the QCA provider relies on, the
// same on every half.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "daemon/wifi/os_vendor_device.h"
#include "tests/unit/daemon/wifi/vendor_device_contract.h"
#include "tests/support/contract_rows.h"

namespace qxtest {
namespace {

using namespace qx::os;

// One command of the PPDU log: its text in a 16-byte field, `out_size`
// bytes of room; "ok N" with the bytes returned (and the association byte of
// a record read), or "failed".
std::string Command(VendorDevice* device, const char* text, uint32_t in_size = 16,
                    uint32_t out_size = 132, uint32_t code = kQcaPpduLogCode) {
    char in[16] = {};
    std::memcpy(in, text, std::min(std::strlen(text), sizeof in));
    uint8_t out[132] = {};
    uint32_t returned = 0xFFFF;
    if (!VendorDeviceControl(device, code, in, in_size, out, out_size, &returned)) return "failed";
    std::string result = "ok " + std::to_string(returned);
    if (returned == 132) result += " associated " + std::to_string(out[4]);
    return result;
}

// Opens the log device, runs each command through `step`, closes it.
std::string OnDevice(const std::function<std::string(VendorDevice*)>& step) {
    VendorDevice* device = VendorDeviceOpen(kQcaDevicePath);
    if (device == nullptr) return "not opened";
    std::string out = step(device);
    VendorDeviceClose(device);
    return out;
}

TEST(VendorDeviceContractTest, EachHalfAnswersAsWindows) {
    VendorDeviceRig& rig = Rig();
    const std::vector<ContractRow> rows = {
        {"another device name",
         [] {
             VendorDevice* device = VendorDeviceOpen(L"\\\\.\\ATH_WIFIDEV.01");
             if (device != nullptr) VendorDeviceClose(device);
             return std::string(device == nullptr ? "not opened" : "opened");
         },
         "not opened"},
        {"start, read, stop",
         [] {
             return OnDevice([](VendorDevice* d) {
                 std::string out = Command(d, "ppdulog_start") + ", ";
                 out += Command(d, "ppdulog_read") + ", ";
                 return out + Command(d, "ppdulog_stop");
             });
         },
         "ok 0, ok 132 associated 1, ok 0"},
        {"a command the log does not know",
         [] { return OnDevice([](VendorDevice* d) { return Command(d, "ppdulog_flush"); }); },
         "failed"},
        {"a command field of 15 bytes",
         [] { return OnDevice([](VendorDevice* d) { return Command(d, "ppdulog_read", 15); }); },
         "failed"},
        {"another control code",
         [] {
             return OnDevice([](VendorDevice* d) {
                 return Command(d, "ppdulog_read", 16, 132, kQcaPpduLogCode - 4);
             });
         },
         "failed"},
        {"a record without the room for it",
         [] {
             return OnDevice([](VendorDevice* d) { return Command(d, "ppdulog_read", 16, 131); });
         },
         "failed"},
        {"a command the device fails, then the next as ever",
         [&rig] {
             rig.FailNext("ppdulog_read");
             return OnDevice([](VendorDevice* d) {
                 std::string out = Command(d, "ppdulog_read") + ", ";
                 return out + Command(d, "ppdulog_read");
             });
         },
         "failed, ok 132 associated 1"},
    };
    ExpectEachRow(rig, rows);
}

}  // namespace
}  // namespace qxtest
