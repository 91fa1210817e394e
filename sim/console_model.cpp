#include "sim/notebook.h"
#include "sim/console_model.h"

#include <unistd.h>

#include "sim/vkernel.h"

namespace qxsim {

void ConsoleModel::Write(const char* data, size_t len) {
    std::lock_guard<std::mutex> lk(m_);
    if (capturing_) capture_.append(data, len);
    if (echo_) {
        // Straight to the descriptor: the daemon's lines and the notebook's own
        // lines then interleave in the order they were written.
        while (len > 0) {
            ssize_t n = ::write(1, data, len);
            if (n <= 0) break;
            data += n;
            len -= static_cast<size_t>(n);
        }
    }
}

void ConsoleModel::SetEcho(bool echo) {
    std::lock_guard<std::mutex> lk(m_);
    echo_ = echo;
}

void ConsoleModel::StartCapture() {
    std::lock_guard<std::mutex> lk(m_);
    capturing_ = true;
    capture_.clear();
}

std::string ConsoleModel::TakeCapture() {
    std::lock_guard<std::mutex> lk(m_);
    std::string out;
    out.swap(capture_);
    return out;
}

void ConsoleModel::SetStdoutValid(bool valid) {
    std::lock_guard<std::mutex> lk(m_);
    stdout_valid_ = valid;
}

bool ConsoleModel::StdoutValid() {
    std::lock_guard<std::mutex> lk(m_);
    return stdout_valid_;
}

void ConsoleModel::SetInstallFails(bool fails) {
    std::lock_guard<std::mutex> lk(m_);
    install_fails_ = fails;
}

bool ConsoleModel::InstallHandler(Handler handler) {
    std::lock_guard<std::mutex> lk(m_);
    if (install_fails_) return false;
    handlers_.push_back(handler);
    return true;
}

void ConsoleModel::SetUser32Loaded(bool loaded) {
    std::lock_guard<std::mutex> lk(m_);
    user32_ = loaded;
}

int ConsoleModel::WithheldEvents() {
    std::lock_guard<std::mutex> lk(m_);
    return withheld_;
}

void ConsoleModel::RaiseCtrlEvent(uint32_t ctrl_type) {
    std::vector<Handler> handlers;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (user32_ && (ctrl_type == kCtrlLogoffEvent || ctrl_type == kCtrlShutdownEvent)) {
            ++withheld_;
            return;
        }
        handlers = handlers_;
    }
    Notebook::Current().Kernel().Spawn("console-ctrl", [handlers, ctrl_type]() -> uint32_t {
        for (auto it = handlers.rbegin(); it != handlers.rend(); ++it) {
            if ((*it)(ctrl_type) != 0) return 0;
        }
        Notebook::Current().Kernel().ExitProcess(kStatusControlCExit);
    });
}

void ConsoleModel::RaiseCtrlEventAt(int64_t vtime_ms, uint32_t ctrl_type) {
    Notebook::Current().Kernel().At(vtime_ms, [this, ctrl_type] { RaiseCtrlEvent(ctrl_type); });
}

}  // namespace qxsim
