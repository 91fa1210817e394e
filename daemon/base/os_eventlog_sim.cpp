#include <cstdint>

#include "daemon/base/os_eventlog.h"
#include "sim/eventlog_model.h"
#include "sim/fault_plan.h"
#include "sim/notebook.h"

namespace qx::os {

EventSource EventLogRegister(const char16_t* source_name) {
    if (qxsim::InjectFault(qxsim::FaultKind::kEventLogRegister)) return nullptr;
    return reinterpret_cast<EventSource>(
        qxsim::Notebook::Current().EventLog().Register(source_name));
}

void EventLogDeregister(EventSource source) {
    qxsim::Notebook::Current().EventLog().Deregister(reinterpret_cast<uintptr_t>(source));
}

void EventLogReportInfo(EventSource source, const char* text) {
    if (qxsim::InjectFault(qxsim::FaultKind::kEventLogReport)) return;
    std::u16string wide = qxsim::AnsiToUtf16(text);
    qxsim::Notebook::Current().EventLog().Report(reinterpret_cast<uintptr_t>(source), 4, 1, 2,
                                                 {wide});
}

}  // namespace qx::os
