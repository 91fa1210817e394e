// The virtual notebook's Intel Wi-Fi management library: present when the
// link model's vendor is Intel, an adapter list with query flags, and the BSS
// statistics of the Wi-Fi adapter taken from the scripted link. Knobs make the
// library lose an export, fail calls, or write a count larger than the room
// the caller declared.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/link_model.h"
#include "sim/violation_log.h"

namespace qxsim {

struct SimIntelAdapter {
    uint32_t id = 0;
    Mac mac{};
    uint32_t flag = 1;          // nonzero: the adapter can be queried
    bool follows_link = false;  // its statistics are the link model's
};

class IntelLibModel {
  public:
    friend class Notebook;  // builds the one instance

    // One flagged adapter (id 1) with the link model's MAC; no failures.
    void Reset();

    void SetAdapters(std::vector<SimIntelAdapter> adapters);
    // The count written into the list (-1: the number of adapters). Never more
    // than 20 entries are stored: that is all the room the caller declared.
    void SetReportedCount(int32_t count);
    // An export the library does not have ("" for none).
    void SetMissingExport(const std::string& name);
    // The next `count` calls fail with this status.
    void FailAdapterList(uint32_t status, int count);
    void FailStatistics(uint32_t status, int count);
    // The status word written at the start of the statistics result.
    void SetBssStatusWord(uint32_t word);

    // Counters for tests.
    int LoadAttempts();  // every LoadLibrary of any path
    int Loads();         // successful loads
    int LoadedNow();     // loads minus frees
    int ListCalls();
    int StatisticsCalls();
    uint32_t LastStatisticsId();

    // Calls into the library while no load of it is held (a symbol looked up,
    // an export called or a handle freed after the last free): on Windows the
    // module may be gone and such a call crashes. Reported on standard error.
    std::vector<std::string> Violations();

    // The seam's side.
    bool Load(const wchar_t* path);
    void* Symbol(const char* name);
    void Free();
    uint32_t GetAdapterList(void* header, void** list);
    uint32_t GetStatistics(uint32_t id, void* header, void* bss);

  private:
    std::mutex m_;
    ViolationLog violations_{"Intel library"};
    std::vector<SimIntelAdapter> adapters_;
    int32_t reported_count_ = -1;
    std::string missing_;
    uint32_t list_fail_status_ = 0;
    int list_fail_count_ = 0;
    uint32_t stats_fail_status_ = 0;
    int stats_fail_count_ = 0;
    uint32_t bss_status_word_ = 0;
    int load_attempts_ = 0;
    int loads_ = 0;
    int loaded_ = 0;
    int list_calls_ = 0;
    int stats_calls_ = 0;
    uint32_t last_stats_id_ = 0;
    // The list handed out: the library's memory, alive for the process.
    std::vector<std::vector<uint8_t>> lists_;
};

}  // namespace qxsim
