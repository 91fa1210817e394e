#include "sim/process_model.h"

#include <cstdio>

#include "sim/file_model.h"
#include "sim/notebook.h"
#include "sim/scm_model.h"

namespace qxsim {

namespace {

constexpr uint32_t kErrFileNotFound = qx::oscode::kErrorFileNotFound;

bool IsFullPath(const std::u16string& path) {
    return (path.size() >= 3 && path[1] == u':' && path[2] == u'\\') || path.rfind(u"\\\\", 0) == 0;
}

std::u16string Join(const std::u16string& folder, const std::u16string& name) {
    if (folder.empty() || folder.back() == u'\\') return folder + name;
    return folder + u"\\" + name;
}

std::u16string FolderOf(const std::u16string& path) {
    const size_t slash = path.rfind(u'\\');
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

// The program name CreateProcessW takes from a command line: the quoted text,
// or everything up to the first blank.
std::u16string FirstWord(const std::u16string& command_line) {
    if (!command_line.empty() && command_line[0] == u'"') {
        const size_t close = command_line.find(u'"', 1);
        return command_line.substr(
            1, close == std::u16string::npos ? std::u16string::npos : close - 1);
    }
    return command_line.substr(0, command_line.find_first_of(u" \t"));
}

}  // namespace

void ProcessModel::Reset() {
    std::lock_guard<std::mutex> lk(m_);
    // Timers of the children of an earlier run may still be due; the new
    // generation makes them find nothing.
    ++generation_;
    script_ = nullptr;
    launch_delay_ms_ = 0;
    termination_ms_ = kDefaultTerminationMs;
    own_image_path_ = kDefaultImagePath;
    current_directory_ = kDefaultCurrentDirectory;
    search_path_.clear();
    job_create_error_ = 0;
    job_assign_error_ = 0;
    // Children are kept alive: a virtual thread may still be parked on one.
    for (auto& child : children_) child->record.handle_open = false;
    retired_.insert(retired_.end(), std::make_move_iterator(children_.begin()),
                    std::make_move_iterator(children_.end()));
    children_.clear();
    jobs_.clear();
    violations_.Clear();
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

void ProcessModel::SetCurrentDirectory(const std::u16string& path) {
    std::lock_guard<std::mutex> lk(m_);
    current_directory_ = path;
}

void ProcessModel::SetSearchPath(const std::vector<std::u16string>& folders) {
    std::lock_guard<std::mutex> lk(m_);
    search_path_ = folders;
}

void ProcessModel::SetLaunchDelayMs(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    launch_delay_ms_ = ms;
}

void ProcessModel::SetTerminationDelayMs(uint32_t ms) {
    std::lock_guard<std::mutex> lk(m_);
    termination_ms_ = ms;
}

void ProcessModel::SetJobErrors(uint32_t create_error, uint32_t assign_error) {
    std::lock_guard<std::mutex> lk(m_);
    job_create_error_ = create_error;
    job_assign_error_ = assign_error;
}

ProcessModel::Child* ProcessModel::Find(uintptr_t handle, const char* call) {
    if (handle == 0 || handle > children_.size()) {
        violations_.Add(std::string(call) + " on a handle that was never a process");
        return nullptr;
    }
    Child* child = children_[handle - 1].get();
    if (!child->record.handle_open) {
        violations_.Add(std::string(call) + " on a closed process handle");
        return nullptr;
    }
    return child;
}

ProcessModel::Job* ProcessModel::FindJob(uintptr_t handle, const char* call) {
    if (handle < kJobHandleBase || handle - kJobHandleBase >= jobs_.size()) {
        violations_.Add(std::string(call) + " on a handle that was never a job");
        return nullptr;
    }
    Job* job = &jobs_[handle - kJobHandleBase];
    if (!job->open) {
        violations_.Add(std::string(call) + " on a closed job handle");
        return nullptr;
    }
    return job;
}

std::u16string ProcessModel::ResolveLocked(const std::u16string& application,
                                           const std::u16string& command_line) {
    auto& files = Notebook::Current().Files();
    if (!application.empty()) {
        // Taken as it is: a partial name is completed with the current
        // directory, and nothing is searched.
        const std::u16string path =
            IsFullPath(application) ? application : Join(current_directory_, application);
        return files.Exists(path) ? path : std::u16string();
    }
    std::u16string name = FirstWord(command_line);
    const size_t slash = name.find_last_of(u"\\/");
    if (name.find(u'.', slash == std::u16string::npos ? 0 : slash) == std::u16string::npos) {
        name += u".exe";
    }
    if (slash != std::u16string::npos) {
        const std::u16string path = IsFullPath(name) ? name : Join(current_directory_, name);
        return files.Exists(path) ? path : std::u16string();
    }
    const std::u16string windows = files.WindowsDirectory();
    std::vector<std::u16string> folders = {FolderOf(own_image_path_), current_directory_,
                                           files.SystemDirectory(), windows + u"\\system", windows};
    folders.insert(folders.end(), search_path_.begin(), search_path_.end());
    for (const auto& folder : folders) {
        const std::u16string path = Join(folder, name);
        if (files.Exists(path)) return path;
    }
    return std::u16string();
}

void ProcessModel::EndLocked(Child& child, uint32_t code, bool terminated,
                             std::vector<std::function<void()>>* after) {
    if (child.record.ended) return;
    child.record.ended = true;
    child.record.terminated = terminated;
    child.record.exit_code = code;
    child.record.ended_at = Notebook::Current().Kernel().Now();
    child.exited.Set();
    if (child.wake != nullptr) child.wake->Set();
    if (child.plan.at_end) after->push_back(child.plan.at_end);
}

void ProcessModel::RunLocked(uintptr_t handle, std::vector<std::function<void()>>* after) {
    Child& child = *children_[handle - 1];
    child.suspended = false;
    child.record.ran = true;
    child.record.in_job_when_it_ran = child.job != 0;
    if (child.plan.runs_ms >= 0) {
        auto& kernel = Notebook::Current().Kernel();
        const uint64_t generation = generation_;
        Child* target = &child;
        kernel.At(kernel.Now() + child.plan.runs_ms, [this, target, generation] {
            std::vector<std::function<void()>> then;
            {
                std::lock_guard<std::mutex> inner(m_);
                if (generation != generation_ || target->ending) return;
                EndLocked(*target, target->plan.exit_code, false, &then);
            }
            for (auto& action : then) action();
        });
    }
    if (child.plan.at_start) after->push_back(child.plan.at_start);
}

uintptr_t ProcessModel::Start(const std::u16string& application, const std::u16string& command_line,
                              bool suspended, uint32_t* error) {
    uint32_t delay = 0;
    std::function<Plan(const std::u16string&)> script;
    {
        std::lock_guard<std::mutex> lk(m_);
        delay = launch_delay_ms_;
        script = script_;
    }
    if (delay != 0) Notebook::Current().Kernel().Sleep(delay);
    Plan plan;
    if (script) plan = script(command_line);
    std::vector<std::function<void()>> after;
    uintptr_t handle = 0;
    {
        std::lock_guard<std::mutex> lk(m_);
        const std::u16string image = ResolveLocked(application, command_line);
        if (image.empty()) {
            *error = kErrFileNotFound;
            return 0;
        }
        if (plan.start_error != 0) {
            *error = plan.start_error;
            return 0;
        }
        auto child = std::make_unique<Child>();
        child->record.application = application;
        child->record.command_line = command_line;
        child->record.image = image;
        child->plan = std::move(plan);
        child->suspended = suspended;
        children_.push_back(std::move(child));
        handle = children_.size();
        if (!suspended) RunLocked(handle, &after);
    }
    for (auto& action : after) action();
    return handle;
}

bool ProcessModel::Resume(uintptr_t handle, uint32_t* error) {
    std::vector<std::function<void()>> after;
    {
        std::lock_guard<std::mutex> lk(m_);
        Child* child = Find(handle, "ResumeThread");
        if (child == nullptr) {
            *error = qx::oscode::kErrorInvalidHandle;
            return false;
        }
        // A thread that is not suspended stays as it is (its count was 0).
        if (child->suspended && !child->ending && !child->record.ended) RunLocked(handle, &after);
    }
    for (auto& action : after) action();
    return true;
}

bool ProcessModel::TerminateLocked(uintptr_t handle, uint32_t exit_code) {
    Child& child = *children_[handle - 1];
    if (child.record.ended) return false;
    if (child.ending) return true;
    child.ending = true;
    auto& kernel = Notebook::Current().Kernel();
    const uint64_t generation = generation_;
    Child* target = &child;
    kernel.At(kernel.Now() + termination_ms_, [this, target, generation, exit_code] {
        std::vector<std::function<void()>> then;
        {
            std::lock_guard<std::mutex> inner(m_);
            if (generation != generation_) return;
            EndLocked(*target, exit_code, true, &then);
        }
        for (auto& action : then) action();
    });
    return true;
}

bool ProcessModel::Terminate(uintptr_t handle, uint32_t exit_code) {
    std::lock_guard<std::mutex> lk(m_);
    if (Find(handle, "TerminateProcess") == nullptr) return false;
    return TerminateLocked(handle, exit_code);
}

bool ProcessModel::Wait(uintptr_t handle, uint32_t ms) {
    Event* exited = nullptr;
    {
        std::lock_guard<std::mutex> lk(m_);
        Child* child = Find(handle, "WaitForSingleObject");
        if (child == nullptr) return false;
        exited = &child->exited;
    }
    return Notebook::Current().Kernel().Wait(*exited, ms);
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

uintptr_t ProcessModel::CreateJob(uint32_t* error) {
    std::lock_guard<std::mutex> lk(m_);
    if (job_create_error_ != 0) {
        *error = job_create_error_;
        return 0;
    }
    jobs_.push_back(Job{});
    return kJobHandleBase + jobs_.size() - 1;
}

bool ProcessModel::SetKillOnClose(uintptr_t job, uint32_t* error) {
    std::lock_guard<std::mutex> lk(m_);
    Job* j = FindJob(job, "SetInformationJobObject");
    if (j == nullptr) {
        *error = qx::oscode::kErrorInvalidHandle;
        return false;
    }
    j->kill_on_close = true;
    return true;
}

bool ProcessModel::AssignToJob(uintptr_t job, uintptr_t process, uint32_t* error) {
    std::lock_guard<std::mutex> lk(m_);
    Job* j = FindJob(job, "AssignProcessToJobObject");
    Child* child = Find(process, "AssignProcessToJobObject");
    if (j == nullptr || child == nullptr) {
        *error = qx::oscode::kErrorInvalidHandle;
        return false;
    }
    if (job_assign_error_ != 0) {
        *error = job_assign_error_;
        return false;
    }
    if (child->record.ended || child->ending) {
        *error = kErrAccessDenied;
        return false;
    }
    child->job = job;
    return true;
}

void ProcessModel::CloseJobLocked(Job& job, uintptr_t handle) {
    job.open = false;
    if (!job.kill_on_close) return;
    for (size_t i = 0; i < children_.size(); ++i) {
        if (children_[i]->job == handle) TerminateLocked(i + 1, 0);
    }
}

void ProcessModel::CloseJob(uintptr_t job) {
    std::lock_guard<std::mutex> lk(m_);
    Job* j = FindJob(job, "CloseHandle");
    if (j != nullptr) CloseJobLocked(*j, job);
}

void ProcessModel::OwnProcessDies() {
    {
        std::lock_guard<std::mutex> lk(m_);
        for (auto& child : children_) {
            child->record.handle_open = false;
            child->wake = nullptr;
        }
        for (size_t i = 0; i < jobs_.size(); ++i) {
            if (jobs_[i].open) CloseJobLocked(jobs_[i], kJobHandleBase + i);
        }
    }
    Notebook::Current().Scm().ServiceProcessEnded();
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
    for (const auto& job : jobs_) n += job.open ? 1 : 0;
    return n;
}

std::vector<std::string> ProcessModel::Violations() {
    std::lock_guard<std::mutex> lk(m_);
    return violations_.List();
}

}  // namespace qxsim
