#include "sim/power_model.h"

namespace qxsim {

PowerModel& PowerModel::Instance() {
    static PowerModel* model = new PowerModel();
    return *model;
}

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
        Kernel::Instance().Wait(pending_, kInfinite);
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
    Kernel::Instance().At(when, [this, pbt_code] { Broadcast(pbt_code); });
}

int PowerModel::BroadcastsDelivered() {
    std::lock_guard<std::mutex> lk(m_);
    return delivered_;
}

}  // namespace qxsim
