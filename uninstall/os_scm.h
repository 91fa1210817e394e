// OS seam of the uninstaller: the service manager's database and the sleep
// between polls. Results are Win32 codes (0: done).
//
// On Windows OpenSCManagerW, OpenServiceW, ControlService, QueryServiceStatus,
// DeleteService, CloseServiceHandle and Sleep; on the virtual notebook the
// service manager model (sim/scm_model.h) on the virtual clock.
#pragma once

#include <cstdint>

#include "common/os_codes.h"
#include "common/win/unique_handle.h"

namespace qx::os {

using ScmHandle = void*;

constexpr uint32_t kScmServiceStopped = 1;
constexpr uint32_t kScmErrorCannotAcceptControl = oscode::kErrorServiceCannotAcceptCtrl;

// Access rights.
constexpr uint32_t kScmAccessQueryStatus = 0x0004;
constexpr uint32_t kScmAccessStop = 0x0020;
constexpr uint32_t kScmAccessDelete = 0x10000;

// CloseServiceHandle; handles come back through ScmOwner, which calls it.
void ScmClose(ScmHandle handle);
using ScmOwner = win::UniqueAny<ScmHandle, &ScmClose>;

// OpenSCManagerW with all access; empty and *error on failure.
ScmOwner ScmOpenManager(uint32_t* error);
// OpenServiceW; empty and *error on failure.
ScmOwner ScmOpenService(ScmHandle manager, const char16_t* name, uint32_t access, uint32_t* error);
// ControlService(SERVICE_CONTROL_STOP).
uint32_t ScmStopService(ScmHandle service);
// QueryServiceStatus: the current state in *state.
uint32_t ScmQueryState(ScmHandle service, uint32_t* state);
uint32_t ScmDeleteService(ScmHandle service);

void ScmSleepMs(uint32_t ms);

}  // namespace qx::os
