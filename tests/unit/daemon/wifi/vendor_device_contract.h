// The vendor-device seam's contract (daemon/wifi/os_vendor_device.h) as the
// QCA provider builds on it, run against each half through a rig: the
// notebook's QCA device model (_sim) and, under Wine, our WDM double's PPDU
// log device (_win32). Each rig is one file beside the contract.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

// The QCA driver's control device and the one control code it answers.
constexpr const wchar_t* kQcaDevicePath = L"\\\\.\\ATH_WIFIDEV.00";
constexpr uint32_t kQcaPpduLogCode = 0x220207;

class VendorDeviceRig {
  public:
    virtual ~VendorDeviceRig() = default;
    // Runs body with the device present and a PPDU logged, and checks
    // afterwards that every handle was closed; what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // The next command with this text fails in the device.
    virtual void FailNext(const char* command) = 0;
};

// The half linked into this test.
VendorDeviceRig& Rig();

}  // namespace qxtest
