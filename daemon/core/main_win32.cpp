// quellix.exe: the steering daemon, a console program.
#include "common/win/win32.h"

#include "daemon/core/daemon_main.h"

int main(int argc, char** argv) {
    qx::win::RestrictLibrarySearch();
    qx::QuellixMain(argc, argv);
}
