// The virtual notebook's event log: what RegisterEventSourceW and ReportEventW
// were given, kept for tests and for qxsim's summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qxsim {

struct EventRecord {
    std::u16string source;
    uint16_t type = 0;
    uint16_t category = 0;
    uint32_t event_id = 0;
    std::vector<std::u16string> strings;
};

class EventLogModel {
  public:
    friend class Notebook;  // builds the one instance

    void SetRegisterFails(bool fails);
    // Returns a non-zero handle, or 0 when registration fails (always for the
    // Security log, which Windows keeps to itself).
    uintptr_t Register(const std::u16string& source);
    bool Deregister(uintptr_t handle);
    bool Report(uintptr_t handle, uint16_t type, uint16_t category, uint32_t event_id,
                std::vector<std::u16string> strings);

    // Called with every event as it is reported (qxsim's timeline shows the
    // daemon's messages); empty to stop.
    void SetReportObserver(std::function<void(const EventRecord&)> observer);

    // The most recent events (at most kEventLogSize: a chatty daemon reports
    // for days) and how many were reported since the last Clear.
    static constexpr size_t kEventLogSize = 10000;
    std::vector<EventRecord> Events();
    uint64_t EventCount();
    // Keep at most this many recent events instead (a soak keeps few).
    void SetLogLimit(size_t entries);
    void Clear();
    int OpenHandles();
    // ReportEventW calls on a handle after its DeregisterEventSource: on
    // Windows a use of a closed (perhaps reused) handle. Each one is a fault.
    int CallsOnClosedHandles();

  private:
    std::mutex m_;
    bool register_fails_ = false;
    uintptr_t next_handle_ = 0x100;
    std::vector<std::pair<uintptr_t, std::u16string>> handles_;
    std::deque<EventRecord> events_;
    uint64_t event_count_ = 0;
    size_t limit_ = kEventLogSize;
    std::function<void(const EventRecord&)> observer_;
    std::vector<uintptr_t> closed_;
    int closed_calls_ = 0;
};

// The ANSI code page of the virtual notebook: Windows-1252, as on a western
// European or US installation. Converts 8-bit text to UTF-16.
std::u16string AnsiToUtf16(const char* text);

}  // namespace qxsim
