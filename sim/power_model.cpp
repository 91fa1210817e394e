#include "sim/notebook.h"
#include "sim/power_model.h"

namespace qxsim {

void PowerModel::SetWindowCreateFails(bool fails) {
    std::lock_guard<std::mutex> lk(m_);
    create_fails_ = fails;
}

bool PowerModel::CreateHiddenWindow() {
    std::lock_guard<std::mutex> lk(m_);
    if (create_fails_) return false;
    window_ = true;
    return true;
}

void PowerModel::DestroyHiddenWindow() {
    std::lock_guard<std::mutex> lk(m_);
    window_ = false;
}

bool PowerModel::WindowExists() {
    std::lock_guard<std::mutex> lk(m_);
    return window_;
}

bool PowerModel::GetMessage(WindowMessage* out) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lk(m_);
            if (!queue_.empty()) {
                *out = queue_.front();
                queue_.pop_front();
                return out->message != kWmQuit;
            }
        }
        Notebook::Current().Kernel().Wait(pending_, kInfinite);
    }
}

void PowerModel::PostMessage(uint32_t message, uintptr_t wparam, uintptr_t lparam) {
    {
        std::lock_guard<std::mutex> lk(m_);
        queue_.push_back(WindowMessage{message, wparam, lparam});
    }
    pending_.Set();
}

void PowerModel::Broadcast(uintptr_t pbt_code) {
    {
        std::lock_guard<std::mutex> lk(m_);
        if (!window_) return;
        ++delivered_;
    }
    PostMessage(kWmPowerBroadcast, pbt_code);
}

void PowerModel::BroadcastAt(VTime when, uintptr_t pbt_code) {
    Notebook::Current().Kernel().At(when, [this, pbt_code] { Broadcast(pbt_code); });
}

void PowerModel::EndSession(bool ends, bool logoff) {
    {
        std::lock_guard<std::mutex> lk(m_);
        if (!window_) return;
        session_ends_ = ends;
        session_logoff_ = logoff;
    }
    PostMessage(kWmQueryEndSession, 0, logoff ? kEndSessionLogoff : 0);
}

void PowerModel::ReplyQueryEndSession(bool agree) {
    bool ends, logoff;
    {
        std::lock_guard<std::mutex> lk(m_);
        query_answers_.push_back(agree ? 1 : 0);
        ends = session_ends_ && agree;
        logoff = session_logoff_;
    }
    PostMessage(kWmEndSession, ends ? 1 : 0, logoff ? kEndSessionLogoff : 0);
}

std::vector<int> PowerModel::QueryEndSessionAnswers() {
    std::lock_guard<std::mutex> lk(m_);
    return query_answers_;
}

void PowerModel::SetModernStandby(bool aoac) {
    std::lock_guard<std::mutex> lk(m_);
    aoac_ = aoac;
}

bool PowerModel::ModernStandby() {
    std::lock_guard<std::mutex> lk(m_);
    return aoac_;
}

void PowerModel::SetDisplayRegistrationExists(bool exists) {
    std::lock_guard<std::mutex> lk(m_);
    display_registration_ = exists;
}

void PowerModel::DeliverDisplayState(const std::function<void(uint32_t)>& recipient,
                                     uint32_t state) {
    Notebook::Current().Kernel().Spawn("power-setting", [recipient, state]() -> uint32_t {
        recipient(state);
        return 0;
    });
}

bool PowerModel::RegisterDisplayState(std::function<void(uint32_t)> recipient) {
    uint32_t state;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (!display_registration_) return false;
        display_recipients_.push_back(recipient);
        state = display_state_;
    }
    // Windows calls the new registration with the current value at once.
    DeliverDisplayState(recipient, state);
    return true;
}

int PowerModel::DisplayRecipients() {
    std::lock_guard<std::mutex> lk(m_);
    return static_cast<int>(display_recipients_.size());
}

void PowerModel::SetDisplayState(uint32_t state) {
    std::vector<std::function<void(uint32_t)>> recipients;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (state == display_state_) return;
        display_state_ = state;
        recipients = display_recipients_;
    }
    for (const auto& recipient : recipients) DeliverDisplayState(recipient, state);
}

uint32_t PowerModel::DisplayState() {
    std::lock_guard<std::mutex> lk(m_);
    return display_state_;
}

int PowerModel::BroadcastsDelivered() {
    std::lock_guard<std::mutex> lk(m_);
    return delivered_;
}

}  // namespace qxsim
