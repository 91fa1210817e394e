// The controller's bus as an I2C waveform in Value Change Dump format.
//
// Every completed transfer becomes one I2C transaction between a start and a
// stop condition: the address byte (the controller's 7-bit address and the
// read/write bit), then 8 data bits and an acknowledge bit per byte, most
// significant bit first. The controller acknowledges what it is written; the
// host acknowledges every byte it reads but the last, as an I2C master does.
// Wires "scl" and "sda"; the time base is virtual time. PulseView, GTKWave and
// sigrok-cli open the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "sim/vkernel.h"

namespace qxsim {

// The controller's 7-bit bus address on the virtual notebook (the README
// names it; a notebook's firmware may choose another).
constexpr uint8_t kControllerBusAddress = 0x2C;

enum class I2cSpeed { Standard, Fast };  // 100 kHz, 400 kHz

class I2cVcdWriter {
  public:
    I2cVcdWriter(I2cSpeed speed, uint8_t address = kControllerBusAddress);
    ~I2cVcdWriter();
    I2cVcdWriter(const I2cVcdWriter&) = delete;
    I2cVcdWriter& operator=(const I2cVcdWriter&) = delete;

    // Opens the file and writes the header; false (with errno) on failure.
    bool Open(const std::string& path);
    // One transfer at virtual time `when`. A transfer that would begin while
    // the previous one is still on the wire (several in the same virtual
    // millisecond) follows it after the bus-free time instead.
    void Transfer(VTime when, bool write, const uint8_t* bytes, size_t count);
    // Writes the closing time stamp and closes the file; false on a write error.
    bool Close();

    // For tests: the header and changes go here instead of a file.
    std::string TakeText();
    void WriteToString();

  private:
    void Emit(const char* text);
    void Set(uint64_t t, int scl, int sda);
    void Byte(uint8_t value, bool ack);

    I2cSpeed speed_;
    uint8_t address_;
    FILE* file_ = nullptr;
    bool to_string_ = false;
    bool failed_ = false;
    std::string text_;
    uint64_t now_ = 0;      // time of the last change, in time-scale units
    uint64_t free_at_ = 0;  // the bus is idle from here on
    int scl_ = 1, sda_ = 1;
    uint64_t stamp_ = UINT64_MAX;  // last time stamp written
    // Timing in time-scale units: the low and high halves of a clock period,
    // the data change after SCL falls, and the set-up and hold of start and stop.
    uint32_t low_, high_, data_delay_, hold_, bus_free_;
    uint32_t units_per_ms_;
};

}  // namespace qxsim
