// Device properties as an INF installs them: the AddReg entries of the
// hardware sections ("*.NT.HW") that the PnP manager writes onto the device
// (the named PDO) before the driver starts. Host tests and the virtual
// notebook's driver stack read driver/QXVeltrane.inf through this, so the INF
// itself is what they test.
#pragma once

#include <string>

#include "kmdf/kmdfsim.h"

namespace kmdfsim {

// Path of QXVeltrane.inf in the source tree.
const char* VeltraneInfPath();

// Reads the "Security" (string) and "Exclusive" (DWORD, flags 0x10001) values
// that HKR,, AddReg lines of the hardware sections set. False (with error
// set) when the file cannot be read or an entry is malformed.
bool DevicePropertiesFromInf(const std::string& path, DeviceProperties* properties,
                             std::string* error);

}  // namespace kmdfsim
