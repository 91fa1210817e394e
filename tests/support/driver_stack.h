// The end of a test that brought up the driver stack (kmdf/stack/stack.h):
// QXVeltrane is unloaded first, so that whatever it left alive or whichever
// framework rule it broke on the way out fails the test, then the
// simulation is cleared for the next one.
#pragma once

#include <gtest/gtest.h>

#include "kmdf/kmdfsim.h"
#include "kmdf/stack/stack.h"

namespace qxtest {

inline void StopDriverStackChecked() {
    kmdfsim::UnloadDriver();
    EXPECT_EQ(kmdfsim::LiveObjects(), 0u);
    for (const auto& v : kmdfsim::Violations())
        ADD_FAILURE() << "framework contract violation: " << v;
    kmdfsim::StopDriverStack();
}

}  // namespace qxtest
