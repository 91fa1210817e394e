// OS seam: the Windows event log.
#pragma once

namespace qx::os {

using EventSource = void*;

// RegisterEventSourceW on the local computer; null when no handle was returned.
EventSource EventLogRegister(const char16_t* source_name);
void EventLogDeregister(EventSource source);

// Reports 8-bit text as an information event (type 4, category 1, event id 2)
// with the text, converted from the ANSI code page, as its one insertion string.
// Nothing is reported when the conversion fails or no buffer can be had for it.
void EventLogReportInfo(EventSource source, const char* text);

}  // namespace qx::os
