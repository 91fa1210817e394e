// The Windows result codes the portable logic and the virtual notebook's
// models compare against or answer with, written down once: Win32 error
// codes, wait results and CONFIGRET codes. The values are Windows' own; the
// Windows build checks each against <windows.h> and <cfgmgr32.h>
// (common/win/os_codes_check.cpp), so a typo here cannot pass for a code.
//
// Only what some code tells apart or answers belongs here; a Win32 half uses
// the SDK's names directly.
#pragma once

#include <cstdint>

namespace qx::oscode {

// ---- Win32 error codes (GetLastError, LSTATUS, and the WLAN, IP Helper
// and service-manager results) ----
inline constexpr uint32_t kErrorSuccess = 0;  // ERROR_SUCCESS, also NO_ERROR
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorPathNotFound = 3;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorInvalidHandle = 6;
inline constexpr uint32_t kErrorNotEnoughMemory = 8;
inline constexpr uint32_t kErrorInvalidData = 13;
inline constexpr uint32_t kErrorGenFailure = 31;
inline constexpr uint32_t kErrorInvalidParameter = 87;
inline constexpr uint32_t kErrorBufferOverflow = 111;
inline constexpr uint32_t kErrorInsufficientBuffer = 122;
inline constexpr uint32_t kErrorFilenameExcedRange = 206;
inline constexpr uint32_t kErrorNoData = 232;
inline constexpr uint32_t kErrorMoreData = 234;
inline constexpr uint32_t kErrorNoMoreItems = 259;
inline constexpr uint32_t kErrorKeyDeleted = 1018;
inline constexpr uint32_t kErrorInvalidServiceControl = 1052;
inline constexpr uint32_t kErrorServiceRequestTimeout = 1053;
inline constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
inline constexpr uint32_t kErrorServiceDoesNotExist = 1060;
inline constexpr uint32_t kErrorServiceCannotAcceptCtrl = 1061;
inline constexpr uint32_t kErrorServiceNotActive = 1062;
inline constexpr uint32_t kErrorFailedServiceControllerConnect = 1063;
inline constexpr uint32_t kErrorServiceMarkedForDelete = 1072;
inline constexpr uint32_t kErrorServiceExists = 1073;
inline constexpr uint32_t kErrorNotFound = 1168;
inline constexpr uint32_t kErrorNoSystemResources = 1450;

// The registry's functions return their code as a LONG.
constexpr int32_t AsLong(uint32_t code) {
    return static_cast<int32_t>(code);
}

// ---- Waits and processes ----
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;  // INFINITE, as a wait's time-out
inline constexpr uint32_t kWaitObject0 = 0;            // WAIT_OBJECT_0: the first handle
inline constexpr uint32_t kWaitTimeout = 258;          // WAIT_TIMEOUT
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFFu;   // WAIT_FAILED
// STILL_ACTIVE: GetExitCodeProcess's answer while the process runs. It is
// also the value of ERROR_NO_MORE_ITEMS, which is why a process must not
// exit with 259 if its parent is to tell.
inline constexpr uint32_t kStillActive = 259;
// STATUS_CONTROL_C_EXIT: the exit code of a console process that Ctrl+C ended.
inline constexpr uint32_t kStatusControlCExit = 0xC000013Au;

// ---- CONFIGRET (cfgmgr32) ----
inline constexpr uint32_t kCrSuccess = 0x00;
inline constexpr uint32_t kCrInvalidPointer = 0x03;
inline constexpr uint32_t kCrInvalidFlag = 0x04;
inline constexpr uint32_t kCrInvalidDevNode = 0x05;
inline constexpr uint32_t kCrNoSuchDevNode = 0x0D;
inline constexpr uint32_t kCrFailure = 0x13;
inline constexpr uint32_t kCrRemoveVetoed = 0x17;
inline constexpr uint32_t kCrBufferSmall = 0x1A;
inline constexpr uint32_t kCrInvalidData = 0x1F;

}  // namespace qx::oscode
