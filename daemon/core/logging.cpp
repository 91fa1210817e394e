#include "daemon/core/logging.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "daemon/core/os_eventlog.h"
#include "daemon/core/os_process.h"
#include "daemon/core/settings.h"

namespace qx {

namespace {
constexpr size_t kEventTextSize = 256;

// Written by main only (start-up and the exit path), read by every thread that logs.
std::atomic<os::EventSource> g_event_source{nullptr};

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

int RegisterEventLogSource() {
    os::EventSource source = os::EventLogRegister(u"Quellix");
    g_event_source.store(source, std::memory_order_relaxed);
    return source != nullptr ? 0 : -1;
}

void DeregisterEventLogSource() {
    os::EventSource source = g_event_source.exchange(nullptr, std::memory_order_relaxed);
    if (source != nullptr) os::EventLogDeregister(source);
}

void ReportToEventLog(const char* text) {
    os::EventSource source = g_event_source.load(std::memory_order_relaxed);
    if (source == nullptr) return;
    char copy[kEventTextSize];
    size_t n = std::strlen(text);
    if (n > kEventTextSize - 1) n = kEventTextSize - 1;
    std::memcpy(copy, text, n);
    copy[n] = '\0';
    os::EventLogReportInfo(source, copy);
}

void LogMessage(int32_t threshold, const char* format, ...) {
    if (!(Verbosity() > threshold)) return;
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
