// QXuninstall.exe: removes the helper service, the controller's device nodes
// and driver package, the installed files, the product's own uninstall key
// and, through Windows Installer, the installed product. Silent without
// arguments (console hidden); any argument reports each step, and "/?" or
// "-h" prints the usage and changes nothing.
#include "common/win/win32.h"

#include "uninstall/uninstall_main.h"

int wmain(int argc, wchar_t** argv) {
    qx::win::RestrictLibrarySearch();
    return qx::uninstall::UninstallProgramMain(argc,
                                               reinterpret_cast<const char16_t* const*>(argv));
}
