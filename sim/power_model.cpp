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

void PowerModel::PostMessage(uint32_t message, uintptr_t wparam) {
    {
        std::lock_guard<std::mutex> lk(m_);
        queue_.push_back(WindowMessage{message, wparam});
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

void PowerModel::EndSession(bool ends) {
    {
        std::lock_guard<std::mutex> lk(m_);
        if (!window_) return;
        session_ends_ = ends;
    }
    PostMessage(kWmQueryEndSession, 0);
}

void PowerModel::ReplyQueryEndSession(bool agree) {
    bool ends;
    {
        std::lock_guard<std::mutex> lk(m_);
        query_answers_.push_back(agree ? 1 : 0);
        ends = session_ends_ && agree;
    }
    PostMessage(kWmEndSession, ends ? 1 : 0);
}

std::vector<int> PowerModel::QueryEndSessionAnswers() {
    std::lock_guard<std::mutex> lk(m_);
    return query_answers_;
}

int PowerModel::BroadcastsDelivered() {
    std::lock_guard<std::mutex> lk(m_);
    return delivered_;
}

}  // namespace qxsim
