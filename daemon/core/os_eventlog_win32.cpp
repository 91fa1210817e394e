#include <windows.h>

#include "daemon/core/os_eventlog.h"

namespace qx::os {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t expected");

EventSource EventLogRegister(const char16_t* source_name) {
    return ::RegisterEventSourceW(nullptr, reinterpret_cast<const wchar_t*>(source_name));
}

void EventLogDeregister(EventSource source) { ::DeregisterEventSource(source); }

void EventLogReportInfo(EventSource source, const char* text) {
    // First pass learns the length in UTF-16 units, terminator included.
    int units = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) return;
    auto* wide = static_cast<wchar_t*>(
        ::HeapAlloc(::GetProcessHeap(), 0, static_cast<SIZE_T>(units) * 2));
    if (wide == nullptr) return;
    if (::MultiByteToWideChar(CP_ACP, 0, text, -1, wide, units) > 0) {
        const wchar_t* strings[1] = {wide};
        ::ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 1, 2, nullptr, 1, 0, strings, nullptr);
    }
    ::HeapFree(::GetProcessHeap(), 0, wide);
}

}  // namespace qx::os
