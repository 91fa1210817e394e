// QXservice.exe: runs the steering daemon as a child process while the
// service runs and ends it when the service is stopped; "install" registers
// the program with the service manager.
#include "common/win/win32.h"

#include "service/service_host.h"

int wmain(int argc, wchar_t** argv) {
    qx::win::RestrictLibrarySearch();
    return qx::service::ServiceProgramMain(argc, reinterpret_cast<const char16_t* const*>(argv));
}
