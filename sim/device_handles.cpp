#include "sim/device_handles.h"

namespace qxsim {

void DeviceHandles::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    own_ = 0;
    other_ = false;
}

uint32_t DeviceHandles::Open(int64_t* handle) {
    std::lock_guard<std::mutex> lk(m_);
    *handle = 0;
    if (own_ != 0 || other_) return kErrorAccessDenied;
    own_ = next_++;
    *handle = own_;
    return kErrorSuccess;
}

void DeviceHandles::Close(int64_t handle) {
    std::lock_guard<std::mutex> lk(m_);
    if (handle != 0 && handle == own_) own_ = 0;
}

uint32_t DeviceHandles::OpenByAnotherProgram() {
    std::lock_guard<std::mutex> lk(m_);
    if (own_ != 0 || other_) return kErrorAccessDenied;
    other_ = true;
    return kErrorSuccess;
}

void DeviceHandles::CloseAnotherProgram() {
    std::lock_guard<std::mutex> lk(m_);
    other_ = false;
}

bool DeviceHandles::HeldByAnotherProgram() {
    std::lock_guard<std::mutex> lk(m_);
    return other_;
}

int DeviceHandles::OpenHandles() {
    std::lock_guard<std::mutex> lk(m_);
    return (own_ != 0 ? 1 : 0) + (other_ ? 1 : 0);
}

}  // namespace qxsim
