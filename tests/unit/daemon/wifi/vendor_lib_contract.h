// The vendor-library seam's contract (daemon/wifi/os_vendor_lib.h) as the
// Intel provider builds on it, run against each half through a rig that puts
// the library at its path or not: the notebook's Intel library model (_sim)
// and, under Wine, our stand-in of the library with its dependency beside it
// (_win32). Each rig is one file beside the contract.
#pragma once

#include <functional>
#include <string>

namespace qxtest {

// Where Intel installs the library.
constexpr const wchar_t* kIntelLibraryPath = L"C:\\Program Files\\Intel\\WiFi\\bin\\murocapi.dll";

class VendorLibRig {
  public:
    virtual ~VendorLibRig() = default;
    // Runs body with no library installed, and checks afterwards that every
    // load was freed; what body returned.
    virtual std::string Run(const std::function<std::string()>& body) = 0;
    // The library at kIntelLibraryPath.
    virtual void Install() = 0;
};

// The half linked into this test.
VendorLibRig& Rig();

}  // namespace qxtest
