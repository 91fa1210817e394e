#include "common/win/win32.h"

#include "daemon/base/os_eventlog.h"

namespace qx::os {

EventSource EventLogRegister(const char16_t* source_name) {
    return ::RegisterEventSourceW(nullptr, win::W(source_name));
}

void EventLogDeregister(EventSource source) {
    win::Dispose<win::UniqueEventSource>(source);
}

void EventLogReportInfo(EventSource source, const char* text) {
    // First pass learns the length in UTF-16 units, terminator included.
    int units = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (units <= 0) return;
    win::UniqueHeapBlock<wchar_t> wide(
        static_cast<wchar_t*>(::HeapAlloc(::GetProcessHeap(), 0, static_cast<SIZE_T>(units) * 2)));
    if (!wide) return;
    if (::MultiByteToWideChar(CP_ACP, 0, text, -1, wide.get(), units) > 0) {
        const wchar_t* strings[1] = {wide.get()};
        ::ReportEventW(source, EVENTLOG_INFORMATION_TYPE, 1, 2, nullptr, 1, 0, strings, nullptr);
    }
}

}  // namespace qx::os
