// quellix.exe: the steering daemon, a console program.
#include "daemon/core/daemon_main.h"

int main(int argc, char** argv) {
    qx::QuellixMain(argc, argv);
}
