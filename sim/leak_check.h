// The leak check of a simulated process that ends through _exit.
//
// The virtual kernel's ExitProcess and the test children leave with _exit, as
// ExitProcess ends a Windows process without unwinding; LeakSanitizer's own
// check runs at exit() and so never ran for them. In AddressSanitizer builds
// this runs it before the _exit, and a leak turns the exit code into 23
// (LeakSanitizer's own), so that the run fails instead of passing quietly.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define QX_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QX_LEAK_CHECK 1
#endif
#endif

#ifdef QX_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace qxsim {

constexpr int kLeakExitCode = 23;

// The exit code to leave with: `code`, or kLeakExitCode when the heap holds
// blocks nothing points to any more (the report is on standard error).
inline int ExitCodeAfterLeakCheck(int code) {
#ifdef QX_LEAK_CHECK
    if (__lsan_do_recoverable_leak_check() != 0) return kLeakExitCode;
#endif
    return code;
}

}  // namespace qxsim
