// The virtual notebook's Qualcomm Atheros control device ("\\.\ATH_WIFIDEV.00"):
// present when the link model's vendor is QCA; a PPDU log that records the
// last PPDU of the scripted link (legacy, HT or VHT) and answers the three
// log commands. Knobs: no PPDU logged yet, a command that fails, a raw record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "sim/link_model.h"
#include "sim/violation_log.h"

namespace qxsim {

class QcaDeviceModel {
  public:
    static constexpr uint8_t kLegacy = 4;
    static constexpr uint8_t kHt = 8;
    static constexpr uint8_t kVht = 12;

    friend class Notebook;  // builds the one instance

    // A VHT log of the link; a PPDU already logged; no failures.
    void Reset();

    // Which kind of PPDU the log holds (4, 8, 9, 12 or 13).
    void SetPpduType(uint8_t type);
    // False: nothing logged since the driver started; the record is all zeros.
    void SetPpduLogged(bool logged);
    // The next `count` commands with this text fail ("" = any command).
    void FailCommand(const std::string& text, int count);
    // A record delivered as is instead of the one built from the link (empty: off).
    void SetRawRecord(std::vector<uint8_t> record);

    // Counters for tests.
    int OpenAttempts();  // every CreateFile, found or not
    int Opens();
    int OpenHandles();
    bool Logging();
    // The commands received, in order: the most recent (the provider sends three a cycle, so at
    // most kCommandLogSize are kept) and how many there were.
    static constexpr size_t kCommandLogSize = 1000;
    std::vector<std::string> Commands();
    uint64_t CommandCount();

    // The record the log holds now (132 bytes).
    std::array<uint8_t, 132> Record();

    // A handle used or closed that is not open (closed already, or never
    // handed out): on Windows that is ERROR_INVALID_HANDLE at best and
    // another file's handle at worst. Reported on standard error.
    std::vector<std::string> Violations();

    // The seam's side: handle numbers instead of pointers; 0 = none.
    uintptr_t Open(const wchar_t* path);
    bool Control(uintptr_t handle, uint32_t code, const void* in, uint32_t in_size, void* out,
                 uint32_t out_size, uint32_t* returned);
    void Close(uintptr_t handle);

  private:
    std::array<uint8_t, 132> RecordLocked();

    std::mutex m_;
    uint8_t type_ = kVht;
    bool logged_ = true;
    std::string fail_text_;
    int fail_count_ = 0;
    std::vector<uint8_t> raw_;
    int open_attempts_ = 0;
    int opens_ = 0;
    std::vector<uintptr_t> handles_;
    uintptr_t next_handle_ = 0x40;
    bool logging_ = false;
    std::deque<std::string> commands_;
    uint64_t command_count_ = 0;
    ViolationLog violations_{"QCA device"};
};

}  // namespace qxsim
