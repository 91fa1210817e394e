// Device properties as an INF installs them: the AddReg entries of the
// device's hardware section (DDInstall.HW) that the PnP manager writes onto
// the device (the named PDO) before the driver starts. Host tests and the
// virtual notebook's driver stack read driver/QXVeltrane.inf through this, so
// the INF itself is what they test.
//
// The INF is read as Windows reads it on an x64 machine with an en-US locale:
// UTF-16 LE with its byte-order mark or ANSI; ';' comments outside quotes; a
// '\' at the end of a line continues it; quotes group a field ("" is one
// quote); %strkey% from the Strings section Windows would pick (%% is one
// percent sign, %12% and other numbers are folder ids and stay as they are);
// the install section decorated .ntamd64 before .nt before none, and its
// .HW section. Anything this reader cannot read as Windows would (another
// encoding, an undefined %strkey%, Include and Needs, flags it does not
// model) is an error, never an empty result.
#pragma once

#include <cstdint>
#include <string>

#include "kmdf/kmdfsim.h"

namespace kmdfsim {

// What the hardware section sets on the device.
struct InfDeviceProperties {
    DeviceProperties device;  // "Security" and "Exclusive" (only the value 1 makes it exclusive)
    // "DeviceCharacteristics": ORed into every device object of the stack
    // (0x100 is FILE_DEVICE_SECURE_OPEN); 0 when the INF sets none.
    uint32_t device_characteristics = 0;
};

// Path of QXVeltrane.inf in the source tree.
const char* VeltraneInfPath();

// Reads the properties from the INF at `path`. False (with error set, naming
// the file and the line) when it is no INF this reader can read, or an entry
// is malformed.
bool DevicePropertiesFromInf(const std::string& path, InfDeviceProperties* properties,
                             std::string* error);
// The same, for callers that take only what the simulation applies.
bool DevicePropertiesFromInf(const std::string& path, DeviceProperties* properties,
                             std::string* error);
// The same for the bytes of an INF file.
bool DevicePropertiesFromInfBytes(const std::string& bytes, InfDeviceProperties* properties,
                                  std::string* error);

}  // namespace kmdfsim
