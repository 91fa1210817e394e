// The virtual notebook's child processes: what CreateProcessW starts. A child
// is a stand-in the test scripts (how long it runs, its exit code, what it
// does when it starts), not a real program; its handle is signalled when it
// ends, on the virtual clock.
//
// Strict like Windows: a handle that is used or closed after it was closed is
// a violation, reported on standard error and counted.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/vkernel.h"

namespace qxsim {

constexpr uint32_t kStillActive = 259;  // STILL_ACTIVE, the exit code of a running process
// Where the simulated process's own program file lies, unless a test says otherwise.
constexpr char16_t kDefaultImagePath[] = u"C:\\Program Files\\Halvorn\\QXservice.exe";

class ProcessModel {
  public:
    friend class Notebook;  // builds the one instance

    // No children, no script, no violations.
    void Reset();

    // What a child does, decided when it starts from its command line.
    struct Plan {
        uint32_t start_error = 0;        // non-zero: CreateProcessW fails with this code
        int64_t runs_ms = -1;            // ends by itself after this long; -1 runs until terminated
        uint32_t exit_code = 0;          // the code it ends with by itself
        std::function<void()> at_start;  // runs as the child starts (e.g. what it changes)
    };
    // Decides every later child's plan; unset, a child runs until terminated.
    void SetScript(std::function<Plan(const std::u16string& command_line)> script);
    // CreateProcessW takes this long (the caller sleeps it) before it returns.
    void SetLaunchDelayMs(uint32_t ms);

    // The program file of the simulated process itself (GetModuleFileNameW).
    void SetOwnImagePath(const std::u16string& path);
    std::u16string OwnImagePath();

    // CreateProcessW: a handle (non-zero) or 0 with the error in *error.
    uintptr_t Start(const std::u16string& command_line, uint32_t* error);
    // TerminateProcess: false once the process has ended (access denied on Windows).
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

    struct Record {
        std::u16string command_line;
        bool ended = false;
        bool terminated = false;  // ended by TerminateProcess
        uint32_t exit_code = kStillActive;
        bool handle_open = true;
    };
    // Every child started since Reset, in order.
    std::vector<Record> Children();
    int RunningChildren();
    int OpenHandles();
    std::vector<std::string> Violations();

  private:
    struct Child {
        Record record;
        Event exited{true, false};
        Event* wake = nullptr;
    };
    Child* Find(uintptr_t handle, const char* call);
    void End(Child& child, uint32_t code, bool terminated);
    void Violation(std::string what);

    std::mutex m_;
    uint64_t generation_ = 0;
    std::function<Plan(const std::u16string&)> script_;
    uint32_t launch_delay_ms_ = 0;
    std::u16string own_image_path_ = kDefaultImagePath;
    std::vector<std::unique_ptr<Child>> children_;  // index + 1 is the handle
    std::vector<std::unique_ptr<Child>> retired_;   // children of earlier runs
    std::vector<std::string> violations_;
};

}  // namespace qxsim
