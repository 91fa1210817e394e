#include "daemon/base/logging.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "daemon/base/os_eventlog.h"
#include "daemon/base/os_process.h"
#include "daemon/base/os_thread.h"

namespace qx {

namespace {
constexpr size_t kEventTextSize = 256;

// Written by main only (start-up and the exit path), read by every thread that logs.
std::atomic<os::EventSource> g_event_source{nullptr};
// Threads inside ReportToEventLog. The deregistration waits until none is left
// holding the handle it closes (sequentially consistent: either a reporter
// sees the handle gone, or the deregistration sees the reporter).
std::atomic<int> g_event_users{0};
// Set once, before main, by the settings' definition.
std::atomic<const std::atomic<int32_t>*> g_verbosity{nullptr};

int32_t LogVerbosity() {
    const std::atomic<int32_t>* verbosity = g_verbosity.load(std::memory_order_relaxed);
    return verbosity == nullptr ? 0 : verbosity->load(std::memory_order_relaxed);
}

void LogV(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    os::StdoutVprintf(format, args);
    char text[kEventTextSize];
    std::vsnprintf(text, sizeof text, format, again);
    va_end(again);
    ReportToEventLog(text);
}
}  // namespace

void GateLogOn(const std::atomic<int32_t>* verbosity) {
    g_verbosity.store(verbosity, std::memory_order_relaxed);
}

int RegisterEventLogSource() {
    os::EventSource source = os::EventLogRegister(u"Quellix");
    g_event_source.store(source, std::memory_order_relaxed);
    return source != nullptr ? 0 : -1;
}

void DeregisterEventLogSource() {
    os::EventSource source = g_event_source.exchange(nullptr);
    if (source == nullptr) return;
    while (g_event_users.load() != 0) os::SleepMs(1);
    os::EventLogDeregister(source);
}

void ReportToEventLog(const char* text) {
    g_event_users.fetch_add(1);
    os::EventSource source = g_event_source.load();
    if (source != nullptr) {
        char copy[kEventTextSize];
        size_t n = std::strlen(text);
        if (n > kEventTextSize - 1) n = kEventTextSize - 1;
        std::memcpy(copy, text, n);
        copy[n] = '\0';
        os::EventLogReportInfo(source, copy);
    }
    g_event_users.fetch_sub(1);
}

void LogMessage(int32_t threshold, const char* format, ...) {
    if (!(LogVerbosity() > threshold)) return;
    va_list args;
    va_start(args, format);
    LogV(format, args);
    va_end(args);
}

void LogAlways(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LogV(format, args);
    va_end(args);
}

}  // namespace qx
