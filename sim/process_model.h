// The virtual notebook's processes: the children CreateProcessW starts, the
// job objects they run in, and the simulated process itself, which can die.
// A child is a stand-in the test scripts (how long it runs, its exit code,
// what it does when it starts and ends), not a real program; its handle is
// signalled when it ends, on the virtual clock.
//
// As Windows does it:
//  - the program file comes from the file model (sim/file_model.h): a full
//    application name is used as it is, a bare name on the command line is
//    searched for in this program's folder, the current directory, the
//    system folders and PATH, in that order, the first match runs, and no
//    match fails with ERROR_FILE_NOT_FOUND;
//  - a child created suspended runs nothing until it is resumed;
//  - TerminateProcess only starts the end: the process is gone (and its
//    handle signalled) a moment later, so whoever needs it gone must wait;
//  - a job that kills on close ends every process in it when its last handle
//    closes, and the handles of a process that dies are closed by the system.
// Strict like Windows: a handle that is used or closed after it was closed is
// a violation, reported on standard error and counted.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/os_codes.h"
#include "sim/vkernel.h"
#include "sim/violation_log.h"

namespace qxsim {

using qx::oscode::kStillActive;  // the exit code of a running process
// Where the simulated process's own program file lies, unless a test says otherwise.
constexpr char16_t kDefaultImagePath[] = u"C:\\Program Files\\Halvorn\\QXservice.exe";
// A service's current directory on Windows.
constexpr char16_t kDefaultCurrentDirectory[] = u"C:\\windows\\system32";
// How long a terminated process takes to be gone, unless a test says otherwise.
constexpr uint32_t kDefaultTerminationMs = 10;

class ProcessModel {
  public:
    friend class Notebook;  // builds the one instance

    // No children, no jobs, no script, no violations, the knobs as built.
    void Reset();

    // What a child does, decided when it is created from its command line.
    struct Plan {
        uint32_t start_error = 0;        // non-zero: CreateProcessW fails with this code
        int64_t runs_ms = -1;            // ends by itself after this long; -1 runs until ended
        uint32_t exit_code = 0;          // the code it ends with by itself
        std::function<void()> at_start;  // runs as the child starts running (e.g. what it opens)
        // Runs as the child ends, however it ends (what the system closes for
        // it); from the scheduler, so it must not block or call this model.
        std::function<void()> at_end;
    };
    // Decides every later child's plan; unset, a child runs until ended.
    void SetScript(std::function<Plan(const std::u16string& command_line)> script);
    // CreateProcessW takes this long (the caller sleeps it) before it returns.
    void SetLaunchDelayMs(uint32_t ms);
    void SetTerminationDelayMs(uint32_t ms);

    // The program file of the simulated process itself (GetModuleFileNameW).
    void SetOwnImagePath(const std::u16string& path);
    std::u16string OwnImagePath();
    // Where a bare program name is searched for after this program's folder.
    void SetCurrentDirectory(const std::u16string& path);
    void SetSearchPath(const std::vector<std::u16string>& folders);
    // Non-zero: CreateJobObjectW, or AssignProcessToJobObject, fails with it.
    void SetJobErrors(uint32_t create_error, uint32_t assign_error);

    // CreateProcessW with the application name (empty: the command line's
    // first word is searched for), suspended or not: a handle (non-zero) or
    // 0 with the error in *error.
    uintptr_t Start(const std::u16string& application, const std::u16string& command_line,
                    bool suspended, uint32_t* error);
    // ResumeThread on the child's first thread: a suspended child starts running.
    bool Resume(uintptr_t handle, uint32_t* error);
    // TerminateProcess: false once the process has ended (access denied on
    // Windows); the end comes after the termination delay.
    bool Terminate(uintptr_t handle, uint32_t exit_code);
    // WaitForSingleObject on the process: true when it ended within ms.
    bool Wait(uintptr_t handle, uint32_t ms);
    // GetExitCodeProcess: kStillActive while it runs.
    bool ExitCode(uintptr_t handle, uint32_t* code);
    bool HasEnded(uintptr_t handle);
    // CloseHandle of the process and thread handles.
    void Close(uintptr_t handle);
    // Sets `wake` whenever the child ends (WaitForMultipleObjects); null to stop.
    void Watch(uintptr_t handle, Event* wake);

    // CreateJobObjectW (unnamed), SetInformationJobObject with
    // JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE, AssignProcessToJobObject and
    // CloseHandle of the job.
    uintptr_t CreateJob(uint32_t* error);
    bool SetKillOnClose(uintptr_t job, uint32_t* error);
    bool AssignToJob(uintptr_t job, uintptr_t process, uint32_t* error);
    void CloseJob(uintptr_t job);

    // The simulated process is killed (Task Manager, a crash): the system
    // closes every handle it held, so its kill-on-close jobs end their
    // processes, and the service manager learns that the service process is
    // gone. Its threads never run again: nothing wakes them.
    void OwnProcessDies();

    struct Record {
        std::u16string application;   // as given to CreateProcessW
        std::u16string command_line;  // as given
        std::u16string image;         // the program file that ran
        bool ran = false;             // it started running (created, or resumed)
        bool in_job_when_it_ran = false;
        bool ended = false;
        bool terminated = false;  // ended by TerminateProcess or its job
        uint32_t exit_code = kStillActive;
        VTime ended_at = -1;
        bool handle_open = true;
    };
    // Every child started since Reset, in order.
    std::vector<Record> Children();
    int RunningChildren();
    // Open process and job handles.
    int OpenHandles();
    std::vector<std::string> Violations();

  private:
    struct Child {
        Record record;
        Plan plan;
        bool suspended = false;
        bool ending = false;  // terminated, gone after the delay
        uintptr_t job = 0;
        Event exited{true, false};
        Event* wake = nullptr;
    };
    struct Job {
        bool open = true;
        bool kill_on_close = false;
    };
    Child* Find(uintptr_t handle, const char* call);
    Job* FindJob(uintptr_t handle, const char* call);
    // CreateProcessW's choice of program file; empty when there is none.
    std::u16string ResolveLocked(const std::u16string& application,
                                 const std::u16string& command_line);
    void RunLocked(uintptr_t handle, std::vector<std::function<void()>>* after);
    void EndLocked(Child& child, uint32_t code, bool terminated,
                   std::vector<std::function<void()>>* after);
    // Ends the child after the termination delay; false when it already ended.
    bool TerminateLocked(uintptr_t handle, uint32_t exit_code);
    void CloseJobLocked(Job& job, uintptr_t handle);

    std::mutex m_;
    uint64_t generation_ = 0;
    std::function<Plan(const std::u16string&)> script_;
    uint32_t launch_delay_ms_ = 0;
    uint32_t termination_ms_ = kDefaultTerminationMs;
    std::u16string own_image_path_ = kDefaultImagePath;
    std::u16string current_directory_ = kDefaultCurrentDirectory;
    std::vector<std::u16string> search_path_;
    uint32_t job_create_error_ = 0;
    uint32_t job_assign_error_ = 0;
    std::vector<std::unique_ptr<Child>> children_;  // index + 1 is the handle
    std::vector<std::unique_ptr<Child>> retired_;   // children of earlier runs
    std::vector<Job> jobs_;                         // index + kJobHandleBase is the handle
    ViolationLog violations_{"process model"};
    static constexpr uintptr_t kJobHandleBase = 0x4000;
};

}  // namespace qxsim
