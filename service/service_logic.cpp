#include "service/service_logic.h"
#include "common/os_codes.h"

namespace qx::service {

int32_t StatusBook::Report(uint32_t state, uint32_t win32_exit_code, uint32_t wait_hint,
                           StatusSink sink) {
    std::lock_guard<std::mutex> guard(lock_);
    return ReportLocked(state, win32_exit_code, wait_hint, sink);
}

int32_t StatusBook::ReportCurrent(StatusSink sink) {
    std::lock_guard<std::mutex> guard(lock_);
    return ReportLocked(record_.current_state, 0, 0, sink);
}

StatusRecord StatusBook::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return record_;
}

void StatusBook::Clear() {
    std::lock_guard<std::mutex> guard(lock_);
    record_ = StatusRecord{kServiceWin32OwnProcess, 0, 0, 0, 0, 0, 0};
    next_check_point_ = 1;
    stopped_ = false;
}

int32_t StatusBook::ReportLocked(uint32_t state, uint32_t win32_exit_code, uint32_t wait_hint,
                                 StatusSink sink) {
    if (stopped_) return 0;
    record_.current_state = state;
    record_.win32_exit_code = win32_exit_code;
    record_.wait_hint = wait_hint;
    // No stop request is taken before the stop event exists.
    record_.controls_accepted = state == kStateStartPending ? 0 : kAcceptStop;
    if (state == kStateRunning || state == kStateStopped) {
        record_.check_point = 0;
    } else {
        record_.check_point = next_check_point_++;
    }
    if (state == kStateStopped) stopped_ = true;
    return sink(record_);
}

namespace {

// Appends into a fixed buffer, dropping whatever does not fit; the buffer is
// terminated after every append.
class TextWriter {
  public:
    TextWriter(char16_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {
        buffer_[0] = 0;
    }

    void Put(const char16_t* text) {
        if (text == nullptr) return;
        while (*text != 0 && used_ + 1 < capacity_) buffer_[used_++] = *text++;
        buffer_[used_] = 0;
    }

    void PutDecimal(int32_t value) {
        char16_t digits[12];
        size_t n = 0;
        // Work in the negative range so that INT32_MIN needs no special case.
        int64_t v = value;
        bool negative = v < 0;
        if (!negative) v = -v;
        do {
            digits[n++] = static_cast<char16_t>(u'0' - v % 10);
            v /= 10;
        } while (v != 0);
        char16_t text[13];
        size_t k = 0;
        if (negative) text[k++] = u'-';
        while (n > 0) text[k++] = digits[--n];
        text[k] = 0;
        Put(text);
    }

  private:
    char16_t* buffer_;
    size_t capacity_;
    size_t used_ = 0;
};

constexpr char16_t kEventPrefix[] = u"Halvorn Veltrane Antenna Service Application ";

}  // namespace

void FormatServiceError(char16_t (&buffer)[kEventTextChars], const char16_t* text, int32_t code) {
    TextWriter w(buffer, kEventTextChars);
    w.Put(kEventPrefix);
    w.Put(text);
    w.Put(u" failed with ");
    w.PutDecimal(code);
}

void FormatServiceInfo(char16_t (&buffer)[kEventTextChars], const char16_t* text) {
    TextWriter w(buffer, kEventTextChars);
    w.Put(kEventPrefix);
    w.Put(text);
}

WaitStep ClassifyWait(uint32_t wait_result) {
    switch (wait_result) {
        case oscode::kWaitObject0:
            return WaitStep::kStopRequested;
        case oscode::kWaitObject0 + 1:
            return WaitStep::kChildExited;
        case oscode::kWaitTimeout:
            return WaitStep::kWaitAgain;
        default:
            return WaitStep::kFailed;
    }
}

bool DaemonPathBeside(const char16_t* module_path, const char16_t* file_name, char16_t* out,
                      size_t capacity) {
    if (capacity == 0) return false;
    out[0] = 0;
    size_t folder = 0;  // units up to and with the last backslash
    for (size_t i = 0; module_path[i] != 0; ++i) {
        if (module_path[i] == u'\\') folder = i + 1;
    }
    if (folder == 0) return false;
    size_t name = 0;
    while (file_name[name] != 0) ++name;
    if (folder + name + 1 > capacity) return false;
    for (size_t i = 0; i < folder; ++i) out[i] = module_path[i];
    for (size_t i = 0; i <= name; ++i) out[folder + i] = file_name[i];
    return true;
}

bool QuoteBinaryPath(const char16_t* path, char16_t* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = 0;
    size_t length = 0;
    while (path[length] != 0) ++length;
    if (length + 3 > capacity) return false;
    out[0] = u'"';
    for (size_t i = 0; i < length; ++i) out[i + 1] = path[i];
    out[length + 1] = u'"';
    out[length + 2] = 0;
    return true;
}

}  // namespace qx::service
