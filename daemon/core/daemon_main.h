#pragma once

namespace qx {

// The daemon's program entry: start-up, supervision of the steering worker,
// exit. Always ends the process with code 0.
[[noreturn]] void QuellixMain(int argc, char** argv);

}  // namespace qx
