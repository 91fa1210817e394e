// Our double of the exported provider functions: a test says what the next
// records hold, whether a provider exists, and counts the calls.
#pragma once

#include <cstdint>
#include <functional>

#include "daemon/wifi/csi_provider.h"

namespace fakecsi {

struct State {
    bool present = true;  // qx_wifi_initCSI finds a provider
    uint8_t mac[6] = {0x3c, 0xa9, 0xf4, 0x51, 0x7e, 0x20};
    bool deliver = true;   // qx_wifi_getCSI returns a record
    qx::CsiRecord next{};  // what it returns
    int init_calls = 0;
    int get_calls = 0;
    int release_calls = 0;
    int clean_calls = 0;
    int live_records = 0;
    // Added to next.RxBytes before each record: identical byte deltas per call.
    uint64_t rx_step = 0;
    // Runs at each qx_wifi_getCSI, before the record is made (the call number given).
    std::function<void(int)> on_get;
};

State& S();
// A usable record: associated with the home access point, 1 SS MCS 7 20 MHz.
qx::CsiRecord UsableRecord();
void Reset();

}  // namespace fakecsi
