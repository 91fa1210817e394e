// qxsim: the real steering daemon on the virtual notebook.
//
//   qxsim [--speed F] [--] [daemon options]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "daemon/core/daemon_main.h"
#include "sim/vkernel.h"

namespace {

int Usage(const char* why) {
    std::fprintf(stderr, "qxsim: %s\nusage: qxsim [--speed FACTOR] [--] [quellix options]\n", why);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> daemon_args{const_cast<char*>("quellix.exe")};
    double speed = 0;
    int i = 1;
    for (; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            ++i;
            break;
        }
        if (std::strcmp(argv[i], "--speed") == 0) {
            if (i + 1 >= argc) return Usage("--speed needs a factor");
            char* end = nullptr;
            speed = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || speed < 0) return Usage("bad --speed factor");
            continue;
        }
        break;
    }
    for (; i < argc; ++i) daemon_args.push_back(argv[i]);
    daemon_args.push_back(nullptr);
    qxsim::Kernel::Instance().SetSpeed(speed);
    qx::QuellixMain(static_cast<int>(daemon_args.size() - 1), daemon_args.data());
}
