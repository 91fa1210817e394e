// The Wi-Fi adapter that the Windows stand-ins describe together: the Intel
// library stand-in reports this MAC, the IP Helper stand-in lists an adapter
// with it under this adapter name, and the WLAN stand-in reports an interface
// whose GUID formats to the same text. They match the virtual notebook's
// defaults (sim/link_model.h).
#pragma once

#define QX_NOTEBOOK_MAC_BYTES 0x3c, 0xa9, 0xf4, 0x51, 0x7e, 0x20
#define QX_NOTEBOOK_MAC_TEXT "3c:a9:f4:51:7e:20"
#define QX_NOTEBOOK_ADAPTER_NAME "{6B29FC40-CA47-4067-B31D-00DD010662DA}"
// The same GUID as a GUID initialiser: Data1, Data2, Data3, Data4[8].
#define QX_NOTEBOOK_INTERFACE_GUID                         \
    {                                                      \
        0x6B29FC40, 0xCA47, 0x4067, {                      \
            0xB3, 0x1D, 0x00, 0xDD, 0x01, 0x06, 0x62, 0xDA \
        }                                                  \
    }
// Another interface the WLAN stand-in may report, which must never match.
#define QX_OTHER_INTERFACE_GUID                            \
    {                                                      \
        0x1F2E3D4C, 0x5B6A, 0x4798, {                      \
            0x86, 0x75, 0x64, 0x53, 0x42, 0x31, 0x20, 0x1F \
        }                                                  \
    }
#define QX_OTHER_ADAPTER_NAME "{1F2E3D4C-5B6A-4798-8675-64534231201F}"
// The access point the stand-ins are associated with.
#define QX_NOTEBOOK_BSSID_BYTES 0x10, 0x6f, 0x3f, 0xa1, 0xb2, 0xc3
