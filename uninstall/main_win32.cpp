// QXuninstall.exe: removes the helper service, the controller's device nodes
// and driver package, the installed files, the product's own uninstall key
// and, through Windows Installer, the installed product. Silent without
// arguments (console hidden); any argument reports each step.
#include "common/win/win32.h"

#include "uninstall/uninstall_main.h"

int wmain(int argc, wchar_t**) {
    return qx::uninstall::UninstallProgramMain(argc);
}
