#include <cstdint>

#include "daemon/core/os_eventlog.h"
#include "sim/eventlog_model.h"
#include "sim/fault_plan.h"

namespace qx::os {

EventSource EventLogRegister(const char16_t* source_name) {
    if (qxsim::InjectFault(qxsim::FaultKind::kEventLogRegister)) return nullptr;
    return reinterpret_cast<EventSource>(qxsim::EventLogModel::Instance().Register(source_name));
}

void EventLogDeregister(EventSource source) {
    qxsim::EventLogModel::Instance().Deregister(reinterpret_cast<uintptr_t>(source));
}

void EventLogReportInfo(EventSource source, const char* text) {
    if (qxsim::InjectFault(qxsim::FaultKind::kEventLogReport)) return;
    std::u16string wide = qxsim::AnsiToUtf16(text);
    qxsim::EventLogModel::Instance().Report(reinterpret_cast<uintptr_t>(source), 4, 1, 2, {wide});
}

}  // namespace qx::os
