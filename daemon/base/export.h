// QX_EXPORT marks the C functions quellix.exe exports for other programs
// (qx_wifi_* and qx_winevent_*): in its export table on Windows, visible in
// the host build.
#pragma once

#define QX_EXPORT extern "C" __attribute__((visibility("default")))
#ifdef _WIN32
#undef QX_EXPORT
#define QX_EXPORT extern "C" __declspec(dllexport)
#endif
