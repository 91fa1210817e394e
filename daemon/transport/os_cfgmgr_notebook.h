// Shared by the notebook's two Configuration Manager halves.
#pragma once

#include <cstdint>

namespace qx::os {

// Whether devinst is the controller's node handle and the node is present;
// any other handle is CR_INVALID_DEVNODE to the Configuration Manager.
bool IsControllerNode(uint32_t devinst);

}  // namespace qx::os
