// Every code of common/os_codes.h against the SDK's own definition. Compiled
// only in the Windows build, where <windows.h> and <cfgmgr32.h> exist; it
// holds no code, only the checks.
#include "common/win/win32.h"

#include <cfgmgr32.h>

#include "common/os_codes.h"

namespace oc = qx::oscode;

static_assert(oc::kErrorSuccess == ERROR_SUCCESS && oc::kErrorSuccess == NO_ERROR);
static_assert(oc::kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(oc::kErrorPathNotFound == ERROR_PATH_NOT_FOUND);
static_assert(oc::kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(oc::kErrorInvalidHandle == ERROR_INVALID_HANDLE);
static_assert(oc::kErrorNotEnoughMemory == ERROR_NOT_ENOUGH_MEMORY);
static_assert(oc::kErrorInvalidData == ERROR_INVALID_DATA);
static_assert(oc::kErrorGenFailure == ERROR_GEN_FAILURE);
static_assert(oc::kErrorInvalidParameter == ERROR_INVALID_PARAMETER);
static_assert(oc::kErrorBufferOverflow == ERROR_BUFFER_OVERFLOW);
static_assert(oc::kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(oc::kErrorFilenameExcedRange == ERROR_FILENAME_EXCED_RANGE);
static_assert(oc::kErrorNoData == ERROR_NO_DATA);
static_assert(oc::kErrorMoreData == ERROR_MORE_DATA);
static_assert(oc::kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(oc::kErrorKeyDeleted == ERROR_KEY_DELETED);
static_assert(oc::kErrorInvalidServiceControl == ERROR_INVALID_SERVICE_CONTROL);
static_assert(oc::kErrorServiceRequestTimeout == ERROR_SERVICE_REQUEST_TIMEOUT);
static_assert(oc::kErrorServiceAlreadyRunning == ERROR_SERVICE_ALREADY_RUNNING);
static_assert(oc::kErrorServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST);
static_assert(oc::kErrorServiceCannotAcceptCtrl == ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
static_assert(oc::kErrorServiceNotActive == ERROR_SERVICE_NOT_ACTIVE);
static_assert(oc::kErrorFailedServiceControllerConnect == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
static_assert(oc::kErrorServiceMarkedForDelete == ERROR_SERVICE_MARKED_FOR_DELETE);
static_assert(oc::kErrorServiceExists == ERROR_SERVICE_EXISTS);
static_assert(oc::kErrorNotFound == ERROR_NOT_FOUND);
static_assert(oc::kErrorNoSystemResources == ERROR_NO_SYSTEM_RESOURCES);

static_assert(oc::kWaitForever == INFINITE);
static_assert(oc::kWaitObject0 == WAIT_OBJECT_0);
static_assert(oc::kWaitTimeout == WAIT_TIMEOUT);
static_assert(oc::kWaitFailed == WAIT_FAILED);
static_assert(oc::kStillActive == STILL_ACTIVE);
static_assert(oc::kStatusControlCExit == static_cast<uint32_t>(STATUS_CONTROL_C_EXIT));

static_assert(oc::kCrSuccess == CR_SUCCESS);
static_assert(oc::kCrInvalidPointer == CR_INVALID_POINTER);
static_assert(oc::kCrInvalidFlag == CR_INVALID_FLAG);
static_assert(oc::kCrInvalidDevNode == CR_INVALID_DEVNODE);
static_assert(oc::kCrNoSuchDevNode == CR_NO_SUCH_DEVNODE &&
              oc::kCrNoSuchDevNode == CR_NO_SUCH_DEVINST);
static_assert(oc::kCrFailure == CR_FAILURE);
static_assert(oc::kCrRemoveVetoed == CR_REMOVE_VETOED);
static_assert(oc::kCrBufferSmall == CR_BUFFER_SMALL);
static_assert(oc::kCrInvalidData == CR_INVALID_DATA);
