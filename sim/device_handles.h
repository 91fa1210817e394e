// "\\.\QXSPB" as the I/O manager presents it on the virtual notebook. The
// driver's INF marks the device exclusive, so while any handle to it is open,
// whoever holds it, every further open fails with ERROR_ACCESS_DENIED; and
// while any handle is open (this process's own included), disabling the
// device node is vetoed (CR_REMOVE_VETOED), as it is on Windows. The daemon's transport opens and
// closes its handle here; a test plays the other program.
#pragma once

#include <cstdint>
#include <mutex>

#include "common/os_codes.h"

namespace qxsim {

class DeviceHandles {
  public:
    static constexpr uint32_t kErrorSuccess = qx::oscode::kErrorSuccess;
    static constexpr uint32_t kErrorAccessDenied = qx::oscode::kErrorAccessDenied;

    friend class Notebook;  // builds the one instance
    void Reset();

    // CreateFile of the device by this process: kErrorSuccess with a handle
    // id, or kErrorAccessDenied while any handle is open.
    uint32_t Open(int64_t* handle);
    // CloseHandle; closing a handle that is not open is ignored.
    void Close(int64_t handle);

    // Another program (a second daemon, a tool) opens the device, and later
    // closes it again.
    uint32_t OpenByAnotherProgram();
    void CloseAnotherProgram();
    bool HeldByAnotherProgram();

    // Handles open now, of every program.
    int OpenHandles();

  private:
    DeviceHandles() = default;
    std::mutex m_;
    int64_t own_ = 0;  // this process's open handle id, 0: none
    int64_t next_ = 1;
    bool other_ = false;
};

}  // namespace qxsim
