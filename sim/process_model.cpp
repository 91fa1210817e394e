#include "sim/process_model.h"
#include "sim/notebook.h"

#include <cstdio>

namespace qxsim {

void ProcessModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    // Timers of the children of an earlier run may still be due; the new
    // generation makes them find nothing.
    ++generation_;
    script_ = nullptr;
    launch_delay_ms_ = 0;
    own_image_path_ = kDefaultImagePath;
    // Children are kept alive: a virtual thread may still be parked on one.
    for (auto& child : children_) child->record.handle_open = false;
    retired_.insert(retired_.end(), std::make_move_iterator(children_.begin()),
                    std::make_move_iterator(children_.end()));
    children_.clear();
    violations_.clear();
}

void ProcessModel::SetScript(std::function<Plan(const std::u16string&)> script) {
    std::lock_guard<std::mutex> lk(m_);
    script_ = std::move(script);
}

void ProcessModel::SetOwnImagePath(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(m_);
    own_image_path_ = path;
}

std::u16string ProcessModel::OwnImagePath() {
    std::lock_guard<std::mutex> lk(m_);
    return own_image_path_;
}

void ProcessModel::SetLaunchDelayMs(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    launch_delay_ms_ = ms;
}

void ProcessModel::Violation(std::string what) {
    std::fprintf(stderr, "qxsim: process model: %s\n", what.c_str());
    violations_.push_back(std::move(what));
}

ProcessModel::Child* ProcessModel::Find(uintptr_t handle, const char* call) {
    if (handle == 0 || handle > children_.size()) {
        Violation(std::string(call) + " on a handle that was never a process");
        return nullptr;
    }
    Child* child = children_[handle - 1].get();
    if (!child->record.handle_open) {
        Violation(std::string(call) + " on a closed process handle");
        return nullptr;
    }
    return child;
}

void ProcessModel::End(Child& child, uint32_t code, bool terminated) {
    if (child.record.ended) return;
    child.record.ended = true;
    child.record.terminated = terminated;
    child.record.exit_code = code;
    child.exited.Set();
    if (child.wake != nullptr) child.wake->Set();
}

uintptr_t ProcessModel::Start(const std::u16string& command_line, uint32_t* error) {
    uint32_t delay = 0;
    {
        std::lock_guard<std::mutex> lk(m_);
        delay = launch_delay_ms_;
    }
    if (delay != 0) qxsim::Notebook::Current().Kernel().Sleep(delay);
    Plan plan;
    std::function<Plan(const std::u16string&)> script;
    {
        std::lock_guard<std::mutex> lk(m_);
        script = script_;
    }
    if (script) plan = script(command_line);
    if (plan.start_error != 0) {
        *error = plan.start_error;
        return 0;
    }
    uintptr_t handle = 0;
    {
        std::lock_guard<std::mutex> lk(m_);
        auto child = std::make_unique<Child>();
        child->record.command_line = command_line;
        children_.push_back(std::move(child));
        handle = children_.size();
        if (plan.runs_ms >= 0) {
            const uint64_t generation = generation_;
            qxsim::Notebook::Current().Kernel().At(
                qxsim::Notebook::Current().Kernel().Now() + plan.runs_ms,
                [this, handle, generation, code = plan.exit_code] {
                    std::lock_guard<std::mutex> inner(m_);
                    if (generation != generation_) return;
                    End(*children_[handle - 1], code, false);
                });
        }
    }
    if (plan.at_start) plan.at_start();
    return handle;
}

bool ProcessModel::Terminate(uintptr_t handle, uint32_t exit_code) {
    std::lock_guard<std::mutex> lk(m_);
    Child* child = Find(handle, "TerminateProcess");
    if (child == nullptr || child->record.ended) return false;
    End(*child, exit_code, true);
    return true;
}

bool ProcessModel::Wait(uintptr_t handle, uint32_t ms) {
    Event* exited = nullptr;
    {
        std::lock_guard<std::mutex> lk(m_);
        Child* child = Find(handle, "WaitForSingleObject");
        if (child == nullptr) return false;
        exited = &child->exited;
    }
    return qxsim::Notebook::Current().Kernel().Wait(*exited, ms);
}

bool ProcessModel::ExitCode(uintptr_t handle, uint32_t* code) {
    std::lock_guard<std::mutex> lk(m_);
    Child* child = Find(handle, "GetExitCodeProcess");
    if (child == nullptr) return false;
    *code = child->record.exit_code;
    return true;
}

bool ProcessModel::HasEnded(uintptr_t handle) {
    std::lock_guard<std::mutex> lk(m_);
    Child* child = Find(handle, "a wait");
    return child != nullptr && child->record.ended;
}

void ProcessModel::Close(uintptr_t handle) {
    std::lock_guard<std::mutex> lk(m_);
    Child* child = Find(handle, "CloseHandle");
    if (child == nullptr) return;
    child->record.handle_open = false;
    child->wake = nullptr;
}

void ProcessModel::Watch(uintptr_t handle, Event* wake) {
    std::lock_guard<std::mutex> lk(m_);
    Child* child = Find(handle, "WaitForMultipleObjects");
    if (child != nullptr) child->wake = wake;
}

std::vector<ProcessModel::Record> ProcessModel::Children() {
    std::lock_guard<std::mutex> lk(m_);
    std::vector<Record> out;
    for (const auto& child : children_) out.push_back(child->record);
    return out;
}

int ProcessModel::RunningChildren() {
    std::lock_guard<std::mutex> lk(m_);
    int n = 0;
    for (const auto& child : children_) n += child->record.ended ? 0 : 1;
    return n;
}

int ProcessModel::OpenHandles() {
    std::lock_guard<std::mutex> lk(m_);
    int n = 0;
    for (const auto& child : children_) n += child->record.handle_open ? 1 : 0;
    return n;
}

std::vector<std::string> ProcessModel::Violations() {
    std::lock_guard<std::mutex> lk(m_);
    return violations_;
}

}  // namespace qxsim
