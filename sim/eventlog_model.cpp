#include "sim/eventlog_model.h"
#include "sim/case_fold.h"

#include <cstdio>

namespace qxsim {

void EventLogModel::SetRegisterFails(bool fails) {
    std::lock_guard<std::mutex> lk(m_);
    register_fails_ = fails;
}

uintptr_t EventLogModel::Register(const std::u16string& source) {
    std::lock_guard<std::mutex> lk(m_);
    // The Security log is the system's: ERROR_ACCESS_DENIED. Source names
    // are registry key names, so case does not count.
    if (register_fails_ || SameCaseAside(source, u"Security")) return 0;
    uintptr_t h = next_handle_++;
    handles_.emplace_back(h, source);
    return h;
}

bool EventLogModel::Deregister(uintptr_t handle) {
    std::lock_guard<std::mutex> lk(m_);
    for (auto it = handles_.begin(); it != handles_.end(); ++it) {
        if (it->first == handle) {
            handles_.erase(it);
            closed_.push_back(handle);
            return true;
        }
    }
    return false;
}

void EventLogModel::SetReportObserver(std::function<void(const EventRecord&)> observer) {
    std::lock_guard<std::mutex> lk(m_);
    observer_ = std::move(observer);
}

bool EventLogModel::Report(uintptr_t handle, uint16_t type, uint16_t category, uint32_t event_id,
                           std::vector<std::u16string> strings) {
    std::function<void(const EventRecord&)> observer;
    EventRecord record;
    {
        std::lock_guard<std::mutex> lk(m_);
        auto h = handles_.begin();
        while (h != handles_.end() && h->first != handle) ++h;
        if (h == handles_.end()) {
            for (uintptr_t closed : closed_) {
                if (closed == handle) {
                    ++closed_calls_;
                    std::fprintf(stderr,
                                 "eventlog model: ReportEventW on deregistered handle %#lx\n",
                                 static_cast<unsigned long>(handle));
                }
            }
            return false;  // ERROR_INVALID_HANDLE
        }
        record = EventRecord{h->second, type, category, event_id, std::move(strings)};
        ++event_count_;
        while (events_.size() >= limit_) events_.pop_front();
        events_.push_back(record);
        observer = observer_;
    }
    // Outside the lock: the observer may read the clock or report itself.
    if (observer) observer(record);
    return true;
}

int EventLogModel::CallsOnClosedHandles() {
    std::lock_guard<std::mutex> lk(m_);
    return closed_calls_;
}

std::vector<EventRecord> EventLogModel::Events() {
    std::lock_guard<std::mutex> lk(m_);
    return std::vector<EventRecord>(events_.begin(), events_.end());
}

uint64_t EventLogModel::EventCount() {
    std::lock_guard<std::mutex> lk(m_);
    return event_count_;
}

void EventLogModel::SetLogLimit(size_t entries) {
    std::lock_guard<std::mutex> lk(m_);
    limit_ = entries > 0 ? entries : 1;
    while (events_.size() > limit_) events_.pop_front();
}

void EventLogModel::Clear() {
    std::lock_guard<std::mutex> lk(m_);
    events_.clear();
    event_count_ = 0;
}

int EventLogModel::OpenHandles() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(handles_.size());
}

std::u16string AnsiToUtf16(const char* text) {
    // 0x80-0x9F of Windows-1252; the rest of the page maps to the same code point.
    static const char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::u16string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p != 0; ++p) {
        out.push_back(*p >= 0x80 && *p < 0xA0 ? kHigh[*p - 0x80] : static_cast<char16_t>(*p));
    }
    return out;
}

}  // namespace qxsim
