#include "tools/qxsim/i2c_vcd.h"

#include <cinttypes>

namespace qxsim {

I2cVcdWriter::I2cVcdWriter(I2cSpeed speed, uint8_t address) : speed_(speed), address_(address) {
    if (speed_ == I2cSpeed::Standard) {
        // 1 us units: 5 us low, 5 us high (100 kHz); start hold 5 us (min 4.0),
        // bus free 5 us (min 4.7).
        units_per_ms_ = 1000;
        low_ = 5, high_ = 5, data_delay_ = 2, hold_ = 5, bus_free_ = 5;
    } else {
        // 100 ns units: 1.5 us low (min 1.3), 1.0 us high (min 0.6), 400 kHz;
        // start hold 0.6 us, bus free 1.3 us.
        units_per_ms_ = 10000;
        low_ = 15, high_ = 10, data_delay_ = 5, hold_ = 6, bus_free_ = 13;
    }
}

I2cVcdWriter::~I2cVcdWriter() {
    if (file_ != nullptr) fclose(file_);
}

void I2cVcdWriter::WriteToString() {
    to_string_ = true;
    Emit(nullptr);
}

std::string I2cVcdWriter::TakeText() {
    std::string t;
    t.swap(text_);
    return t;
}

void I2cVcdWriter::Emit(const char* text) {
    if (text == nullptr) {
        // The header: written once, when the output is chosen.
        char head[400];
        snprintf(head, sizeof head,
                 "$version qxsim: the antenna controller's I2C bus at address 0x%02X $end\n"
                 "$timescale %s $end\n"
                 "$scope module i2c $end\n"
                 "$var wire 1 ! scl $end\n"
                 "$var wire 1 \" sda $end\n"
                 "$upscope $end\n"
                 "$enddefinitions $end\n"
                 "#0\n"
                 "$dumpvars\n1!\n1\"\n$end\n",
                 address_, speed_ == I2cSpeed::Standard ? "1us" : "100ns");
        stamp_ = 0;
        Emit(head);
        return;
    }
    if (to_string_) {
        text_ += text;
    } else if (file_ != nullptr && fputs(text, file_) < 0) {
        failed_ = true;
    }
}

bool I2cVcdWriter::Open(const std::string& path) {
    file_ = fopen(path.c_str(), "w");
    if (file_ == nullptr) return false;
    Emit(nullptr);
    return true;
}

void I2cVcdWriter::Set(uint64_t t, int scl, int sda) {
    if (scl == scl_ && sda == sda_) return;
    char line[64];
    if (t != stamp_) {
        snprintf(line, sizeof line, "#%" PRIu64 "\n", t);
        Emit(line);
        stamp_ = t;
    }
    if (scl != scl_) Emit(scl ? "1!\n" : "0!\n");
    if (sda != sda_) Emit(sda ? "1\"\n" : "0\"\n");
    scl_ = scl;
    sda_ = sda;
    now_ = t;
}

// Eight data bits and the acknowledge bit, from SCL low to SCL low.
void I2cVcdWriter::Byte(uint8_t value, bool ack) {
    for (int bit = 8; bit >= 0; --bit) {
        int level = bit > 0 ? (value >> (bit - 1)) & 1 : (ack ? 0 : 1);
        uint64_t t = now_;
        Set(t + data_delay_, 0, level);
        Set(t + low_, 1, level);
        Set(t + low_ + high_, 0, level);
    }
}

void I2cVcdWriter::Transfer(VTime when, bool write, const uint8_t* bytes, size_t count) {
    uint64_t t = static_cast<uint64_t>(when < 0 ? 0 : when) * units_per_ms_;
    if (t < free_at_) t = free_at_;
    // Start: SDA falls while SCL is high; SCL follows after the hold time.
    Set(t, 1, 0);
    Set(t + hold_, 0, 0);
    Byte(static_cast<uint8_t>(address_ << 1 | (write ? 0 : 1)), true);
    for (size_t i = 0; i < count; ++i) {
        // The controller acknowledges each written byte; the host each read
        // byte but the last, which ends the read.
        Byte(bytes[i], write || i + 1 < count);
    }
    // Stop: SDA low under low SCL, SCL rises, then SDA rises.
    uint64_t s = now_;
    Set(s + data_delay_, 0, 0);
    Set(s + low_, 1, 0);
    Set(s + low_ + hold_, 1, 1);
    free_at_ = now_ + bus_free_;
}

bool I2cVcdWriter::Close() {
    char line[64];
    snprintf(line, sizeof line, "#%" PRIu64 "\n", free_at_ > stamp_ ? free_at_ : stamp_ + 1);
    Emit(line);
    if (file_ == nullptr) return !failed_;
    bool ok = !failed_ && fflush(file_) == 0 && !ferror(file_);
    ok = fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace qxsim
