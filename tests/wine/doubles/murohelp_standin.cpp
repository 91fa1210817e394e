// The dependency of the Intel library stand-in built with QX_MUROCAPI_HELPER:
// one build belongs beside the library, another is the same name planted
// where a program might look for it. Each answers its own signal strength,
// so that a test sees which one the library got.
#include <cstdint>

extern "C" __declspec(dllexport) int32_t QxMurohelpChain0Rssi() {
    return QX_MUROHELP_RSSI;
}
